#include "examples/copyjob/torture/Torture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "examples/copyjob/harness/DemoOptions.h"
#include "examples/copyjob/harness/Interrupt.h"

namespace copyjob {

namespace {

struct Totals {
  long rounds = 0;
  long kills = 0;
  long failures = 0;
  long failedSaves = 0;
  long cleaned = 0;  // temporary files a killed save left, removed on the next start
  long powerLosses = 0;
  long lostWork = 0;  // power losses that took some pending work
  PowerLossReport lost;
  uint64_t verified = 0;
  uint64_t recopied = 0;
  long hits[kSlots] = {};
  long planned[kSlots] = {};  // stops planned at each step
  long plannedLosses = 0;
  long failingSaves = 0;      // failed saves planned
};

class Round {
 public:
  // The state file and the destinations are on a jx-crashfs mount.
  Round(const TortureSettings& settings, long index, const std::string& folder, Totals* totals)
      : settings_(settings), index_(index), folder_(folder), totals_(totals), crash_(settings.crashfs) {
    std::seed_seq seeds{static_cast<uint32_t>(settings.seed), static_cast<uint32_t>(settings.seed >> 32),
                        static_cast<uint32_t>(index)};
    random_.seed(seeds);
  }

  // Returns what failed, or an empty string.
  std::string Run() {
    if (::mkdir(folder_.c_str(), 0755) != 0) return "cannot make " + folder_;
    static const uint64_t kBlocks[] = {512, 1000, 4096};
    const uint64_t block = kBlocks[Below(3)];
    std::vector<uint64_t> sizes(1 + Below(4));
    for (uint64_t& size : sizes) {
      const uint64_t kind = Below(6);  // empty, whole blocks, or any size
      size = kind == 0 ? 0 : kind == 1 ? block * (1 + Below(6)) : 1 + Below(6 * block);
    }
    if (std::all_of(sizes.begin(), sizes.end(), [](uint64_t size) { return size == 0; })) sizes.back() = block + 1;
    const std::string disk = folder_ + "/mnt";
    std::string error;
    if (::mkdir((folder_ + "/disk").c_str(), 0755) != 0 || !crash_.Mount(folder_ + "/disk", disk, &error)) {
      return error.empty() ? "cannot make " + folder_ + "/disk" : error;
    }
    if (!MakeSample(folder_, disk, block, sizes, random_, &sample_)) return "cannot write the sample volumes";
    // The sample is where the round begins, not part of what it tests.
    if (!crash_.Sync()) return "jx-crashfs cannot sync " + disk;
    Driver driver(sample_, settings_.driver, &crash_);
    const std::vector<Stop> plan = Plan();
    for (const Stop& stop : plan) {
      if (stop.kind == Stop::kAtStep) ++totals_->planned[static_cast<int>(stop.step)];
      if (stop.kind == Stop::kJob) ++totals_->planned[kOutsideJob];
      if (stop.kind == Stop::kMachine) ++totals_->planned[kOutsideMachine];
      if (stop.failingSave > 0) ++totals_->failingSaves;
      if (stop.powerLoss) ++totals_->plannedLosses;
    }
    long interruptions = 0;
    for (size_t run = 0; run < plan.size() + 4; ++run) {
      const RunResult result = driver.Run(run < plan.size() ? plan[run] : Stop(), random_);
      if (!result.failure.empty() || Interrupted()) return Describe(run, plan, result.failure);
      Count(result);
      if (result.done) {
        const std::string failed = driver.Verify();
        if (!failed.empty()) return failed;
        totals_->recopied += driver.written() - sample_.Total();
        totals_->verified += sample_.Total();
        return std::string();
      }
      ++interruptions;
    }
    return "the job did not finish after " + copyjob::Count(plan.size() + 4, "run", "runs");
  }

 private:
  uint64_t Below(uint64_t n) { return random_() % n; }

