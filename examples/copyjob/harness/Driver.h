// The one driver of the example copy job, shared by the demo and the
// torture run. It makes sample volumes, runs the job manager
// (jx-copy-manager) with the relay (Relay.h) as its job, from whatever state
// file is on disk, stops the run as it is asked to, and checks every step
// against the disk, never against what the manager or the job report:
//   - a restart resumes exactly at the offsets of the state file on disk;
//   - each state handed on moves one volume by one block, and its two
//     strings agree;
//   - when the job is told "ok", the state file holds that state, whole
//     (the relay reads it before it passes the answer on);
//   - after a kill or a power loss, it holds a state the job handed on, no
//     less far than the last it was told "ok" for; after a failed save,
//     the state saved before it (or, when the folder's sync failed after
//     the rename, the one it was saving);
//   - no interruption costs more than one block written again (counted by
//     jx-crashfs, below the C library, where the disk is one);
//   - at the end, every destination equals its source.
// The state file is read with the harness's own reader (two lines), never
// with the code under test.
//
// Threading: one thread.
#ifndef EXAMPLES_COPYJOB_HARNESS_DRIVER_H_
#define EXAMPLES_COPYJOB_HARNESS_DRIVER_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "examples/copyjob/manager/JobManager.h"
#include "examples/copyjob/harness/CrashDisk.h"
#include "examples/copyjob/harness/Steps.h"

namespace copyjob {

struct SampleVolume {
  int32_t id;
  uint64_t size;
  std::string source, dest;
};

// A folder of sample volumes and their manifest; the job's state file and
// the destinations on `disk`, a folder that may be a jx-crashfs mount.
struct Sample {
  std::string folder;
  std::string disk;
  uint64_t block = 0;
  std::vector<SampleVolume> volumes;

  // How many states the job hands on up to the first that vouches for
  // `bytes`, copying one block of each unfinished volume in turn; *all:
  // how many it hands on in all.
  size_t StatesUntil(uint64_t bytes, size_t* all) const;

  std::string Manifest() const { return folder + "/manifest"; }
  std::string Destinations() const { return disk + "/destinations"; }
  std::string StateFile() const { return disk + "/state"; }
  uint64_t Total() const;
};

// Writes volumes of `sizes` bytes of `random`'s output into `folder`, which
// exists, and their manifest; the destinations go on `disk` (folder when
// empty), which exists. False when a file cannot be written or when
// the demo is interrupted.
bool MakeSample(const std::string& folder, const std::string& disk, uint64_t block, const std::vector<uint64_t>& sizes,
                std::mt19937_64& random, Sample* sample);

// The offset of each source volume in a volume restart string, as the
// library reads it; false when the library refuses the string.
using Offsets = std::map<int32_t, uint64_t>;
bool OffsetsOf(const std::string& volumeString, Offsets* offsets);

// How a run is to end early, if it gets that far.
struct Stop {
  enum Kind {
    kNone,
    kAtStep,     // at the at-th time `step` is reached
    kJob,        // the job, from outside, after delayMicros
    kMachine,    // the job and its manager, from outside, after delayMicros
    kWhenSaved,  // the job, half-way through the block after the first state that vouches for savedBytes
  } kind = kNone;
  Step step = Step::kJobStarted;
  long at = 1;
  int delayMicros = 0;
  uint64_t savedBytes = 0;
  bool powerLoss = false;  // kAtStep, kMachine: both die, and the crash disk loses what was not synced
  // On a crash disk, the failingSave-th save of the run fails: its write as
  // on a full disk, its sync with EIO, or its folder's sync with EIO.
  long failingSave = 0;
  enum Failing { kWrite, kSync, kFolderSync } failing = kWrite;
};

// The histogram slots of what stopped a run: each step, then the kills
// from outside.
constexpr int kOutsideJob = kStepCount;
constexpr int kOutsideMachine = kStepCount + 1;
constexpr int kSlots = kStepCount + 2;

struct RunResult {
  std::string failure;  // what a check found; empty when all held
  bool done = false;    // the job finished
  bool saveFailed = false;
  int slot = -1;  // what killed the run, when it was killed
  bool cleaned = false;  // the manager removed a temporary file that a killed save left
  bool powerLoss = false;  // the run ended in a power loss
  PowerLossReport loss;
  // Bytes written to the destinations in the run: as jx-crashfs counted
  // them, or, with no crash disk, as the run's states moved them.
  uint64_t written = 0;
};

struct DriverSettings {
  std::string manager;          // jx-copy-manager
  std::string carelessManager;  // jx-copy-careless-manager, for the plants that are ways of saving
  std::string job;              // jx-copy-job
  std::string carelessJob;      // jx-copy-careless-job, for the plant that is a way of copying
  std::string relay;            // jx-copy-relay
  std::string jobLog;           // the job's ZN_DEBUG_LOG, or empty
  std::string plant;            // a careless way to run (CarelessSaves.h), or empty
};

class Driver {
 public:
  // `crash` is the jx-crashfs mount the sample's disk is on, for the power
  // losses; none when the runs have none.
  Driver(const Sample& sample, DriverSettings settings, CrashDisk* crash = nullptr);

  // Called at each acknowledged state with the bytes its volumes vouch for.
  void OnAcknowledged(std::function<void(uint64_t)> observer) { observer_ = std::move(observer); }

  // One run of the manager and its job, from the state file on disk.
  RunResult Run(const Stop& stop, std::mt19937_64& random);

  // After the last run: every destination equals its source.
  std::string Verify() const;

  uint64_t written() const { return written_; }
  // The last state acknowledged, and the bytes it vouches for.
  const SavedState& acknowledged() const { return acknowledged_; }
  uint64_t SavedBytes() const;

 private:
  struct RunState;
  pid_t StartManager(const Stop& stop, int* events) const;
  std::string Plan(const Stop& stop) const;
  std::string OnEvent(const std::string& line, RunState* run, RunResult* result);
  std::string OnResumed(const std::string& volumes, RunState* run);
  std::string OnSaving(const SavedState& state, RunState* run);
  std::string OnAcked(const SavedState& state, RunState* run);
  std::string Finish(const Stop& stop, const RunState& run, std::mt19937_64& random, RunResult* result);
  std::string AfterStop(const Stop& stop, const RunState& run, RunResult* result) const;
  bool AtLeastAcknowledged(const std::string& onDisk) const;

  const Sample& sample_;
  DriverSettings settings_;
  CrashDisk* crash_;
  std::function<void(uint64_t)> observer_;
  SavedState acknowledged_;
  std::set<std::string> handedOn_;  // every state the job handed on, as a state file holds it
  uint64_t written_ = 0;
  // The run before: bytes it wrote and the sum of the offsets it resumed
  // at, when it was interrupted.
  bool interrupted_ = false;
  uint64_t lastWritten_ = 0, lastResumed_ = 0;
};

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_HARNESS_DRIVER_H_
