// The lines of a log file as they come: read in large blocks, gzip
// streams inflated on the way (recognised by their first bytes, whatever
// the file's name), memory bounded by the longest line.
#ifndef TOOLS_JXRESTART_LOGINPUT_H_
#define TOOLS_JXRESTART_LOGINPUT_H_

#include <zlib.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jxrestart {
namespace tool {

class LineReader {
 public:
  // Reads `fd`, which it does not close.
  explicit LineReader(int fd);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Sets *line to the next line, without its '\n'. Returns false at the
  // end of the data, or at an error (error() says which); the lines before
  // an error are all given.
  bool Next(std::string_view* line);

  // Whether the data has a NUL byte in its first 32 KiB, as binary files do.
  bool LooksBinary();
  bool compressed() const { return compressed_; }
  // Whether no line has been given out yet, and what was read is all in
  // the buffer: the file may then be read otherwise from its start.
  bool AtStart() const { return begin_ == 0 && !compressed_; }
  // Why the reading stopped early, or "".
  const std::string& error() const { return error_; }

 private:
  bool Fill();
  bool Inflate();

  int fd_;
  char* data_ = nullptr;  // [begin_, end_) not yet given out
  size_t capacity_ = 0, begin_ = 0, end_ = 0, scanned_ = 0;
  bool eof_ = false, started_ = false, compressed_ = false;
  z_stream zip_{};
  std::vector<char> raw_;  // compressed bytes not yet inflated
  bool zipEnded_ = false;
  std::string error_;
};

// A regular file mapped into memory, read only. The pages past the end of
// a file cut short while it is mapped (a live log rotated by copying and
// truncating it) read as zeros instead of raising SIGBUS; ValidUpTo()
// tells how far the bytes mapped are still the file's.
class MappedFile {
 public:
  // Maps the first `size` bytes of `fd`, which it does not close.
  MappedFile(int fd, size_t size);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool mapped() const { return data_ != nullptr; }
  std::string_view text() const { return std::string_view(data_, size_); }
  size_t ValidUpTo() const;
  // Lets go of the pages before `offset`.
  void Release(size_t offset);

 private:
  int fd_;
  const char* data_ = nullptr;
  size_t size_;
  size_t released_ = 0;
};

// Puts rotated logs given together (job.log, job.log.1, job.log.2.gz) in
// the order they were written, oldest first; other names keep their
// order.
void OrderRotated(std::vector<std::string>* names);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOGINPUT_H_
