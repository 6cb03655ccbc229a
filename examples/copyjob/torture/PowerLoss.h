// A power loss, simulated from the fault layer's journal (Journal.h): the
// files that the job and its manager changed are left as a disk could
// leave them when the power goes. Run it once both processes are dead.
//
// For each file, what was written after its last fsync or fdatasync is
// lost in whole or in part, in blocks of 512 bytes: all of it, a prefix of
// it in the order it was written, a random subset, or none. In each
// folder, the creations, renames and removals not yet made durable by an
// fsync of the folder are undone from the last back to a random point: a
// prefix of them survives, in their order. What is written with a sync
// after it, and every name change before the folder's last sync, stays.
//
// Threading: one thread.
#ifndef EXAMPLES_COPYJOB_TORTURE_POWERLOSS_H_
#define EXAMPLES_COPYJOB_TORTURE_POWERLOSS_H_

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "examples/copyjob/torture/Journal.h"

namespace copyjob {

struct PowerLossReport {
  long filesRolledBack = 0;  // files that lost written bytes
  uint64_t bytesLost = 0;
  long namesUndone = 0;  // creations, renames and removals undone
};

// Applies the loss to the files of `records`, choosing with `random`.
PowerLossReport LosePower(const std::vector<journal::Record>& records, std::mt19937_64& random);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_TORTURE_POWERLOSS_H_
