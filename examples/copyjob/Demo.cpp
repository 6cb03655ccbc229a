// jx-copy-demo: makes sample volumes, starts the copy job, kills it with
// SIGKILL part-way, restarts it from the state its job manager saved, and
// checks that every destination matches its source. With --torture, runs
// the torture run instead (Torture.h).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "examples/copyjob/DemoOptions.h"
#include "examples/copyjob/Interrupt.h"
#include "examples/copyjob/JobManager.h"
#include "examples/copyjob/Torture.h"
#include "restart/JxRestartVersion.h"
#include "restart/ZNJxRestart.h"

namespace copyjob {
namespace {

const char kUsage[] =
    R"(Usage: jx-copy-demo [--volumes N] [--size BYTES] [--block BYTES] [--kill-at PERCENT] [--keep DIR]
       jx-copy-demo --torture ROUNDS [--seed S] [--round R]

Copies N sample volumes of pseudo-random data with the example job, kills
the job with SIGKILL once its saved state passes PERCENT of the data,
restarts it from that state, and checks every destination against its
source. BYTES may end in K, M or G (or KiB, MiB, GiB). Defaults: 4 volumes
of 32M, blocks of 1M, kill at 50%, in a temporary folder under $TMPDIR
(/tmp when unset) that is removed afterwards, also on Ctrl-C; --keep DIR
works in DIR and keeps it.

--torture runs ROUNDS rounds instead, reproducible from the seed (from the
clock when --seed is not given): each copies a few small volumes through
one or more SIGKILLs, at each step of the protocol in turn and at random
moments, of the job or of the job and its manager together; in some rounds
a save fails as on a full disk. Each round is verified. --round R runs
round R alone, as a failed round says.

With ZN_DEBUG_LOG set to a file, the job's library lines go there; read
them with 'jxrestart log FILE'.

Exit status: 0 when every check passed, 1 when one failed, 2 for a usage
error, 128 + the signal when interrupted.
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

struct Sample {
  std::string folder, manifest, stateFile;
  std::vector<std::string> sources, dests;
  bool temporary = false;

  void Remove() const {
    if (temporary && !folder.empty()) std::filesystem::remove_all(folder);
  }
};

// The sample's folder and manifest; the volumes come after, so that an
// interruption while they are written still removes the folder.
Sample MakeFolder(const DemoOptions& o) {
  Sample s;
  if (o.keep.empty()) {
    std::string folder = TemporaryFolder() + "/jx-copy-demo.XXXXXX";
    if (::mkdtemp(&folder[0]) == nullptr) Die("cannot make a folder in " + TemporaryFolder());
    s.folder = folder;
    s.temporary = true;
  } else {
    s.folder = o.keep;
    ::mkdir(s.folder.c_str(), 0755);
  }
  s.manifest = s.folder + "/manifest";
  s.stateFile = s.folder + "/state";
  std::remove(s.stateFile.c_str());
  return s;
}

bool MakeVolumes(const DemoOptions& o, Sample* s) {
  std::ofstream manifest(s->manifest);
  std::mt19937_64 random(42);
  std::vector<uint64_t> chunk(1 << 13);
  for (int v = 1; v <= o.volumes; ++v) {
    s->sources.push_back(s->folder + "/source-" + std::to_string(v) + ".vol");
    s->dests.push_back(s->folder + "/dest-" + std::to_string(v) + ".vol");
    std::ofstream out(s->sources.back(), std::ios::binary);
    for (uint64_t left = o.size; left > 0 && !Interrupted();) {
      for (auto& word : chunk) word = random();
      const uint64_t n = std::min<uint64_t>(left, chunk.size() * sizeof(uint64_t));
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
      left -= n;
    }
    manifest << v << '\t' << (v % 2) << '\t' << 1000 + v << '\t' << s->sources.back() << '\t' << s->dests.back()
             << '\n';
  }
  return static_cast<bool>(manifest.flush());
}

// The bytes that the saved state vouches for, read back by the library,
// and how many volumes it shows unfinished.
uint64_t SavedBytes(const SavedState& state, uint64_t volumeSize, int* unfinished = nullptr) {
  ZNJxRestart records(state.volumeString.c_str());
  uint64_t total = 0;
  for (const auto& entry : records.volumeInfoMap) {
    total += entry.second.offset;
    if (unfinished != nullptr) *unfinished += entry.second.offset < volumeSize;
  }
  return total;
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

bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 16), by(1 << 16);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || std::memcmp(bx.data(), by.data(), static_cast<size_t>(x.gcount())) != 0) {
      return false;
    }
  }
  return x.eof() && y.eof();
}

// Ends the demo when it was asked to: the job dies, the folder goes.
int EndInterrupted(JobManager* manager, const Sample& s) {
  if (manager != nullptr) {
    manager->Kill();
    manager->Wait();
  }
  s.Remove();
  const int signal = Interrupted();
  std::fprintf(stderr, "\njx-copy-demo: %s; the job is killed%s\n", strsignal(signal),
               s.temporary ? (" and " + s.folder + " removed").c_str() : "");
  return 128 + signal;
}

