// jx-copy-demo: makes sample volumes, starts the copy job under its
// manager, kills the job with SIGKILL part-way, restarts it from the state
// its manager saved, and checks on disk that every destination matches its
// source (Driver.h). With --torture, runs the torture run instead
// (Torture.h).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "examples/copyjob/harness/DemoOptions.h"
#include "examples/copyjob/harness/Driver.h"
#include "examples/copyjob/harness/Interrupt.h"
#include "examples/copyjob/torture/Torture.h"
#include "restart/JxRestartVersion.h"

namespace copyjob {
namespace {

const char kUsage[] =
    R"(Usage: jx-copy-demo [--volumes N] [--size BYTES] [--block BYTES] [--kill-at PERCENT] [--keep DIR]
       jx-copy-demo --torture ROUNDS [--seed S] [--round R] [--plant FAULT] [--max-failures N]

Copies N sample volumes of pseudo-random data with the example job, kills
the job with SIGKILL once its saved state passes PERCENT of the data,
restarts it from that state, and checks every destination against its
source. BYTES may end in K, M or G (or KiB, MiB, GiB). Defaults: 4 volumes
of 32M, blocks of 1M, kill at 50%, in a temporary folder under $TMPDIR
(/tmp when unset) that is removed afterwards, also on Ctrl-C; --keep DIR
works in DIR and keeps it.

--torture runs ROUNDS rounds instead, reproducible from the seed (from the
clock when --seed is not given), on jx-crashfs, a file system that forgets
what was not synced (it must be able to mount; exit 77 says why not): each
copies a few small volumes through two to five SIGKILLs, at each step of
the protocol in turn and at random moments, of the job or of the job and
its manager together, most of them power losses that take what was not
synced; in some rounds a save fails (a full disk, a failing sync of the
file or of its folder). Each round is verified. --round R runs round R
alone, as a failed round says. --max-failures N ends the run after N
failed rounds (a planted fault is shown caught by the first).
--plant FAULT runs the rounds with a careless build of the manager or the
job, to show that they catch it: no-sync-temp (the temporary file not
synced), stream-temp (the same through a stream), new-name (the same named
state.new), rename-first (renamed before it is synced), no-sync-folder
(the folder not synced after the rename), folder-first (synced before it
instead), in-place (the state file rewritten in place), ack-early (the
job told "ok" before the save's syncs), skip-save (every seventh save not
made) or state-first (the job hands a state on before its block is
synced).

With ZN_DEBUG_LOG set to a file, the job's library lines go there; read
them with 'jxrestart log FILE'.

Exit status: 0 when every check passed, 1 when one failed (or a kind of
kill or fault the torture planned never came), 2 for a usage error, 77
when the torture cannot mount jx-crashfs, 128 + the signal when
interrupted.
)";

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "jx-copy-demo: %s\n", message.c_str());
  std::exit(1);
}

std::string ProgramBeside(const char* name) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) Die("cannot find my own program");
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + name;
}

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

DriverSettings Programs() {
  DriverSettings settings;
  settings.manager = ProgramBeside("jx-copy-manager");
  settings.carelessManager = ProgramBeside("jx-copy-careless-manager");
  settings.job = ProgramBeside("jx-copy-job");
  settings.carelessJob = ProgramBeside("jx-copy-careless-job");
  settings.relay = ProgramBeside("jx-copy-relay");
  return settings;
}

// The demo's folder, temporary unless --keep names one.
struct Folder {
  std::string path;
  bool temporary = false;

  void Remove() const {
    if (temporary && !path.empty()) std::filesystem::remove_all(path);
  }
};

