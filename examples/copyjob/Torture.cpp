#include "examples/copyjob/Torture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "examples/copyjob/DemoOptions.h"
#include "examples/copyjob/Interrupt.h"
#include "examples/copyjob/JobManager.h"
#include "examples/copyjob/KillPoint.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

namespace copyjob {

namespace {

// The histogram's slots: each step, then the kills from outside.
constexpr int kOutsideJob = kStepCount;
constexpr int kOutsideAll = kStepCount + 1;
constexpr int kSlots = kStepCount + 2;

struct Totals {
  long rounds = 0;
  long kills = 0;
  long failures = 0;
  long failedSaves = 0;
  long cleaned = 0;  // temporary files a killed save left, removed on the next start
  uint64_t verified = 0;
  uint64_t recopied = 0;
  long hits[kSlots] = {};
};

struct Volume {
  int32_t id;
  uint64_t size;
  std::string source, dest;
};

// How one run of the job is to end early, if it gets that far.
struct Kill {
  enum Kind { kNone, kAtStep, kJob, kMachine } kind = kNone;
  Step step = Step::kJobStarted;
  long at = 1;           // the n-th time the step is reached
  int delayMicros = 0;   // for kills from outside
  long failingSave = 0;  // the n-th save of the run fails, as a full disk does
};

using Offsets = std::map<int32_t, uint64_t>;

// The offsets of a volume restart string, or false.
bool OffsetsOf(const std::string& volumes, Offsets* offsets) {
  ZNJxRestart table(volumes.c_str());
  if (!table.isValid) return false;
  offsets->clear();
  for (const auto& entry : table.volumeInfoMap) (*offsets)[entry.first] = entry.second.offset;
  return true;
}

std::string ReadFile(const std::string& path, bool* exists) {
  std::ifstream in(path, std::ios::binary);
  *exists = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool SameFile(const std::string& a, const std::string& b) {
  bool x = false, y = false;
  const std::string first = ReadFile(a, &x);
  return x && first == ReadFile(b, &y) && y;
}

void Emit(int fd, const std::string& line) {
  const std::string text = line + "\n";
  if (::write(fd, text.data(), text.size()) < 0) std::_Exit(6);  // the torture run is gone
}

// The manager side of a run, in a process of its own and its own process
// group, so that a kill can take it with its job as a crash of the machine
// does. Tells the torture run what happens through `events`.
[[noreturn]] void ManagerProcess(const std::string& program, const std::string& folder, uint64_t block, bool restart,
                                 const Kill& kill, int events) {
  ::setpgid(0, 0);
  if (kill.kind == Kill::kAtStep) {
    ::setenv("JX_COPY_KILL_AT", (std::string(StepName(kill.step)) + ":" + std::to_string(kill.at)).c_str(), 1);
  }
  if (kill.failingSave > 0) ::setenv("JX_COPY_FAIL_SAVE", std::to_string(kill.failingSave).c_str(), 1);
  ::setenv("JX_COPY_WRITE_LOG", (folder + "/writes").c_str(), 1);
  // The job's messages go to the round's folder, for the checks.
  const int errors = ::open((folder + "/job-errors").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (errors >= 0) ::dup2(errors, STDERR_FILENO);
  JobManager manager(program, folder + "/manifest", folder + "/state", block);
  manager.OnSave([events](const SavedState& s) { Emit(events, "saving\t" + s.jobString + "\t" + s.volumeString); });
  SavedState loaded;
  if (restart && LoadState(folder + "/state", &loaded))
    Emit(events, "loaded\t" + loaded.jobString + "\t" + loaded.volumeString);
  if (!manager.Start(restart)) {
    Emit(events, "start-failed");
    std::_Exit(5);
  }
  if (manager.cleanedTemporary()) Emit(events, "cleaned");
  Emit(events, "job\t" + std::to_string(manager.pid()));
  for (;;) {
    switch (manager.Next()) {
      case JobManager::Event::kResume:
        Emit(events, "resume\t" + manager.resumed());
        break;
      case JobManager::Event::kState:
        Emit(events, "saved");
        manager.Acknowledge();
        break;
      case JobManager::Event::kSaveFailed:
        Emit(events, "save-failed\t" + manager.saveError());
        manager.Wait();
        std::_Exit(3);
      case JobManager::Event::kDone: {
        Emit(events, "done\t" + std::to_string(manager.written()));
        std::_Exit(manager.Wait());
      }
      case JobManager::Event::kGone:
        Emit(events, "gone\t" + std::to_string(manager.Wait()));
        std::_Exit(4);
    }
  }
}

class Round {
 public:
  Round(const TortureSettings& settings, long index, const std::string& folder, Totals* totals)
      : settings_(settings), index_(index), folder_(folder), totals_(totals) {
    std::seed_seq seeds{static_cast<uint32_t>(settings.seed), static_cast<uint32_t>(settings.seed >> 32),
                        static_cast<uint32_t>(index)};
    random_.seed(seeds);
  }

  // Returns what failed, or an empty string.
  std::string Run() {
    if (::mkdir(folder_.c_str(), 0755) != 0) return "cannot make " + folder_;
    MakeVolumes();
    const std::vector<Kill> plan = Plan();
    for (size_t run = 0; run < plan.size() + 4; ++run) {
      const Kill kill = run < plan.size() ? plan[run] : Kill();
      bool done = false;
      const std::string failed = RunOnce(kill, &done);
      if (!failed.empty() || Interrupted()) return failed;
      if (done) return Verify();
    }
    return "the job did not finish after " + Count(plan.size() + 4, "run", "runs");
  }

 private:
  uint64_t Below(uint64_t n) { return random_() % n; }

  void MakeVolumes() {
    static const uint64_t kBlocks[] = {512, 1000, 4096};
    block_ = kBlocks[Below(3)];
    const int count = 1 + static_cast<int>(Below(4));
    std::vector<uint64_t> sizes;
    for (int v = 1; v <= count; ++v) {
      const uint64_t kind = Below(6);  // empty, whole blocks, or any size
      sizes.push_back(kind == 0 ? 0 : kind == 1 ? block_ * (1 + Below(6)) : 1 + Below(6 * block_));
    }
    if (std::all_of(sizes.begin(), sizes.end(), [](uint64_t size) { return size == 0; })) sizes.back() = block_ + 1;
    std::ofstream manifest(folder_ + "/manifest");
    for (int v = 1; v <= count; ++v) {
      Volume volume{v, sizes[v - 1], folder_ + "/source-" + std::to_string(v), folder_ + "/dest-" + std::to_string(v)};
      std::string bytes(volume.size, '\0');
      for (char& c : bytes) c = static_cast<char>(random_());
      std::ofstream(volume.source, std::ios::binary) << bytes;
      manifest << v << '\t' << v % 3 << '\t' << 1000 + v << '\t' << volume.source << '\t' << volume.dest << '\n';
      total_ += volume.size;
      volumes_.push_back(volume);
    }
  }

  // One or more kills; the first at the round's step of the protocol, in
  // turn, the others at random steps or at random times from outside. In
  // some rounds, after the kills, a save fails.
  std::vector<Kill> Plan() {
    std::vector<Kill> plan(1 + Below(3));
    plan[0].kind = Kill::kAtStep;
    plan[0].step = static_cast<Step>(index_ % kStepCount);
    for (size_t k = 1; k < plan.size(); ++k) {
      Kill& kill = plan[k];
      kill.kind = static_cast<Kill::Kind>(1 + Below(3));
      kill.step = static_cast<Step>(Below(kStepCount));
      kill.at = 1 + static_cast<long>(Below(3));
      kill.delayMicros = static_cast<int>(Below(4000));
    }
    if (Below(4) == 0) {
      Kill failing;
      failing.failingSave = 1 + static_cast<long>(Below(2));
      plan.push_back(failing);
    }
    return plan;
  }

  std::string StateFile() const { return folder_ + "/state"; }

  // One run of the manager and its job, from whatever state file is on disk.
  std::string RunOnce(const Kill& kill, bool* done) {
    bool exists = false;
    const std::string onDisk = ReadFile(StateFile(), &exists);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return "cannot make a pipe";
    const pid_t manager = ::fork();
    if (manager == 0) {
      ::close(pipe[0]);
      ManagerProcess(settings_.jobProgram, folder_, block_, exists, kill, pipe[1]);
    }
    ::setpgid(manager, manager);
    ::close(pipe[1]);
    run_ = RunState{};
    run_.restart = exists;
    run_.onDisk = onDisk;
    const bool fromOutside = kill.kind == Kill::kJob || kill.kind == Kill::kMachine;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(kill.delayMicros);
    bool sent = false;
    std::string pending, failed;
    for (;;) {
      const bool timed = fromOutside && !sent;
      timespec timeout{};
      if (timed) {
        const auto left = std::max<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now(), {});
        timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
        timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
      }
      pollfd wait{pipe[0], POLLIN, 0};
      const int ready = ::ppoll(&wait, 1, timed ? &timeout : nullptr, nullptr);
      if (Interrupted()) break;
      if (ready == 0) {
        sent = true;
        const bool jobOnly = kill.kind == Kill::kJob && run_.job > 0;
        ::kill(jobOnly ? run_.job : -manager, SIGKILL);
        run_.outside = jobOnly ? kOutsideJob : kOutsideAll;
        continue;
      }
      char buffer[4096];
      const ssize_t got = ::read(pipe[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      pending.append(buffer, static_cast<size_t>(got));
      for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        if (failed.empty()) failed = OnEvent(pending.substr(0, end));
      }
    }
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(manager, &status, 0);
    ::kill(-manager, SIGKILL);  // nothing of the run outlives it
    if (!failed.empty() || Interrupted()) return failed;
    *done = run_.done;
    if (run_.done) return std::string();
    return AfterStop(kill);
  }

  struct RunState {
    bool restart = false;
    std::string onDisk;  // the state file before the run
    pid_t job = -1;
    bool resumed = false;
    Offsets offsets;     // of the last state saved or resumed at
    std::string saving;  // the state being saved, as the file holds it
    std::string saved;   // the last state saved in this run
    bool saveFailed = false;
    bool done = false;
    int outside = -1;  // the histogram slot of a kill from outside
  } run_;

  // Checks one event of the manager; returns what failed, or "".
  std::string OnEvent(const std::string& line) {
    const size_t tab = line.find('\t');
    const std::string kind = line.substr(0, tab);
    const std::string rest = tab == std::string::npos ? "" : line.substr(tab + 1);
    if (kind == "loaded") {
      const size_t split = rest.find('\t');
      const std::string text = rest.substr(0, split) + "\n" + rest.substr(split + 1) + "\n";
      if (text != run_.onDisk) return "the manager loaded a state other than the state file's";
    } else if (kind == "cleaned") {
      ++totals_->cleaned;
    } else if (kind == "job") {
      run_.job = static_cast<pid_t>(std::atol(rest.c_str()));
    } else if (kind == "resume") {
      return OnResume(rest);
    } else if (kind == "saving") {
      return OnSaving(rest);
    } else if (kind == "saved") {
      run_.saved = run_.saving;
    } else if (kind == "save-failed") {
      run_.saveFailed = true;
      if (rest.find(std::strerror(ENOSPC)) == std::string::npos) return "a failed save says '" + rest + "'";
    } else if (kind == "done") {
      run_.done = true;
    } else if (kind == "start-failed") {
      return "the manager could not start the job";
    }
    return std::string();
  }

  // A restart resumes exactly at the offsets of the state file on disk; a
  // fresh start at 0.
  std::string OnResume(const std::string& volumes) {
    Offsets resumed;
    if (!OffsetsOf(volumes, &resumed)) return "the job resumed at an invalid volume restart string";
    Offsets expected;
    if (run_.restart) {
      SavedState state;
      std::istringstream lines(run_.onDisk);
      std::getline(lines, state.jobString);
      std::getline(lines, state.volumeString);
      if (!OffsetsOf(state.volumeString, &expected)) return "the state file's volume restart string is invalid";
    } else {
      for (const Volume& v : volumes_) expected[v.id] = 0;
    }
    if (resumed != expected) return "the job resumed at offsets other than the state file's: " + volumes;
    run_.offsets = resumed;
    run_.resumed = true;
    return std::string();
  }

  // Each state the job hands on has moved one volume on by one block (less
  // at the end of the volume), and its two strings agree.
  std::string OnSaving(const std::string& rest) {
    const size_t split = rest.find('\t');
    const std::string job = rest.substr(0, split), volumes = rest.substr(split + 1);
    run_.saving = job + "\n" + volumes + "\n";
    Offsets now;
    if (!run_.resumed || !OffsetsOf(volumes, &now)) return "a state before the job resumed, or invalid: " + rest;
    int moved = 0;
    for (const Volume& v : volumes_) {
      const uint64_t before = run_.offsets[v.id], after = now[v.id];
      if (after == before) continue;
      ++moved;
      if (after != before + std::min(block_, v.size - before))
        return "volume " + std::to_string(v.id) + " moved from " + std::to_string(before) + " to " +
               std::to_string(after);
    }
    if (moved != 1) return "a state that moves " + Count(moved, "volume", "volumes") + ": " + rest;
    std::string items = job.substr(job.find(' ') + 1);
    JxRestartability tracker;
    for (const Volume& v : volumes_) {
      int32_t blocks = -1;
      if (!tracker.ParseRestartInputFromJM(&items[0]) || !tracker.GetBMOffsetFromVolId(v.id, &blocks) ||
          static_cast<uint64_t>(blocks) != (now[v.id] + block_ - 1) / block_) {
        return "the job restart string disagrees with the volume restart string: " + rest;
      }
    }
    run_.offsets = now;
    return std::string();
  }

  // After a run that a kill or a failed save stopped: the state file is
  // the old one or the new one, whole.
  std::string AfterStop(const Kill& kill) {
    bool exists = false;
    const std::string onDisk = ReadFile(StateFile(), &exists);
    const std::string old = run_.saved.empty() ? run_.onDisk : run_.saved;
    if (run_.saveFailed) {
      ++totals_->failedSaves;
      ++failedSaves_;
      if (onDisk != old) return "a failed save changed the state file";
      if (::access(TemporaryOf(StateFile()).c_str(), F_OK) == 0) return "a failed save left its temporary file";
      bool logged = false;
      if (ReadFile(folder_ + "/job-errors", &logged).find("could not save the state") == std::string::npos) {
        return "the job stopped at a failed save without saying why";
      }
      return std::string();
    }
    if (onDisk != old && onDisk != run_.saving) return "the state file is neither the old state nor the new one";
    ++totals_->kills;
    ++kills_;
    if (run_.outside >= 0) {
      ++totals_->hits[run_.outside];
    } else if (kill.kind == Kill::kAtStep) {
      ++totals_->hits[static_cast<int>(kill.step)];
    } else {
      return "the job stopped, unkilled, before it was done";
    }
    return std::string();
  }

  // Every destination equals its source, and no more was copied again than
  // the one block in flight at each kill or failed save.
  std::string Verify() {
    for (const Volume& v : volumes_) {
      if (!SameFile(v.source, v.dest)) return "dest-" + std::to_string(v.id) + " differs from its source";
    }
    std::ifstream writes(folder_ + "/writes");
    uint64_t written = 0;
    for (uint64_t volume, offset, bytes; writes >> volume >> offset >> bytes;) written += bytes;
    const uint64_t allowed = static_cast<uint64_t>(kills_ + failedSaves_) * block_;
    if (written < total_ || written - total_ > allowed) {
      return FormatSize(written) + " written for " + FormatSize(total_) + " with " + Count(kills_, "kill", "kills");
    }
    totals_->recopied += written - total_;
    totals_->verified += total_;
    return std::string();
  }

  const TortureSettings& settings_;
  long index_;
  std::string folder_;
  Totals* totals_;
  std::mt19937_64 random_;
  uint64_t block_ = 0;
  uint64_t total_ = 0;
  long kills_ = 0;
  long failedSaves_ = 0;
  std::vector<Volume> volumes_;
};

void PrintHistogram(const Totals& t) {
  Say("kill points hit:\n");
  const long most = std::max<long>(1, *std::max_element(t.hits, t.hits + kSlots));
  for (int i = 0; i < kSlots; ++i) {
    const char* name = i == kOutsideJob   ? "the job, from outside"
                       : i == kOutsideAll ? "job and manager, from outside"
                                          : StepName(static_cast<Step>(i));
    Say("  %-30s %6ld  %s\n", name, t.hits[i], std::string(static_cast<size_t>(t.hits[i] * 40 / most), '#').c_str());
  }
  Say("saves failed as on a full disk: %ld; temporary files of killed saves removed: %ld; re-copied: %s\n",
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
  Say("torture run, seed %llu: %s in %s\n", static_cast<unsigned long long>(settings.seed),
      Count(static_cast<uint64_t>(settings.onlyRound >= 0 ? 1 : settings.rounds), "round", "rounds").c_str(),
      base.c_str());
  bool keep = false;
  const long first = settings.onlyRound >= 0 ? settings.onlyRound : 0;
  const long last = settings.onlyRound >= 0 ? settings.onlyRound + 1 : settings.rounds;
  for (long r = first; r < last && !Interrupted(); ++r) {
    const std::string folder = base + "/round-" + std::to_string(r);
    Round round(settings, r, folder, &totals);
    const std::string failed = round.Run();
    if (Interrupted()) break;
    ++totals.rounds;
    if (failed.empty()) {
      std::filesystem::remove_all(folder);
    } else {
      ++totals.failures;
      keep = true;
      Say("%sround %ld failed: %s\n  its folder is kept: %s\n  run it again: jx-copy-demo --torture %ld --seed %llu "
          "--round %ld\n",
          terminal ? "\r\033[K" : "", r, failed.c_str(), folder.c_str(), r + 1,
          static_cast<unsigned long long>(settings.seed), r);
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
  return totals.failures == 0 ? 0 : 1;
}

}  // namespace copyjob
