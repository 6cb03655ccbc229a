// The torture run of the example copy job: many rounds, each of which
// copies a few small volumes through one or more kills, power losses and
// failed saves, and verifies what the crash-safe protocol promises
// (Driver.h). Reproducible from its seed, but for where the timing of the
// machine puts the kills from outside.
#ifndef EXAMPLES_COPYJOB_TORTURE_TORTURE_H_
#define EXAMPLES_COPYJOB_TORTURE_TORTURE_H_

#include <cstdint>
#include <string>

#include "examples/copyjob/harness/Driver.h"

namespace copyjob {

struct TortureSettings {
  long rounds = 40;
  uint64_t seed = 1;
  long onlyRound = -1;     // run this round alone
  long maxFailures = 0;    // end the run after this many failed rounds; 0: never
  DriverSettings driver;   // the programs, and a fault to plant
  std::string crashfs;     // jx-crashfs
  std::string folder;      // where the rounds' folders are made
};

// Runs the rounds; prints a histogram of what stopped the runs and a
// summary. Returns 0 when no round failed; keeps a failed round's folder
// and prints how to run it again; 1 too when a kind of stop it planned
// never came. The rounds run on jx-crashfs; where it cannot mount, it
// says why and returns kTortureSkipped.
constexpr int kTortureSkipped = 77;
int RunTorture(const TortureSettings& settings);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_TORTURE_TORTURE_H_
