// Where a log's lines come from: a file or standard input, decoded as it
// comes (Decoders.h), handed out in blocks of whole lines for the reading
// engine. Memory is bounded by the block size and the longest line, never
// by the size of the log.
#ifndef TOOLS_JXRESTART_LOG_SOURCE_H_
#define TOOLS_JXRESTART_LOG_SOURCE_H_

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/jxrestart/log/Decoders.h"

namespace jxrestart {
namespace tool {

// Bytes read from a log, in a buffer that grows without being cleared:
// each byte is read into before it is looked at.
class Bytes {
 public:
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_.get(), size_}; }
  // Room for `wanted` bytes, the ones held kept.
  void Reserve(size_t wanted);
  // To at most capacity().
  void Resize(size_t size) { size_ = size; }
  // Drops the first `count`.
  void Erase(size_t count);
  void Assign(const char* bytes, size_t count);
  void Swap(Bytes* other);

 private:
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> data_;
  size_t size_ = 0, capacity_ = 0;
};

// Whole lines of a log, each ended by '\n' but the last line of the data.
struct Block {
  std::string_view text;
  size_t end = 0;  // where `text` ends in the data, from its start
  Bytes owned;     // the bytes `text` views
};

// Threading: one thread at a time.
class LogSource {
 public:
  static constexpr size_t kBlock = 1 << 20;

  // Reads `fd`, which it does not close.
  explicit LogSource(int fd);
  LogSource(const LogSource&) = delete;
  LogSource& operator=(const LogSource&) = delete;

  // Whether the data has a NUL byte in its first 32 KiB, as binary files do.
  bool LooksBinary();
  // The next block; false at the end of the data or at an error.
  bool Next(Block* block);
  // How much of the data read is still the file's: less than what was read
  // once a file is cut short while it is read (a live log rotated by
  // copying and truncating it).
  size_t ValidUpTo() const;
  // How many NUL bytes the data began with, skipped.
  size_t leadingNuls() const { return nuls_; }
  // Why the reading stopped early, or "".
  const std::string& error() const;

 private:
  void Open();
  void Fill(size_t wanted);
  void SkipHead(size_t hole);

  int fd_;
  bool regular_ = false;  // a regular file, read from `start_`
  bool plain_ = false;    // one whose bytes are the data's
  off_t start_ = 0;
  size_t at_ = 0, nuls_ = 0;
  std::unique_ptr<Decoder> decoder_;
  Bytes pending_;  // read, not yet handed out
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
