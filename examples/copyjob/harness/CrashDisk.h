// The disk of a torture round: a jx-crashfs mount (examples/crashfs) over
// a backing folder, so that the job and its manager write through a file
// system that forgets what they did not sync, whatever way they write.
// A power loss is `jx-crashfs lose`; the object unmounts when it goes, so
// an interrupted run leaves nothing mounted.
//
// Threading: one thread.
#ifndef EXAMPLES_COPYJOB_HARNESS_CRASHDISK_H_
#define EXAMPLES_COPYJOB_HARNESS_CRASHDISK_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace copyjob {

// What a power loss took, as jx-crashfs reports it.
struct PowerLossReport {
  long filesRolledBack = 0;  // files that lost some of their unsynced data
  long namesUndone = 0;      // creations, renames and removals undone

  bool LostWork() const { return filesRolledBack + namesUndone > 0; }
};

class CrashDisk {
 public:
  // jx-crashfs is `program`; nothing is mounted until Mount().
  explicit CrashDisk(std::string program) : program_(std::move(program)) {}
  ~CrashDisk() { Unmount(); }
  CrashDisk(const CrashDisk&) = delete;
  CrashDisk& operator=(const CrashDisk&) = delete;

  // Mounts `backing`, which exists, at `mountpoint`, which is made; false,
  // with *error set to what jx-crashfs said, when it cannot.
  bool Mount(const std::string& backing, const std::string& mountpoint, std::string* error);
  // Makes everything pending durable, as sync(2) would.
  bool Sync();
  // Adds planned events ("kill write:*.vol 3", "clear"; see jx-crashfs
  // --help); *report: each planned event and whether it fired.
  bool Plan(const std::vector<std::string>& events, std::string* report);
  // The power loss, decided by `seed`; false when jx-crashfs refused it.
  bool Lose(uint64_t seed, PowerLossReport* report);
  void Unmount();

  const std::string& mountpoint() const { return mountpoint_; }

 private:
  // Runs jx-crashfs with `args`; its standard output in *out.
  bool Run(const std::vector<std::string>& args, std::string* out) const;

  std::string program_, mountpoint_;
};

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_HARNESS_CRASHDISK_H_
