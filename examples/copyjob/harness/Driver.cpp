#include "examples/copyjob/harness/Driver.h"

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

#include "examples/copyjob/harness/DemoOptions.h"
#include "examples/copyjob/harness/Interrupt.h"
#include "examples/copyjob/Protocol.h"
#include "examples/copyjob/careless/CarelessSaves.h"
#include "examples/copyjob/harness/Relay.h"
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

// The state file as the harness knows it, read and written without the
// code under test: the job restart string and the volume restart string,
// a line each.
std::string StateText(const SavedState& state) { return state.jobString + '\n' + state.volumeString + '\n'; }

bool ReadState(const std::string& text, SavedState* state) {
  const size_t first = text.find('\n');
  const size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
  if (second == std::string::npos || second + 1 != text.size()) return false;
  *state = {text.substr(0, first), text.substr(first + 1, second - first - 1)};
  return true;
}

uint64_t Sum(const Offsets& offsets) {
  uint64_t total = 0;
  for (const auto& entry : offsets) total += entry.second;
  return total;
}

}  // namespace

uint64_t Sample::Total() const {
  uint64_t total = 0;
  for (const SampleVolume& v : volumes) total += v.size;
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
    const SampleVolume v{id, sizes[i], folder + "/source-" + name, sample->Destinations() + "/" + name};
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
  Offsets offsets;       // of the last state handed on or resumed at
  uint64_t moved = 0;    // bytes the run's states moved on
  bool killed = false;   // by the driver
  int killedAt = -1;     // the step at which the relay killed
  bool done = false;
  uint64_t doneBytes = 0;  // what the job says it wrote
};

Driver::Driver(const Sample& sample, DriverSettings settings, CrashDisk* crash)
    : sample_(sample), settings_(std::move(settings)), crash_(crash) {}

uint64_t Driver::SavedBytes() const {
  Offsets offsets;
  return OffsetsOf(acknowledged_.volumeString, &offsets) ? Sum(offsets) : 0;
}

