// A small job manager for the example copy job: starts the job process,
// keeps the restart state that the job hands it in one state file, and
// restarts the job from that file.
//
// Threading: one thread; the manager runs one job process at a time.
#ifndef EXAMPLES_COPYJOB_JOBMANAGER_H_
#define EXAMPLES_COPYJOB_JOBMANAGER_H_

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace copyjob {

// The job's two restart strings, always saved and loaded together.
struct SavedState {
  std::string jobString;     // "-Restart 1|3@2|3@"
  std::string volumeString;  // "0|1|1001|3145728$0|2|1002|3145728$"
};

// Writes `state` to `path` so that a crash leaves either the old file or
// the new one: a temporary file, fsync, rename over the old, fsync the folder.
bool SaveState(const std::string& path, const SavedState& state);
bool LoadState(const std::string& path, SavedState* state);

class JobManager {
 public:
  enum class Event { kState, kDone, kGone };

  JobManager(std::string jobProgram, std::string manifest, std::string stateFile, uint64_t block);
  ~JobManager();
  JobManager(const JobManager&) = delete;
  JobManager& operator=(const JobManager&) = delete;

  // Starts the job: fresh, or from the state file.
  bool Start(bool restart);

  // Waits for the job's next line. kState: the state is saved (and must be
  // acknowledged with Acknowledge); kDone: the job finished, see written();
  // kGone: the job ended without a word.
  Event Next();
  void Acknowledge();

  // SIGKILL, the way a machine or an operator ends a job.
  void Kill();
  // Waits for the job to end; returns its exit status, or -1 if killed.
  int Wait();

  const SavedState& state() const { return state_; }
  uint64_t written() const { return written_; }

 private:
  std::string program_, manifest_, stateFile_;
  uint64_t block_;
  pid_t pid_ = -1;
  std::FILE* fromJob_ = nullptr;
  std::FILE* toJob_ = nullptr;
  SavedState state_;
  uint64_t written_ = 0;
};

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_JOBMANAGER_H_