Folder MakeFolder(const DemoOptions& o) {
  Folder f;
  if (o.keep.empty()) {
    std::string folder = TemporaryFolder() + "/jx-copy-demo.XXXXXX";
    if (::mkdtemp(&folder[0]) == nullptr) Die("cannot make a folder in " + TemporaryFolder());
    f.path = folder;
    f.temporary = true;
  } else {
    ::mkdir(o.keep.c_str(), 0755);
    f.path = std::filesystem::absolute(o.keep).lexically_normal().string();  // the job works elsewhere
    while (f.path.size() > 1 && f.path.back() == '/') f.path.pop_back();
  }
  std::remove((f.path + "/state").c_str());
  return f;
}

uint64_t FileSize(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::string Duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// On a terminal, one line with percentage, rate and time left, redrawn at
// most four times a second; otherwise a line at every tenth.
class Progress {
 public:
  explicit Progress(uint64_t total) : total_(total), terminal_(::isatty(STDOUT_FILENO)) {}

  void Begin(const char* run, uint64_t done) {
    run_ = run;
    start_ = std::chrono::steady_clock::now();
    startBytes_ = done;
    lastTenth_ = -1;
    drawn_ = {};
  }

  void Show(uint64_t done) {
    const int percent = static_cast<int>(done * 100 / total_);
    const auto now = std::chrono::steady_clock::now();
    if (terminal_) {
      if (done != total_ && now - drawn_ < std::chrono::milliseconds(250)) return;
      drawn_ = now;
      const double seconds = std::chrono::duration<double>(now - start_).count();
      const double rate = seconds > 0 ? static_cast<double>(done - startBytes_) / seconds : 0;
      const std::string left = rate > 0 ? Duration(static_cast<double>(total_ - done) / rate) + " left" : "";
      Say("\r\033[K%s %3d%%  %s of %s  %s/s  %s", run_, percent, FormatSize(done).c_str(), FormatSize(total_).c_str(),
          FormatSize(static_cast<uint64_t>(rate)).c_str(), left.c_str());
    } else if (percent / 10 != lastTenth_) {
      lastTenth_ = percent / 10;
      Say("%s: %d%% (%s of %s)\n", run_, percent, FormatSize(done).c_str(), FormatSize(total_).c_str());
    }
  }

  void End() {
    if (terminal_) Say("\n");
  }

 private:
  uint64_t total_;
  bool terminal_;
  const char* run_ = "";
  std::chrono::steady_clock::time_point start_, drawn_;
  uint64_t startBytes_ = 0;
  int lastTenth_ = -1;
};

// Ends the demo when it was asked to; the runs have killed the job.
int EndInterrupted(const Folder& f) {
  f.Remove();
  const int signal = Interrupted();
  std::fprintf(stderr, "\njx-copy-demo: %s; the job is killed%s\n", strsignal(signal),
               f.temporary ? (" and " + f.path + " removed").c_str() : "");
  return 128 + signal;
}

int Fail(const Folder& f, const std::string& what) {
  Say("check failed: %s\n", what.c_str());
  f.Remove();
  return 1;
}

// One round of the driver: a run killed once the saved state vouches for
// --kill-at of the data, then a run from the state it left.
int RunDemo(const DemoOptions& o) {
  DriverSettings programs = Programs();
  const char* jobLog = std::getenv("ZN_DEBUG_LOG");
  programs.jobLog = jobLog != nullptr ? jobLog : "";
  ::unsetenv("ZN_DEBUG_LOG");  // the demo's own reading of the state stays out of the job's log

  const Folder f = MakeFolder(o);
  const uint64_t total = o.size * static_cast<uint64_t>(o.volumes);
  Say("%s of %s in %s, blocks of %s; the job is killed once %d%% is saved\n",
      Count(static_cast<uint64_t>(o.volumes), "volume", "volumes").c_str(), FormatSize(o.size).c_str(),
      f.path.c_str(), FormatSize(o.block).c_str(), o.killAt);
  Sample sample;
  std::mt19937_64 random(42);
  const bool made = MakeSample(f.path, "", o.block, std::vector<uint64_t>(static_cast<size_t>(o.volumes), o.size), random,
                               &sample);
  if (Interrupted()) return EndInterrupted(f);
  if (!made) Die("cannot write the sample volumes in " + f.path);

  Driver driver(sample, programs);
  Progress progress(total);
  driver.OnAcknowledged([&progress](uint64_t saved) { progress.Show(saved); });
  Stop kill;
  kill.kind = Stop::kWhenSaved;
  kill.savedBytes = total * static_cast<uint64_t>(o.killAt) / 100;
  progress.Begin("run 1", 0);
  RunResult first = driver.Run(kill, random);
  if (Interrupted()) return EndInterrupted(f);
  if (!first.failure.empty()) return Fail(f, first.failure);
  progress.End();
  if (first.done) return Fail(f, "the job finished although it was to be killed");
  const uint64_t saved = driver.SavedBytes();
  uint64_t onDisk = 0;
  for (const SampleVolume& v : sample.volumes) onDisk += FileSize(v.dest);
  Say("killed: the state vouches for %s, %s is on disk\n", FormatSize(saved).c_str(), FormatSize(onDisk).c_str());
  if (saved == total) {
    Say("the kill point (%d%%) fell past the end of the copy: the first state saved at or past it was the last, "
        "100%% in blocks of %s; the restart has nothing left to copy\n",
        o.killAt, FormatSize(o.block).c_str());
  }
  Say("restarting with %s\n           and %s\n", driver.acknowledged().jobString.c_str(),
      driver.acknowledged().volumeString.c_str());
  progress.Begin("run 2", saved);
  const RunResult second = driver.Run(Stop(), random);
  if (Interrupted()) return EndInterrupted(f);
  if (!second.failure.empty()) return Fail(f, second.failure);
  if (!second.done) return Fail(f, "the restarted job did not finish");
  progress.End();
  const uint64_t after = second.written;
  Say("\nbytes copied before the kill:   %s (saved in the state)\n", FormatSize(saved).c_str());
  Say("bytes copied after the restart: %s (%s copied again: the block in flight)\n", FormatSize(after).c_str(),
      FormatSize(onDisk - std::min(onDisk, saved)).c_str());
  Say("the restart saved %s (%d%%) against copying all %s again\n", FormatSize(total - after).c_str(),
      static_cast<int>((total - after) * 100 / total), FormatSize(total).c_str());
  const std::string failed = driver.Verify();
  Say("destinations matching their sources: %s\n",
      failed.empty() ? ("all " + std::to_string(sample.volumes.size()) + ", byte for byte").c_str() : "no");
  if (!failed.empty()) return Fail(f, failed);
  f.Remove();
  return 0;
}

int Main(int argc, char** argv) {
  InstallInterruptHandlers();
  // A log or a pipe sees each line as it is written.
  if (!::isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOLBF, 0);
  DemoOptions o;
  std::string error;
  if (!ParseDemoOptions(std::vector<std::string>(argv + 1, argv + argc), &o, &error)) {
    std::fprintf(stderr, "jx-copy-demo: %s (see --help)\n", error.c_str());
    return 2;
  }
  if (o.help || o.version) {
    Say("%s", o.help ? kUsage : "jx-copy-demo (JxRestart " JXRESTART_VERSION_STRING ")\n");
    return 0;
  }
  if (o.torture == 0) return RunDemo(o);
  TortureSettings settings;
  settings.rounds = o.torture;
  settings.seed =
      o.seed != 0 ? o.seed : static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  settings.onlyRound = o.round;
  settings.maxFailures = o.maxFailures;
  settings.driver = Programs();
  settings.driver.plant = o.plant;
  settings.crashfs = ProgramBeside("jx-crashfs");
  settings.folder = TemporaryFolder();
  ::unsetenv("ZN_DEBUG_LOG");
  return RunTorture(settings);
}

}  // namespace
}  // namespace copyjob

int main(int argc, char** argv) { return copyjob::Main(argc, argv); }