  // Two to five stops; the first at the round's step of the protocol, in
  // turn, the others at random steps or at random times from outside. A
  // stop that takes the manager is a power loss two times in three, and
  // two in three of the later stops are power losses at a step that leaves
  // work pending, so that the losses have something to take. In some
  // rounds, after the kills, a save fails.
  std::vector<Stop> Plan() {
    static const Step kPending[] = {Step::kBlockHalfWritten, Step::kBlockWritten,    Step::kSaveStarted,
                                    Step::kTempHalfWritten,  Step::kTempWritten,     Step::kTempSynced,
                                    Step::kRenamed};
    std::vector<Stop> plan(2 + Below(4));
    plan[0].kind = Stop::kAtStep;
    plan[0].step = static_cast<Step>(index_ % kStepCount);
    plan[0].at = 1 + static_cast<long>(Below(3));
    plan[0].powerLoss = Below(3) != 0;
    for (size_t k = 1; k < plan.size(); ++k) {
      Stop& stop = plan[k];
      const bool loss = Below(3) != 0;
      stop.kind = loss ? Stop::kAtStep : static_cast<Stop::Kind>(1 + Below(3));
      stop.step = loss ? kPending[Below(std::size(kPending))] : static_cast<Step>(Below(kStepCount));
      stop.at = 1 + static_cast<long>(Below(3));
      stop.delayMicros = static_cast<int>(Below(4000));
      stop.powerLoss = loss || (stop.kind != Stop::kJob && Below(3) != 0);
    }
    for (Stop& stop : plan) {
      if (stop.step == Step::kJobStarted) stop.at = 1;  // once a run
    }
    if (Below(4) == 0) {
      Stop failing;
      failing.failingSave = 1 + static_cast<long>(Below(2));
      failing.failing = static_cast<Stop::Failing>(Below(3));
      plan.push_back(failing);
    }
    return plan;
  }

  void Count(const RunResult& result) {
    totals_->cleaned += result.cleaned;
    if (result.saveFailed) ++totals_->failedSaves;
    if (result.slot >= 0) {
      ++totals_->kills;
      ++totals_->hits[result.slot];
    }
    if (result.powerLoss) {
      ++totals_->powerLosses;
      if (result.loss.LostWork()) ++totals_->lostWork;
      totals_->lost.filesRolledBack += result.loss.filesRolledBack;
      totals_->lost.namesUndone += result.loss.namesUndone;
    }
  }

  std::string Describe(size_t run, const std::vector<Stop>& plan, const std::string& failure) const {
    if (run >= plan.size() || plan[run].kind == Stop::kNone) return failure;
    const Stop& stop = plan[run];
    const std::string how = stop.kind == Stop::kAtStep ? std::string("at ") + StepName(stop.step)
                            : stop.kind == Stop::kJob  ? std::string("the job killed from outside")
                                                       : std::string("killed from outside");
    return failure + " (run " + std::to_string(run + 1) + ", " + how + (stop.powerLoss ? ", a power loss" : "") + ")";
  }

