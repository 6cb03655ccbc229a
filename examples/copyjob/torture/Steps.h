// The steps of the copy protocol at which the torture run kills the job or
// its manager, in the order one block goes through them. The fault layer
// (FaultLayer.cpp) recognises each from the file operations of the job and
// the manager, so their code holds no hook.
#ifndef EXAMPLES_COPYJOB_TORTURE_STEPS_H_
#define EXAMPLES_COPYJOB_TORTURE_STEPS_H_

#include <cstring>

namespace copyjob {

enum class Step {
  kJobStarted,        // the job has said where it resumes, before the first block
  kBlockHalfWritten,  // half of a block is written
  kBlockWritten,      // a block is written, before it is synced
  kBlockSynced,       // a block is synced, before its state is sent
  kStateSent,         // the state is sent, before the answer is read
  kSaveStarted,       // the manager has the state, before it opens the temporary file
  kTempHalfWritten,   // half of the temporary file is written
  kTempWritten,       // the temporary file is written, before it is synced
  kTempSynced,        // it is synced, before the rename
  kRenamed,           // renamed over the state file, before the folder is synced
  kFolderSynced,      // the save is complete, before the answer is sent
  kAckRead,           // the job has its answer, before the next block
};
constexpr int kStepCount = 12;

constexpr const char* kStepNames[kStepCount] = {
    "job-started",       "block-half-written", "block-written", "block-synced", "state-sent",    "save-started",
    "temp-half-written", "temp-written",       "temp-synced",   "renamed",      "folder-synced", "ack-read",
};

inline const char* StepName(Step step) { return kStepNames[static_cast<int>(step)]; }

// Sets *step from the name at [name, name + length); false when there is none.
inline bool StepByName(const char* name, size_t length, Step* step) {
  for (int i = 0; i < kStepCount; ++i) {
    if (std::strlen(kStepNames[i]) == length && std::strncmp(name, kStepNames[i], length) == 0) {
      *step = static_cast<Step>(i);
      return true;
    }
  }
  return false;
}

// Whether the job reaches `step` (the others are the manager's).
inline bool IsJobStep(Step step) { return step < Step::kSaveStarted || step == Step::kAckRead; }

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_TORTURE_STEPS_H_