pid_t Driver::StartManager(const Stop& stop, int* events) const {
  int fromManager[2];
  if (::pipe2(fromManager, O_CLOEXEC) != 0) return -1;
  const bool carelessSave = static_cast<bool>(CarelessSave(settings_.plant));
  const bool carelessJob = settings_.plant == kCarelessCopy;
  std::vector<std::pair<std::string, std::string>> settings = {
      {relay::kJob, carelessJob ? settings_.carelessJob : settings_.job},
      {relay::kState, sample_.StateFile()},
  };
  if (stop.kind == Stop::kAtStep && InfoOf(stop.step).event == nullptr) {
    settings.push_back({relay::kKill, StepName(stop.step) + (":" + std::to_string(stop.at))});
  }
  if (stop.powerLoss) settings.push_back({relay::kGroup, "1"});
  std::vector<std::string> args = {carelessSave ? settings_.carelessManager : settings_.manager,
                                   "--job",
                                   settings_.relay,
                                   "--manifest",
                                   sample_.Manifest(),
                                   "--state",
                                   sample_.StateFile(),
                                   "--block",
                                   std::to_string(sample_.block)};
  if (!settings_.jobLog.empty()) args.insert(args.end(), {"--job-log", settings_.jobLog});
  if (carelessSave) args.insert(args.end(), {"--plant", settings_.plant});
  const std::string errors = sample_.folder + "/job-errors";
  const pid_t pid = ::fork();
  if (pid == 0) {
    // A process group of its own, so that a crash of the machine can take
    // the manager and its job together.
    ::setpgid(0, 0);
    ::dup2(fromManager[1], STDOUT_FILENO);
    // The relay's events join the manager's, lines whole, on a descriptor
    // that the manager hands on to its job.
    const int relayEvents = ::fcntl(STDOUT_FILENO, F_DUPFD, 10);
    settings.push_back({relay::kEvents, std::to_string(relayEvents)});
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
  ::close(fromManager[1]);
  *events = fromManager[0];
  return pid;
}

// What jx-crashfs is to do in the run: count the destinations' writes,
// kill at a step it sees, fail a save.
std::string Driver::Plan(const Stop& stop) const {
  if (crash_ == nullptr) {
    const bool needed = (stop.kind == Stop::kAtStep && InfoOf(stop.step).event != nullptr) || stop.failingSave > 0 ||
                        stop.powerLoss;
    return needed ? "this stop needs jx-crashfs" : std::string();
  }
  std::vector<std::string> events{"clear", "count write:*.vol"};
  if (stop.kind == Stop::kAtStep && InfoOf(stop.step).event != nullptr) events.push_back(KillEvent(stop.step, stop.at));
  if (stop.failingSave > 0) {
    static const char* const kFailing[] = {"fail write:state* %ld ENOSPC", "fail fsync:state* %ld EIO",
                                           "fail fsyncdir:/ %ld EIO"};
    char event[64];
    std::snprintf(event, sizeof event, kFailing[stop.failing], stop.failingSave);
    events.push_back(event);
  }
  std::string report;
  return crash_->Plan(events, &report) ? std::string() : "jx-crashfs refused the plan: " + report;
}

RunResult Driver::Run(const Stop& asked, std::mt19937_64& random) {
  RunResult result;
  // A kill at a share of the data: the job, as it hands on the state after
  // the one that vouches for it, before the manager has it; or, when no
  // block is left, once the job has its last answer.
  Stop stop = asked;
  if (stop.kind == Stop::kWhenSaved) {
    size_t all = 0;
    const size_t states = sample_.StatesUntil(stop.savedBytes, &all);
    stop.kind = Stop::kAtStep;
    stop.step = states < all ? Step::kStateSent : Step::kAckRead;
    stop.at = static_cast<long>(states < all ? states + 1 : states);
  }
  RunState run;
  run.onDisk = ReadFile(sample_.StateFile(), &run.restart);
  if (run.restart && !ReadState(run.onDisk, &run.last)) {
    result.failure = "the state file is not two lines: " + run.onDisk;
    return result;
  }
  result.failure = Plan(stop);
  if (!result.failure.empty()) return result;
  int events = -1;
  const pid_t manager = StartManager(stop, &events);
  if (manager < 0) {
    result.failure = "cannot start the manager";
    return result;
  }
  // A kill from outside comes after its delay; the job's counts from when
  // the job runs, so that it is the job it takes.
  const bool fromOutside = stop.kind == Stop::kJob || stop.kind == Stop::kMachine;
  const auto delay = std::chrono::microseconds(stop.delayMicros);
  auto deadline = std::chrono::steady_clock::now() + delay;
  bool counting = stop.kind == Stop::kMachine;
  std::string pending;
  for (;;) {
    if (!counting && run.job > 0) {
      counting = true;
      deadline = std::chrono::steady_clock::now() + delay;
    }
    const bool timed = fromOutside && counting && !run.killed;
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
      const bool jobOnly = stop.kind == Stop::kJob;
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
      result.failure = OnEvent(pending.substr(0, end), &run, &result);
      if (!result.failure.empty()) ::kill(-manager, SIGKILL);
    }
  }
  ::close(events);
  int status = 0;
  ::waitpid(manager, &status, 0);
  ::kill(-manager, SIGKILL);  // nothing of the run outlives it
  if (!result.failure.empty() || Interrupted()) return result;
  result.failure = Finish(stop, run, random, &result);
  return result;
}

