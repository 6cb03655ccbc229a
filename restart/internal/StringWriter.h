// Appends pieces of bounded length to a string through a raw pointer: room
// is made in large steps, and each piece is written in place, without a
// capacity check per character. `make bench` renders the job restart string
// of 1,000 names 1.5 to 1.7 times as fast as std::string::append ("names
// appended").
#ifndef RESTART_INTERNAL_STRINGWRITER_H_
#define RESTART_INTERNAL_STRINGWRITER_H_

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace jxrestart {
namespace internal {

class StringWriter {
 public:
  // Writes after the current content of `out`; call Finish to trim it.
  explicit StringWriter(std::string* out) : out_(out), used_(out->size()) {}

  // Returns where up to `length` characters may be written.
  char* Room(size_t length) {
    if (out_->size() - used_ < length) out_->resize(std::max(out_->size() * 2, used_ + length));
    return &(*out_)[used_];
  }

  // Keeps what was written at Room's pointer, up to `end`.
  void Commit(const char* end) { used_ = static_cast<size_t>(end - out_->data()); }

  void Append(const char* data, size_t length) {
    char* at = Room(length);
    std::memcpy(at, data, length);
    Commit(at + length);
  }

  // Cuts the string back to what was written.
  void Finish() { out_->resize(used_); }

 private:
  std::string* out_;
  size_t used_;
};

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_STRINGWRITER_H_
