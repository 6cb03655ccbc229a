// Test-only settings that the torture run gives the copy job and its
// manager through the environment, so that a crash can be made to land on
// each step of the protocol. Unset, they cost one look at a static.
//
//   JX_COPY_KILL_AT=<step>:<n>   SIGKILL at the n-th time <step> is reached:
//                                the job kills itself; the manager kills
//                                its process group, the job with it, as a
//                                crash of the machine would
//   JX_COPY_FAIL_SAVE=<n>        the n-th save fails as a full disk does
//   JX_COPY_WRITE_LOG=<path>     the job appends "<volume> <offset> <bytes>"
//                                there before it writes each block
//
// Threading: one thread per process.
#ifndef EXAMPLES_COPYJOB_KILLPOINT_H_
#define EXAMPLES_COPYJOB_KILLPOINT_H_

#include <cstdint>
#include <string>

namespace copyjob {

// The steps, in the order one block goes through them.
enum class Step {
  kJobStarted,        // the job has read its restart state, before the first block
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

const char* StepName(Step step);
// Sets *step from its name; false when there is no such step.
bool StepByName(const std::string& name, Step* step);
// Whether the job reaches `step` (the others are the manager's).
bool IsJobStep(Step step);

// Call at each step: SIGKILLs as JX_COPY_KILL_AT says.
void Reach(Step step);

// Whether this save is the one that JX_COPY_FAIL_SAVE makes fail.
bool SaveFails();

// Appends "<volume> <offset> <bytes>" to JX_COPY_WRITE_LOG, if set.
void LogWrite(int32_t volume, uint64_t offset, uint64_t bytes);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_KILLPOINT_H_