// Once the run has ended: what wrote, what fired, and the disk after it.
std::string Driver::Finish(const Stop& stop, const RunState& run, std::mt19937_64& random, RunResult* result) {
  result->written = run.moved;
  if (result->slot < 0 && run.killedAt >= 0) result->slot = run.killedAt;
  if (crash_ != nullptr) {
    std::string report;
    if (!crash_->Plan({}, &report)) return "jx-crashfs cannot say what it saw";
    unsigned long long bytes = 0;
    const size_t count = report.find("count write:*.vol: ");
    if (count == std::string::npos || std::sscanf(report.c_str() + count, "count write:*.vol: %*u seen, %llu", &bytes) != 1) {
      return "jx-crashfs did not count the writes: " + report;
    }
    result->written = bytes;
    if (stop.kind == Stop::kAtStep && InfoOf(stop.step).event != nullptr &&
        report.find(KillEvent(stop.step, stop.at) + ": fired") != std::string::npos) {
      result->slot = static_cast<int>(stop.step);
    }
  }
  written_ += result->written;
  interrupted_ = !run.done;
  lastWritten_ = result->written;
  result->done = run.done;
  if (run.done) {
    return run.doneBytes == result->written ? std::string()
                                            : "the job says it wrote " + std::to_string(run.doneBytes) + " bytes; " +
                                                  std::to_string(result->written) + " were written";
  }
  if (!result->saveFailed && result->slot < 0) return "the job stopped, unkilled, before it was done";
  if (stop.powerLoss && result->slot >= 0) {
    result->powerLoss = true;
    if (crash_ == nullptr || !crash_->Lose(random(), &result->loss)) return "jx-crashfs could not lose the power";
  }
  return AfterStop(stop, run, result);
}

std::string Driver::OnEvent(const std::string& line, RunState* run, RunResult* result) {
  const std::vector<std::string> f = SplitFields(line);
  const std::string& kind = f[0];
  const auto field = [&f](size_t i) { return i < f.size() ? f[i] : std::string(); };
  if (kind == event::kLoaded) {
    if (StateText({field(1), field(2)}) != run->onDisk) return "the manager loaded a state other than the state file's";
  } else if (kind == event::kCleaned) {
    result->cleaned = true;
  } else if (kind == relay::kJobStarted) {
    run->job = static_cast<pid_t>(std::atol(field(1).c_str()));
  } else if (kind == event::kResumed) {
    return OnResumed(field(1), run);
  } else if (kind == event::kSaving) {
    return OnSaving({field(1), field(2)}, run);
  } else if (kind == relay::kAcked) {
    return OnAcked({field(1), field(2)}, run);
  } else if (kind == relay::kKilled) {
    Step step;
    if (StepByName(field(1), &step)) run->killedAt = static_cast<int>(step);
  } else if (kind == relay::kFailed) {
    return field(1);
  } else if (kind == event::kSaveFailed) {
    result->saveFailed = true;
    if (field(1).find(std::strerror(ENOSPC)) == std::string::npos && field(1).find(std::strerror(EIO)) == std::string::npos) {
      return "a failed save says '" + field(1) + "'";
    }
  } else if (kind == event::kDone) {
    run->done = true;
    run->doneBytes = std::strtoull(field(1).c_str(), nullptr, 10);
  } else if (kind == event::kStartFailed) {
    return "the manager could not start the job: " + field(1);
  }
  return std::string();
}

