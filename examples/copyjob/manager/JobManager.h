// A small job manager for the example copy job: starts the job process,
// keeps the restart state that the job hands it in one state file, and
// restarts the job from that file.
//
// Threading: one thread; the manager runs one job process at a time.
#ifndef EXAMPLES_COPYJOB_MANAGER_JOBMANAGER_H_
#define EXAMPLES_COPYJOB_MANAGER_JOBMANAGER_H_

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "examples/copyjob/Protocol.h"

namespace copyjob {

// The job's two restart strings, always saved and loaded together.
struct SavedState {
  std::string jobString;     // "-Restart 1|3@2|3@"
  std::string volumeString;  // "0|1|1001|3145728$0|2|1002|3145728$"

  // The state file's content: one line each.
  std::string Text() const { return jobString + '\n' + volumeString + '\n'; }
};

// Writes `state` to `path` so that a crash, or a loss of power, leaves
// either the old file or the new one: a temporary file beside it, fsync,
// rename over the old, fsync the folder. Returns false, with errno set,
// when a step fails: the old file intact, or, when the folder's sync is
// what failed, the new one in its place, not known to be durable (either
// is a state the job may restart from).
bool SaveState(const std::string& path, const SavedState& state);
// Reads the state file; false when it is missing or not two lines.
bool LoadState(const std::string& path, SavedState* state);
// How a manager saves a state to a path; SaveState unless told otherwise.
using Saver = std::function<bool(const std::string& path, const SavedState& state)>;
// The temporary file that SaveState writes before it renames it.
std::string TemporaryOf(const std::string& path);

class JobManager {
 public:
  enum class Event {
    kResume,      // the job says where it resumes: resumed()
    kState,       // the state is saved: Acknowledge() it
    kSaveFailed,  // the state could not be saved: saveError(); the job is told to stop
    kDone,        // the job finished: written()
    kGone,        // the job ended without a word
  };

  JobManager(std::string jobProgram, std::string manifest, std::string stateFile, uint64_t block);
  ~JobManager();
  JobManager(const JobManager&) = delete;
  JobManager& operator=(const JobManager&) = delete;

  // Starts the job: fresh, or from the state file. A temporary file that a
  // save killed half-way left behind is removed first (cleanedTemporary()).
  bool Start(bool restart);

  // Waits for the job's next line. An interrupted wait ends as kGone.
  Event Next();
  // The file where the job's library lines go (its ZN_DEBUG_LOG); none by
  // default.
  void SetJobLog(std::string path) { jobLog_ = std::move(path); }
  // Called with each state just before it is saved.
  void OnSave(std::function<void(const SavedState&)> hook) { onSave_ = std::move(hook); }
  void SetSaver(Saver saver) { save_ = std::move(saver); }
  void Acknowledge();

  // SIGKILL, the way a machine or an operator ends a job.
  void Kill();
  // Waits for the job to end; returns its exit status, or -1 if killed.
  int Wait();

  pid_t pid() const { return pid_; }
  const SavedState& state() const { return state_; }
  const std::string& resumed() const { return resumed_; }
  const std::string& saveError() const { return saveError_; }
  bool cleanedTemporary() const { return cleanedTemporary_; }
  uint64_t written() const { return written_; }

 private:
  void Answer(const std::string& line);

  std::string program_, manifest_, stateFile_, jobLog_;
  uint64_t block_;
  pid_t pid_ = -1;
  std::FILE* fromJob_ = nullptr;
  std::FILE* toJob_ = nullptr;
  SavedState state_;
  std::string resumed_;
  std::string saveError_;
  std::function<void(const SavedState&)> onSave_;
  Saver save_ = SaveState;
  bool cleanedTemporary_ = false;
  uint64_t written_ = 0;
};

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_MANAGER_JOBMANAGER_H_
