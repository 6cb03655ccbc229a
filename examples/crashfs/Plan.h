// What a run plans to happen at the file system's operations, so that a
// harness can put a program through a full disk, a failing fsync or a
// kill at exactly the step it means, known from what the file system sees
// rather than from the program's own words:
//
//   fail OP:NAME N ERRNO   the N-th such operation from now fails with
//                          ERRNO (ENOSPC, EIO, ...) and is not made;
//   kill OP:NAME N [half]  the process that makes the N-th one is killed
//                          once it is made (with "half", a write once half
//                          of its bytes are);
//   count OP:NAME          such operations are counted, and the bytes of
//                          the writes among them.
//
// OP is write, truncate, fsync, fsyncdir, create, rename, link or unlink;
// NAME a shell pattern (*, ?, [...]) of a file's name without its folder
// (for a rename, either name; "/" for the root). Threading: one thread at
// a time, as the file system.
#ifndef EXAMPLES_CRASHFS_PLAN_H_
#define EXAMPLES_CRASHFS_PLAN_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace crashfs {

class Plan {
 public:
  // Adds one planned event; false, with *error set, for anything else.
  bool Add(const std::string& command, std::string* error);

  // Before an operation on `name` (or on either of two names): the errno
  // it is to fail with, or 0.
  int Before(const char* op, const std::string& name, const std::string& other = std::string());
  // Once it is made, with the bytes it wrote: whether its process is to be
  // killed now. Asked with `half` before a write is made, for the kills
  // planned at its half.
  bool After(const char* op, const std::string& name, const std::string& other = std::string(), bool half = false,
             uint64_t bytes = 0);
  void Clear() { events_.clear(); }

  // One line a planned event: "kill fsync:state.tmp 2: fired",
  // "...: not fired (1 seen)", or "count write:*.vol: 3 seen, 12288 bytes".
  std::string Report() const;

 private:
  struct Event {
    enum Kind { kFail, kKill, kCount } kind;
    std::string op, name;
    size_t nth;
    int error;  // fail: the errno
    bool half;  // kill: at a write's half
    size_t seen = 0;
    uint64_t bytes = 0;  // count: of the writes seen
    bool fired = false;
  };
  static bool Matches(const Event& e, const char* op, const std::string& name, const std::string& other);

  std::vector<Event> events_;
};

}  // namespace crashfs

#endif  // EXAMPLES_CRASHFS_PLAN_H_
