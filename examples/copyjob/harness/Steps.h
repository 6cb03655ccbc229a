// The steps of the copy protocol at which the torture run kills the job or
// its manager, in the order one block goes through them, and where each is
// seen: most by jx-crashfs, as the file operation that makes it (a planned
// kill of the process that makes it), the others by the relay between the
// manager and the job (Relay.cpp), as the protocol line it passes on. So
// neither the job's nor the manager's code holds a hook, and a step is
// known from what was done, not from what was said about it.
#ifndef EXAMPLES_COPYJOB_HARNESS_STEPS_H_
#define EXAMPLES_COPYJOB_HARNESS_STEPS_H_

#include <cstring>
#include <string>

namespace copyjob {

enum class Step {
  kJobStarted,        // the job has said where it resumes, before the first block
  kBlockHalfWritten,  // half of a block is written
  kBlockWritten,      // a block is written, before it is synced
  kBlockSynced,       // a block is synced, before its state is sent
  kStateSent,         // the state is sent, before the answer is read
  kSaveStarted,       // the manager has created its file for the state
  kTempHalfWritten,   // half of the state's file is written
  kTempWritten,       // the state's file is written, before it is synced
  kTempSynced,        // it is synced, before the rename
  kRenamed,           // renamed over the state file, before the folder is synced
  kFolderSynced,      // the save is complete, before the answer is sent
  kAckRead,           // the job has its answer, before the next block
};
constexpr int kStepCount = 12;

struct StepInfo {
  const char* name;
  // The jx-crashfs event ("OP:NAME", the state file and its siblings being
  // state*, the destinations *.vol, the state's folder the mount's root),
  // or null for a step the relay sees.
  const char* event;
  bool half;  // at the half of the write
  bool job;   // the job makes it (the others are the manager's)
};

constexpr StepInfo kSteps[kStepCount] = {
    {"job-started", nullptr, false, true},
    {"block-half-written", "write:*.vol", true, true},
    {"block-written", "write:*.vol", false, true},
    {"block-synced", "fsync:*.vol", false, true},
    {"state-sent", nullptr, false, true},
    {"save-started", "create:state*", false, false},
    {"temp-half-written", "write:state*", true, false},
    {"temp-written", "write:state*", false, false},
    {"temp-synced", "fsync:state*", false, false},
    {"renamed", "rename:state*", false, false},
    {"folder-synced", "fsyncdir:/", false, false},
    {"ack-read", nullptr, false, true},
};

inline const StepInfo& InfoOf(Step step) { return kSteps[static_cast<int>(step)]; }
inline const char* StepName(Step step) { return InfoOf(step).name; }

// Sets *step from `name`; false when there is none.
inline bool StepByName(const std::string& name, Step* step) {
  for (int i = 0; i < kStepCount; ++i) {
    if (name == kSteps[i].name) {
      *step = static_cast<Step>(i);
      return true;
    }
  }
  return false;
}

// The jx-crashfs plan line that kills at the at-th time `step` is made.
inline std::string KillEvent(Step step, long at) {
  const StepInfo& info = InfoOf(step);
  return std::string("kill ") + info.event + " " + std::to_string(at) + (info.half ? " half" : "");
}

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_HARNESS_STEPS_H_
