#include "examples/copyjob/Driver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

#include "examples/copyjob/DemoOptions.h"
#include "examples/copyjob/Interrupt.h"
#include "examples/copyjob/Protocol.h"
#include "examples/copyjob/careless/CarelessSaves.h"
#include "examples/copyjob/torture/Journal.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

namespace copyjob {

namespace {

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

// Stands for a state file that is not there.
const char kMissing[] = "\x01missing";

uint64_t Sum(const Offsets& offsets) {
  uint64_t total = 0;
  for (const auto& entry : offsets) total += entry.second;
  return total;
}

}  // namespace

uint64_t Sample::Total() const {
  uint64_t total = 0;
  for (const Volume& v : volumes) total += v.size;
  return total;
}

size_t Sample::StatesUntil(uint64_t bytes, size_t* all) const {
  std::vector<uint64_t> offsets(volumes.size(), 0);
  size_t states = 0, until = 0;
  uint64_t saved = 0;
  for (bool busy = true; busy;) {
    busy = false;
    for (size_t i = 0; i < volumes.size(); ++i) {
      if (offsets[i] == volumes[i].size) continue;
      const uint64_t n = std::min(block, volumes[i].size - offsets[i]);
      offsets[i] += n;
      saved += n;
      ++states;
      if (until == 0 && saved >= bytes) until = states;
      busy = true;
    }
  }
  *all = states;
  return until == 0 ? states : until;
}

bool MakeSample(const std::string& folder, const std::string& disk, uint64_t block, const std::vector<uint64_t>& sizes,
                std::mt19937_64& random, Sample* sample) {
  sample->folder = folder;
  sample->disk = disk.empty() ? folder : disk;
  sample->block = block;
  sample->volumes.clear();
  std::ofstream manifest(sample->Manifest());
  // The destinations in a folder of their own, as on a volume of their own:
  // the state file's syncs do not cover them.
  if (::mkdir(sample->Destinations().c_str(), 0755) != 0 && errno != EEXIST) return false;
  std::vector<uint64_t> chunk(1 << 13);
  for (size_t i = 0; i < sizes.size(); ++i) {
    const auto id = static_cast<int32_t>(i + 1);
    const std::string name = std::to_string(id) + ".vol";
    const Volume v{id, sizes[i], folder + "/source-" + name, sample->Destinations() + "/" + name};
    std::ofstream out(v.source, std::ios::binary);
    for (uint64_t left = v.size; left > 0;) {
      if (Interrupted()) return false;
      for (auto& word : chunk) word = random();
      const uint64_t n = std::min<uint64_t>(left, chunk.size() * sizeof(uint64_t));
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
      left -= n;
    }
    if (!out.flush()) return false;
    manifest << id << '\t' << id % 3 << '\t' << 1000 + id << '\t' << v.source << '\t' << v.dest << '\n';
    sample->volumes.push_back(v);
  }
  return static_cast<bool>(manifest.flush());
}

bool OffsetsOf(const std::string& volumeString, Offsets* offsets) {
  ZNJxRestart table(volumeString.c_str());
  if (!table.isValid) return false;
  offsets->clear();
  for (const auto& entry : table.volumeInfoMap) (*offsets)[entry.first] = entry.second.offset;
  return true;
}

// What one run has shown so far.
struct Driver::RunState {
  bool restart = false;
  std::string onDisk;    // the state file as the run began
  SavedState last;       // the last state on disk that the job may count on
  SavedState saving;     // the state being saved, once one is
  pid_t job = -1;
  bool resumed = false;
  Offsets offsets;       // of the last state saved or resumed at
  bool killed = false;   // by the driver
  bool done = false;
  uint64_t doneBytes = 0;  // what the job says it wrote
};

Driver::Driver(const Sample& sample, DriverSettings settings, CrashDisk* crash)
    : sample_(sample), settings_(std::move(settings)), crash_(crash) {}

uint64_t Driver::SavedBytes() const {
  Offsets offsets;
  return OffsetsOf(acknowledged_.volumeString, &offsets) ? Sum(offsets) : 0;
}

pid_t Driver::StartManager(const Stop& stop, int* events, int* answers) const {
  int toManager[2], fromManager[2];
  if (::pipe2(toManager, O_CLOEXEC) != 0 || ::pipe2(fromManager, O_CLOEXEC) != 0) return -1;
  std::vector<std::pair<std::string, std::string>> settings = {
      {"LD_PRELOAD", settings_.layer},
      {"JX_CRASH_JOURNAL", Journal()},
      {"JX_CRASH_STATE", sample_.StateFile()},
      {"JX_CRASH_DATA", sample_.Destinations() + "/"},
  };
  if (stop.kind == Stop::kAtStep) settings.push_back({"JX_CRASH_KILL_AT", StepName(stop.step) + (":" + std::to_string(stop.at))});
  if (stop.powerLoss) settings.push_back({"JX_CRASH_KILL_GROUP", "1"});
  if (stop.failingSave > 0) settings.push_back({"JX_CRASH_FAIL_SAVE", std::to_string(stop.failingSave)});
  const bool careless = static_cast<bool>(CarelessSave(settings_.plant));
  if (!settings_.plant.empty() && !careless) settings.push_back({"JX_CRASH_PLANT", settings_.plant});
  // A sanitizer's runtime wants to come first; the layer comes before it.
  const char* asan = std::getenv("ASAN_OPTIONS");
  settings.push_back({"ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0"});
  std::vector<std::string> args = {careless ? settings_.carelessManager : settings_.manager, "--job", settings_.job,
                                   "--manifest",        sample_.Manifest(), "--state",
                                   sample_.StateFile(), "--block", std::to_string(sample_.block)};
  if (!settings_.jobLog.empty()) args.insert(args.end(), {"--job-log", settings_.jobLog});
  if (careless) args.insert(args.end(), {"--plant", settings_.plant});
  const std::string errors = sample_.folder + "/job-errors";
  const pid_t pid = ::fork();
  if (pid == 0) {
    // A process group of its own, so that a crash of the machine can take
    // the manager and its job together.
    ::setpgid(0, 0);
    ::dup2(toManager[0], STDIN_FILENO);
    ::dup2(fromManager[1], STDOUT_FILENO);
    const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) ::dup2(fd, STDERR_FILENO);
    ::unsetenv("ZN_DEBUG_LOG");
    for (const auto& setting : settings) ::setenv(setting.first.c_str(), setting.second.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  ::setpgid(pid, pid);
  ::close(toManager[0]);
  ::close(fromManager[1]);
  *events = fromManager[0];
  *answers = toManager[1];
  return pid;
}

RunResult Driver::Run(const Stop& asked, std::mt19937_64& random) {
  RunResult result;
  // A kill at a share of the data lands at a step, where the fault layer
  // makes it: half-way through the next block, or, when no block is left,
  // once the job has its last answer.
  Stop stop = asked;
  if (stop.kind == Stop::kWhenSaved) {
    size_t all = 0;
    const size_t states = sample_.StatesUntil(stop.savedBytes, &all);
    stop.kind = Stop::kAtStep;
    stop.step = states < all ? Step::kBlockHalfWritten : Step::kAckRead;
    stop.at = static_cast<long>(states < all ? states + 1 : states);
  }
  RunState run;
  run.onDisk = ReadFile(sample_.StateFile(), &run.restart);
  if (run.restart && !LoadState(sample_.StateFile(), &run.last)) {
    result.failure = "the state file is not two lines: " + run.onDisk;
    return result;
  }
  ::mkdir((sample_.folder + "/crash").c_str(), 0755);
  std::ofstream(Journal(), std::ios::trunc);
  int events = -1, answers = -1;
  const pid_t manager = StartManager(stop, &events, &answers);
  if (manager < 0) {
    result.failure = "cannot start the manager";
    return result;
  }
  const bool fromOutside = stop.kind == Stop::kJob || stop.kind == Stop::kMachine;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(stop.delayMicros);
  std::string pending;
  for (;;) {
    const bool timed = fromOutside && !run.killed;
    timespec timeout{};
    if (timed) {
      const auto left = std::max<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now(), {});
      timeout.tv_sec = static_cast<time_t>(left.count() / 1000000000);
      timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
    }
    pollfd wait{events, POLLIN, 0};
    const int ready = ::ppoll(&wait, 1, timed ? &timeout : nullptr, nullptr);
    if (Interrupted()) break;
    if (ready == 0) {
      const bool jobOnly = stop.kind == Stop::kJob && run.job > 0;
      ::kill(jobOnly ? run.job : -manager, SIGKILL);
      run.killed = true;
      result.slot = jobOnly ? kOutsideJob : kOutsideMachine;
      continue;
    }
    char buffer[4096];
    const ssize_t got = ::read(events, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      if (!result.failure.empty()) continue;
      result.failure = OnEvent(pending.substr(0, end), answers, &run, &result);
      if (!result.failure.empty()) ::kill(-manager, SIGKILL);  // it may be waiting for an answer
    }
  }
  ::close(events);
  ::close(answers);
  int status = 0;
  ::waitpid(manager, &status, 0);
  ::kill(-manager, SIGKILL);  // nothing of the run outlives it

  bool exists = false;
  const std::vector<journal::Record> records = journal::Decode(ReadFile(Journal(), &exists));
  const std::string destinations = sample_.Destinations() + "/";
  for (const journal::Record& r : records) {
    if (r.kind == journal::kWrite && r.path.compare(0, destinations.size(), destinations) == 0) {
      result.written += r.length;
    }
  }
  written_ += result.written;
  if (!result.failure.empty() || Interrupted()) return result;
  result.done = run.done;
  if (run.done) {
    if (run.doneBytes != result.written) {
      result.failure = "the job says it wrote " + std::to_string(run.doneBytes) + " bytes; " +
                       std::to_string(result.written) + " were written";
    }
    return result;
  }
  if (!result.saveFailed && result.slot < 0) {
    if (stop.kind != Stop::kAtStep) {
      result.failure = "the job stopped, unkilled, before it was done";
      return result;
    }
    result.slot = static_cast<int>(stop.step);
  }
  if (stop.powerLoss && result.slot >= 0) {
    result.powerLoss = true;
    if (crash_ == nullptr || !crash_->Lose(random(), &result.loss)) {
      result.failure = "jx-crashfs could not lose the power";
      return result;
    }
  }
  result.failure = AfterStop(run, &result);
  return result;
}

std::string Driver::OnEvent(const std::string& line, int answers, RunState* run, RunResult* result) {
  const std::vector<std::string> f = SplitFields(line);
  const std::string& kind = f[0];
  const auto field = [&f](size_t i) { return i < f.size() ? f[i] : std::string(); };
  if (kind == event::kLoaded) {
    if (SavedState{field(1), field(2)}.Text() != run->onDisk) return "the manager loaded a state other than the state file's";
  } else if (kind == event::kCleaned) {
    result->cleaned = true;
  } else if (kind == event::kStarted) {
    run->job = static_cast<pid_t>(std::atol(field(1).c_str()));
  } else if (kind == event::kResumed) {
    return OnResumed(field(1), run);
  } else if (kind == event::kSaving) {
    return OnSaving({field(1), field(2)}, run);
  } else if (kind == event::kSaved) {
    const std::string failed = OnSaved(run);
    if (!failed.empty()) return failed;
    if (!WriteLine(answers, kGoOn)) return std::string();  // the manager is gone
  } else if (kind == event::kSaveFailed) {
    result->saveFailed = true;
    if (field(1).find(std::strerror(ENOSPC)) == std::string::npos) return "a failed save says '" + field(1) + "'";
  } else if (kind == event::kDone) {
    run->done = true;
    run->doneBytes = std::strtoull(field(1).c_str(), nullptr, 10);
  } else if (kind == event::kStartFailed) {
    return "the manager could not start the job: " + field(1);
  }
  return std::string();
}

// A restart resumes exactly at the offsets of the state file on disk; a
// fresh start at 0.
std::string Driver::OnResumed(const std::string& volumes, RunState* run) const {
  Offsets resumed, expected;
  if (!OffsetsOf(volumes, &resumed)) return "the job resumed at an invalid volume restart string";
  if (run->restart) {
    if (!OffsetsOf(run->last.volumeString, &expected)) return "the state file's volume restart string is invalid";
  } else {
    for (const Volume& v : sample_.volumes) expected[v.id] = 0;
  }
  if (resumed != expected) return "the job resumed at offsets other than the state file's: " + volumes;
  run->offsets = resumed;
  run->resumed = true;
  return std::string();
}

// Each state the job hands on has moved one volume on by one block (less
// at the end of the volume), and its two strings agree.
std::string Driver::OnSaving(const SavedState& state, RunState* run) const {
  run->saving = state;
  const std::string shown = state.jobString + " " + state.volumeString;
  Offsets now;
  if (!run->resumed || !OffsetsOf(state.volumeString, &now)) return "a state before the job resumed, or invalid: " + shown;
  int moved = 0;
  for (const Volume& v : sample_.volumes) {
    const uint64_t before = run->offsets[v.id], after = now[v.id];
    if (after == before) continue;
    ++moved;
    if (after != before + std::min(sample_.block, v.size - before)) {
      return "volume " + std::to_string(v.id) + " moved from " + std::to_string(before) + " to " + std::to_string(after);
    }
  }
  if (moved != 1) return "a state that moves " + Count(static_cast<uint64_t>(moved), "volume", "volumes") + ": " + shown;
  std::string items = state.jobString.substr(state.jobString.find(' ') + 1);
  JxRestartability tracker;
  if (!tracker.ParseRestartInputFromJM(&items[0])) return "the job restart string holds no volume: " + shown;
  for (const Volume& v : sample_.volumes) {
    int32_t blocks = -1;
    if (!tracker.GetBMOffsetFromVolId(v.id, &blocks) ||
        static_cast<uint64_t>(blocks) != (now[v.id] + sample_.block - 1) / sample_.block) {
      return "the job restart string disagrees with the volume restart string: " + shown;
    }
  }
  run->offsets = now;
  return std::string();
}

// Acknowledged means on disk: the state file holds the state, whole.
std::string Driver::OnSaved(RunState* run) {
  bool exists = false;
  const std::string onDisk = ReadFile(sample_.StateFile(), &exists);
  if (onDisk != run->saving.Text()) {
    return "the manager acknowledged a state that the state file does not hold: it holds " +
           (exists ? "\"" + onDisk + "\"" : std::string("nothing"));
  }
  run->last = run->saving;
  acknowledged_ = run->saving;
  if (observer_) observer_(SavedBytes());
  return std::string();
}

// After a run that a kill, a power loss or a failed save stopped: the
// state file is the last state the job may count on, or the one being
// saved, whole.
std::string Driver::AfterStop(const RunState& run, RunResult* result) const {
  // A missing file is not an empty one.
  const auto text = [](const SavedState& state) { return state.jobString.empty() ? kMissing : state.Text(); };
  bool exists = false;
  const std::string read = ReadFile(sample_.StateFile(), &exists);
  const std::string onDisk = exists ? read : kMissing;
  if (result->saveFailed) {
    if (onDisk != text(run.last)) return "a failed save changed the state file";
    if (::access(TemporaryOf(sample_.StateFile()).c_str(), F_OK) == 0) return "a failed save left its temporary file";
    bool logged = false;
    if (ReadFile(sample_.folder + "/job-errors", &logged).find("could not save the state") == std::string::npos) {
      return "the job stopped at a failed save without saying why";
    }
    return std::string();
  }
  if (onDisk != text(run.last) && onDisk != text(run.saving)) {
    return "the state file is neither the last acknowledged state nor the one being saved: " +
           (exists ? "it holds \"" + read + "\"" : std::string("there is none"));
  }
  return std::string();
}

std::string Driver::Verify(long interruptions) const {
  for (const Volume& v : sample_.volumes) {
    if (!SameFile(v.source, v.dest)) return "destination " + std::to_string(v.id) + " differs from its source";
  }
  const uint64_t total = sample_.Total();
  const uint64_t allowed = static_cast<uint64_t>(interruptions) * sample_.block;
  if (written_ < total || written_ - total > allowed) {
    return FormatSize(written_) + " written for " + FormatSize(total) + " with " +
           Count(static_cast<uint64_t>(interruptions), "interruption", "interruptions");
  }
  return std::string();
}

}  // namespace copyjob