int RunDemo(const DemoOptions& o) {
  // The job's library lines go where ZN_DEBUG_LOG says; the demo's own
  // reading of the saved state stays out of that log.
  const char* jobLog = std::getenv("ZN_DEBUG_LOG");
  const std::string log = jobLog != nullptr ? jobLog : "";
  ::unsetenv("ZN_DEBUG_LOG");

  Sample s = MakeFolder(o);
  const uint64_t total = o.size * static_cast<uint64_t>(o.volumes);
  const uint64_t killPoint = total * static_cast<uint64_t>(o.killAt) / 100;
  Say("%s of %s in %s, blocks of %s; the job is killed once %d%% is saved\n",
      Count(static_cast<uint64_t>(o.volumes), "volume", "volumes").c_str(), FormatSize(o.size).c_str(),
      s.folder.c_str(), FormatSize(o.block).c_str(), o.killAt);
  if (!MakeVolumes(o, &s) && !Interrupted()) Die("cannot write the sample volumes in " + s.folder);
  if (Interrupted()) return EndInterrupted(nullptr, s);

  JobManager manager(ProgramBeside("jx-copy-job"), s.manifest, s.stateFile, o.block);
  manager.SetJobLog(log);
  Progress progress(total);
  if (!manager.Start(false)) Die("cannot start the job");
  progress.Begin("run 1", 0);
  uint64_t saved = 0;
  JobManager::Event event;
  while ((event = manager.Next()) == JobManager::Event::kState || event == JobManager::Event::kResume) {
    if (event == JobManager::Event::kResume) continue;
    saved = SavedBytes(manager.state(), o.size);
    progress.Show(saved);
    if (Interrupted()) return EndInterrupted(&manager, s);
    manager.Acknowledge();  // the job goes on with its next block ...
    if (saved >= killPoint) break;
  }
  if (Interrupted()) return EndInterrupted(&manager, s);
  const bool finished = event == JobManager::Event::kDone;
  if (!finished && event != JobManager::Event::kState) Die("the job failed before it could be killed");
  progress.End();

  uint64_t onDisk = 0, after = 0;
  int unfinished = 0;
  if (finished) {
    manager.Wait();
    Say("the job finished before it reached the kill point (%d%%): each block is %s of %s in all, so no state fell "
        "between %d%% and 100%%; nothing to restart\n",
        o.killAt, FormatSize(o.block).c_str(), FormatSize(total).c_str(), o.killAt);
    saved = total;
  } else {
    manager.Kill();  // ... and is killed in the middle of it
    manager.Wait();
    SavedBytes(manager.state(), o.size, &unfinished);
    for (const std::string& dest : s.dests) onDisk += FileSize(dest);
    Say("killed: the state vouches for %s, %s is on disk\n", FormatSize(saved).c_str(), FormatSize(onDisk).c_str());
    if (saved == total) {
      Say("the kill point (%d%%) fell past the end of the copy: the first state saved at or past it was the last, "
          "100%% in blocks of %s; the restart has nothing left to copy\n",
          o.killAt, FormatSize(o.block).c_str());
    }
    Say("restarting with %s\n           and %s\n", manager.state().jobString.c_str(),
        manager.state().volumeString.c_str());
    if (!manager.Start(true)) Die("cannot restart the job from " + s.stateFile);
    progress.Begin("run 2", saved);
    while ((event = manager.Next()) == JobManager::Event::kState || event == JobManager::Event::kResume) {
      if (event == JobManager::Event::kState) progress.Show(SavedBytes(manager.state(), o.size));
      if (Interrupted()) return EndInterrupted(&manager, s);
      if (event == JobManager::Event::kState) manager.Acknowledge();
    }
    if (Interrupted()) return EndInterrupted(&manager, s);
    progress.End();
    if (event != JobManager::Event::kDone || manager.Wait() != 0) Die("the restarted job failed");
    after = manager.written();
  }

  const uint64_t remained = total - saved;
  const uint64_t recopied = after + onDisk > total ? after + onDisk - total : 0;
  size_t matching = 0;
  for (size_t i = 0; i < s.sources.size(); ++i) matching += SameContent(s.sources[i], s.dests[i]);

  if (!finished) {
    Say("\nbytes copied before the kill:   %s (saved in the state)\n", FormatSize(saved).c_str());
    Say("bytes copied after the restart: %s (%s copied again: the block in flight)\n", FormatSize(after).c_str(),
        FormatSize(recopied).c_str());
    Say("the restart saved %s (%d%%) against copying all %s again\n", FormatSize(total - after).c_str(),
        static_cast<int>((total - after) * 100 / total), FormatSize(total).c_str());
  }
  Say("destinations matching their sources: %zu of %zu\n", matching, s.sources.size());

  bool ok = matching == s.sources.size();
  if (!finished && after != remained) {
    ok = false;
    Say("check failed: the restart did not resume at the saved offsets\n");
  }
  if (recopied > o.block * static_cast<uint64_t>(unfinished)) {
    ok = false;
    Say("check failed: copied again more than one block per unfinished volume\n");
  }
  if (Interrupted()) return EndInterrupted(nullptr, s);
  s.Remove();
  return ok ? 0 : 1;
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
  settings.jobProgram = ProgramBeside("jx-copy-job");
  settings.folder = TemporaryFolder();
  ::unsetenv("ZN_DEBUG_LOG");
  return RunTorture(settings);
}

}  // namespace
}  // namespace copyjob

int main(int argc, char** argv) { return copyjob::Main(argc, argv); }