// A restart resumes exactly at the offsets of the state file on disk; a
// fresh start at 0. The interruption before it cost no more than a block.
std::string Driver::OnResumed(const std::string& volumes, RunState* run) {
  Offsets resumed, expected;
  if (!OffsetsOf(volumes, &resumed)) return "the job resumed at an invalid volume restart string";
  if (run->restart) {
    if (!OffsetsOf(run->last.volumeString, &expected)) return "the state file's volume restart string is invalid";
  } else {
    for (const SampleVolume& v : sample_.volumes) expected[v.id] = 0;
  }
  if (resumed != expected) return "the job resumed at offsets other than the state file's: " + volumes;
  const uint64_t at = Sum(resumed);
  if (interrupted_ && lastWritten_ > at - std::min(at, lastResumed_) + sample_.block) {
    return "the run before wrote " + std::to_string(lastWritten_) + " bytes, " +
           std::to_string(lastWritten_ - (at - std::min(at, lastResumed_))) +
           " of them beyond where this one resumes: more than a block written again";
  }
  lastResumed_ = at;
  run->offsets = resumed;
  run->resumed = true;
  return std::string();
}
// Each state the job hands on has moved one volume on by one block (less
// at the end of the volume), and its two strings agree.
std::string Driver::OnSaving(const SavedState& state, RunState* run) {
  run->saving = state;
  handedOn_.insert(StateText(state));
  const std::string shown = state.jobString + " " + state.volumeString;
  Offsets now;
  if (!run->resumed || !OffsetsOf(state.volumeString, &now)) return "a state before the job resumed, or invalid: " + shown;
  int moved = 0;
  for (const SampleVolume& v : sample_.volumes) {
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
  for (const SampleVolume& v : sample_.volumes) {
    int32_t blocks = -1;
    if (!tracker.GetBMOffsetFromVolId(v.id, &blocks) ||
        static_cast<uint64_t>(blocks) != (now[v.id] + sample_.block - 1) / sample_.block) {
      return "the job restart string disagrees with the volume restart string: " + shown;
    }
  }
  run->moved += Sum(now) - Sum(run->offsets);
  run->offsets = now;
  return std::string();
}

// The job was told "ok" for `state`, which the relay found in the state
// file: it must be the state handed on.
std::string Driver::OnAcked(const SavedState& state, RunState* run) {
  if (StateText(state) != StateText(run->saving)) return "the job was told \"ok\" for a state it did not hand on";
  run->last = state;
  acknowledged_ = state;
  if (observer_) observer_(SavedBytes());
  return std::string();
}

// After a run that a kill, a power loss or a failed save stopped: the
// state file is the last state the job may count on, or the one being
// saved, whole.
std::string Driver::AfterStop(const Stop& stop, const RunState& run, RunResult* result) const {
  // A missing file is not an empty one.
  const auto text = [](const SavedState& state) { return state.jobString.empty() ? kMissing : StateText(state); };
  bool exists = false;
  const std::string read = ReadFile(sample_.StateFile(), &exists);
  const std::string onDisk = exists ? read : kMissing;
  if (result->saveFailed) {
    // A folder that failed its sync after the rename has the new file.
    const bool renamed = stop.failing == Stop::kFolderSync && onDisk == text(run.saving);
    if (onDisk != text(run.last) && !renamed) return "a failed save changed the state file";
    if (::access(TemporaryOf(sample_.StateFile()).c_str(), F_OK) == 0) return "a failed save left its temporary file";
    bool logged = false;
    if (ReadFile(sample_.folder + "/job-errors", &logged).find("could not save the state") == std::string::npos) {
      return "the job stopped at a failed save without saying why";
    }
    return std::string();
  }
  if (!AtLeastAcknowledged(onDisk)) {
    return "the state file is not a whole state handed on, as far as the last the job was told \"ok\" for: " +
           (exists ? "it holds \"" + read + "\"" : std::string("there is none"));
  }
  return std::string();
}

// What a crash may leave: a state the job handed on (in this run or, not
// yet durable, in one before) that is nowhere behind the last the job was
// told "ok" for; or no file, before any.
bool Driver::AtLeastAcknowledged(const std::string& onDisk) const {
  if (acknowledged_.jobString.empty() && onDisk == kMissing) return true;
  SavedState state;
  Offsets held, acknowledged;
  if (handedOn_.count(onDisk) == 0 || !ReadState(onDisk, &state) || !OffsetsOf(state.volumeString, &held)) return false;
  if (acknowledged_.jobString.empty()) return true;
  if (!OffsetsOf(acknowledged_.volumeString, &acknowledged)) return false;
  for (const auto& [id, offset] : acknowledged) {
    if (held[id] < offset) return false;
  }
  return true;
}

std::string Driver::Verify() const {
  for (const SampleVolume& v : sample_.volumes) {
    if (!SameFile(v.source, v.dest)) return "destination " + std::to_string(v.id) + " differs from its source";
  }
  return std::string();
}

}  // namespace copyjob