  const TortureSettings& settings_;
  long index_;
  std::string folder_;
  Totals* totals_;
  CrashDisk crash_;
  std::mt19937_64 random_;
  Sample sample_;
};

// Whether jx-crashfs mounts here (FUSE may be missing or not permitted);
// *why when it does not.
bool CanMount(const std::string& crashfs, const std::string& base, std::string* why) {
  if (::access(crashfs.c_str(), X_OK) != 0) {
    *why = crashfs + " is not built (it needs libfuse3; Debian: libfuse3-dev)";
    return false;
  }
  const std::string backing = base + "/probe";
  CrashDisk probe(crashfs);
  const bool mounted = ::mkdir(backing.c_str(), 0755) == 0 && probe.Mount(backing, base + "/probe-mount", why);
  probe.Unmount();
  ::rmdir(backing.c_str());
  return mounted;
}

std::string SlotName(int slot) {
  return slot == kOutsideJob       ? "of the job from outside"
         : slot == kOutsideMachine ? "of the job and its manager from outside"
                                   : std::string("at ") + StepName(static_cast<Step>(slot));
}

// A kind of stop that was planned and never came proves nothing: the
// steps it names are not made, or not seen.
long NeverFired(const Totals& t) {
  long missed = 0;
  for (int i = 0; i < kSlots; ++i) {
    if (t.planned[i] == 0 || t.hits[i] > 0) continue;
    Say("the %ld kills planned %s never came\n", t.planned[i], SlotName(i).c_str());
    ++missed;
  }
  const auto never = [&missed](long planned, long came, const char* what) {
    if (planned == 0 || came > 0) return;
    Say("the %ld %s planned never came\n", planned, what);
    ++missed;
  };
  never(t.failingSaves, t.failedSaves, "failing saves");
  never(t.plannedLosses, t.lostWork, "power losses (none took pending work)");
  return missed;
}

void PrintHistogram(const Totals& t) {
  Say("what stopped the runs:\n");
  const long most = std::max<long>(1, *std::max_element(t.hits, t.hits + kSlots));
  for (int i = 0; i < kSlots; ++i) {
    const char* name = i == kOutsideJob       ? "the job, from outside"
                       : i == kOutsideMachine ? "job and manager, from outside"
                                              : StepName(static_cast<Step>(i));
    Say("  %-30s %6ld  %s\n", name, t.hits[i], std::string(static_cast<size_t>(t.hits[i] * 40 / most), '#').c_str());
  }
  Say("power losses: %ld, %ld of them took pending work; files that lost unsynced data: %ld; creations, renames and "
      "removals undone: %ld\n",
      t.powerLosses, t.lostWork, t.lost.filesRolledBack, t.lost.namesUndone);
  Say("saves failed (a full disk, a failing sync): %ld; temporary files of killed saves removed: %ld; re-copied: %s\n",
      t.failedSaves, t.cleaned, FormatSize(t.recopied).c_str());
}

}  // namespace

int RunTorture(const TortureSettings& settings) {
  Totals totals;
  const bool terminal = ::isatty(STDOUT_FILENO);
  std::string base = settings.folder + "/jx-copy-torture.XXXXXX";
  if (::mkdtemp(&base[0]) == nullptr) {
    std::fprintf(stderr, "jx-copy-demo: cannot make a folder in %s\n", settings.folder.c_str());
    return 1;
  }
  Say("torture run, seed %llu%s: %s in %s\n", static_cast<unsigned long long>(settings.seed),
      settings.driver.plant.empty() ? "" : (", planted fault " + settings.driver.plant).c_str(),
      Count(static_cast<uint64_t>(settings.onlyRound >= 0 ? 1 : settings.rounds), "round", "rounds").c_str(),
      base.c_str());
  std::string why;
  if (!CanMount(settings.crashfs, base, &why)) {
    std::filesystem::remove_all(base);
    Say("the torture is skipped: its steps, faults and power losses are jx-crashfs's, and %s\n", why.c_str());
    return kTortureSkipped;
  }
  bool keep = false;
  const long first = settings.onlyRound >= 0 ? settings.onlyRound : 0;
  const long last = settings.onlyRound >= 0 ? settings.onlyRound + 1 : settings.rounds;
  const auto enough = [&] { return settings.maxFailures > 0 && totals.failures >= settings.maxFailures; };
  for (long r = first; r < last && !Interrupted() && !enough(); ++r) {
    const std::string folder = base + "/round-" + std::to_string(r);
    std::string failed;
    {
      Round round(settings, r, folder, &totals);
      failed = round.Run();
    }  // unmounted

    if (Interrupted()) break;
    ++totals.rounds;
    if (failed.empty()) {
      std::filesystem::remove_all(folder);
    } else {
      ++totals.failures;
      keep = true;
      Say("%sround %ld failed: %s\n  its folder is kept: %s\n  run it again: jx-copy-demo --torture %ld --seed %llu "
          "--round %ld%s\n",
          terminal ? "\r\033[K" : "", r, failed.c_str(), folder.c_str(), r + 1,
          static_cast<unsigned long long>(settings.seed), r,
          settings.driver.plant.empty() ? "" : (" --plant " + settings.driver.plant).c_str());
    }
    if (terminal) Say("\r\033[Kround %ld of %ld, %ld kills", r + 1 - first, last - first, totals.kills);
  }
  if (terminal) Say("\r\033[K");
  if (!keep) std::filesystem::remove_all(base);
  if (Interrupted()) return 128 + Interrupted();
  PrintHistogram(totals);
  Say("%s, %s, %s verified, %s\n", Count(static_cast<uint64_t>(totals.rounds), "round", "rounds").c_str(),
      Count(static_cast<uint64_t>(totals.kills), "kill", "kills").c_str(), FormatSize(totals.verified).c_str(),
      Count(static_cast<uint64_t>(totals.failures), "failure", "failures").c_str());
  // A run ended early has not had the chance to make each planned stop.
  const bool missed = !enough() && NeverFired(totals) > 0;
  return totals.failures == 0 && !missed ? 0 : 1;
}

}  // namespace copyjob
