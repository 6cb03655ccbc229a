// The torture run of the example copy job: many rounds, each of which
// copies a few small volumes through one or more SIGKILLs and verifies
// what the crash-safe protocol promises. Reproducible from its seed.
#ifndef EXAMPLES_COPYJOB_TORTURE_H_
#define EXAMPLES_COPYJOB_TORTURE_H_

#include <cstdint>
#include <string>

namespace copyjob {

struct TortureSettings {
  long rounds = 40;
  uint64_t seed = 1;
  long onlyRound = -1;     // run this round alone
  std::string jobProgram;  // jx-copy-job
  std::string folder;      // where the rounds' folders are made
};

// Runs the rounds; prints a histogram of the kill points hit and one
// summary line. Returns 0 when no round failed; keeps a failed round's
// folder and prints how to run it again.
int RunTorture(const TortureSettings& settings);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_TORTURE_H_
