// Where a log's lines come from: a file or standard input, decoded as it
// comes (Decoders.h), handed out in blocks of whole lines for the reading
// engine. A plain regular file is mapped into memory and its blocks are
// views of it; any other data is read through a buffer. Memory is bounded
// by the block size and the longest line, never by the size of the log.
#ifndef TOOLS_JXRESTART_LOG_SOURCE_H_
#define TOOLS_JXRESTART_LOG_SOURCE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/jxrestart/log/Decoders.h"

namespace jxrestart {
namespace tool {

// Whole lines of a log, each ended by '\n' but the last line of the data.
struct Block {
  std::string_view text;
  size_t end = 0;     // where `text` ends in the data, from its start
  std::string owned;  // the bytes `text` views, when they are not mapped
};

// Threading: one thread at a time.
class LogSource {
 public:
  static constexpr size_t kBlock = 1 << 21;

  // Reads `fd`, which it does not close.
  explicit LogSource(int fd);
  ~LogSource();
  LogSource(const LogSource&) = delete;
  LogSource& operator=(const LogSource&) = delete;

  // Whether the data has a NUL byte in its first 32 KiB, as binary files do.
  bool LooksBinary();
  // The size of the block Next() gives next, as far as it is known ahead.
  size_t NextSize();
  // The next block; false at the end of the data or at an error.
  bool Next(Block* block);
  // How much of the data read is still the file's: less than what was read
  // once a mapped file is cut short (a live log rotated by copying and
  // truncating it), whose pages past the cut read as zeros.
  size_t ValidUpTo() const;
  // Lets go of the data before `end`.
  void Release(size_t end);
  // How many NUL bytes the data began with, skipped.
  size_t leadingNuls() const { return nuls_; }
  // Why the reading stopped early, or "".
  const std::string& error() const;

 private:
  void Fill(size_t wanted);
  void SkipHead();
  size_t MappedEnd();

  int fd_;
  const char* mapped_ = nullptr;  // the file, when it is mapped
  size_t size_ = 0, at_ = 0, released_ = 0, nextEnd_ = 0, nuls_ = 0;
  std::unique_ptr<Decoder> decoder_;  // otherwise
  std::string pending_;               // read, not yet handed out
  bool ended_ = false;
  std::string error_;
};

// Puts rotated logs given together (job.log, job.log.1, job.log.2.gz,
// job.log-20261207.gz) in the order they were written, oldest first; other
// names keep their order. Returns what is missing in a numbering given.
std::vector<std::string> OrderRotated(std::vector<std::string>* names);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_SOURCE_H_
