// The lines of a log as they were written, whatever compression a rotated
// file was given, or whatever form a journal export holds them in: each
// decoder is recognised by the first bytes of the data, never by the
// file's name. Adding a compression is adding a decoder to the list in
// Decoders.cpp.
#ifndef TOOLS_JXRESTART_LOG_DECODERS_H_
#define TOOLS_JXRESTART_LOG_DECODERS_H_

#include <sys/types.h>

#include <memory>
#include <string>

namespace jxrestart {
namespace tool {

// A stream of bytes. Threading: one thread at a time.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Reads at most `size` bytes into `out`: how many, 0 at the end of the
  // data, -1 on an error that error() then names.
  virtual ssize_t Read(char* out, size_t size) = 0;
  const std::string& error() const { return error_; }

 protected:
  std::string error_;
};

// The decoded data of a file whose first bytes `head` have been read from
// `fd` already (which it does not close).
std::unique_ptr<Decoder> OpenDecoder(int fd, std::string head);

// Whether data that begins with `head` is read through a decoder.
bool IsEncoded(const std::string& head);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_DECODERS_H_
