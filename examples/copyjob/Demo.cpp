// jx-copy-demo: makes sample volumes, starts the copy job, kills it with
// SIGKILL part-way, restarts it from the state its job manager saved, and
// checks that every destination matches its source.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "examples/copyjob/JobManager.h"
#include "restart/ZNJxRestart.h"

namespace copyjob {
namespace {

const char kUsage[] =
    R"(Usage: jx-copy-demo [--volumes N] [--size BYTES] [--block BYTES] [--kill-at PERCENT] [--keep DIR]

Copies N sample volumes of pseudo-random data with the example job, kills
the job with SIGKILL once its saved state passes PERCENT of the data,
restarts it from that state, and checks every destination against its
source. BYTES may end in K or M. Defaults: 4 volumes of 32M, blocks of 1M,
kill at 50%, a temporary folder that is removed afterwards.
)";

struct Options {
  int volumes = 4;
  uint64_t size = 32 << 20;
  uint64_t block = 1 << 20;
  int killAt = 50;
  std::string keep;
};

[[noreturn]] void Die(const std::string& message) {
  std::cerr << "jx-copy-demo: " << message << '\n';
  std::exit(1);
}

uint64_t ParseBytes(const std::string& text) {
  char* end = nullptr;
  uint64_t value = std::strtoull(text.c_str(), &end, 10);
  if (*end == 'K' || *end == 'k') value <<= 10, ++end;
  if (*end == 'M' || *end == 'm') value <<= 20, ++end;
  if (*end != '\0' || end == text.c_str()) Die("not a size: '" + text + "'");
  return value;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (i + 1 == argc) Die("'" + arg + "' needs a value (see --help)");
    const std::string value = argv[++i];
    if (arg == "--volumes") {
      o.volumes = std::atoi(value.c_str());
    } else if (arg == "--size") {
      o.size = ParseBytes(value);
    } else if (arg == "--block") {
      o.block = ParseBytes(value);
    } else if (arg == "--kill-at") {
      o.killAt = std::atoi(value.c_str());
    } else if (arg == "--keep") {
      o.keep = value;
    } else {
      Die("unknown option '" + arg + "' (see --help)");
    }
  }
  if (o.volumes < 1 || o.size == 0 || o.block == 0 || o.killAt < 1 || o.killAt > 99) Die("bad options (see --help)");
  if (o.size / o.block > INT32_MAX) Die("too many blocks per volume");
  return o;
}

std::string MiB(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

std::string ProgramBeside(const char* name) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) Die("cannot find my own program");
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + name;
}

struct Sample {
  std::string folder, manifest, stateFile;
  std::vector<std::string> sources, dests;
};

Sample MakeVolumes(const Options& o) {
  Sample s;
  if (o.keep.empty()) {
    char folder[] = "/tmp/jx-copy-demo.XXXXXX";
    if (::mkdtemp(folder) == nullptr) Die("cannot make a temporary folder");
    s.folder = folder;
  } else {
    s.folder = o.keep;
    ::mkdir(s.folder.c_str(), 0755);
  }
  s.manifest = s.folder + "/manifest";
  s.stateFile = s.folder + "/state";
  std::remove(s.stateFile.c_str());
  std::ofstream manifest(s.manifest);
  std::mt19937_64 random(42);
  std::vector<uint64_t> chunk(1 << 13);
  for (int v = 1; v <= o.volumes; ++v) {
    s.sources.push_back(s.folder + "/source-" + std::to_string(v) + ".vol");
    s.dests.push_back(s.folder + "/dest-" + std::to_string(v) + ".vol");
    std::ofstream out(s.sources.back(), std::ios::binary);
    for (uint64_t left = o.size; left > 0;) {
      for (auto& word : chunk) word = random();
      const uint64_t n = std::min<uint64_t>(left, chunk.size() * sizeof(uint64_t));
      out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
      left -= n;
    }
    manifest << v << '\t' << (v % 2) << '\t' << 1000 + v << '\t' << s.sources.back() << '\t' << s.dests.back() << '\n';
  }
  if (!manifest.flush()) Die("cannot write the sample volumes in " + s.folder);
  return s;
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

class Progress {
 public:
  explicit Progress(uint64_t total) : total_(total), terminal_(::isatty(STDOUT_FILENO)) {}

  void Show(const char* run, uint64_t done) {
    const int percent = static_cast<int>(done * 100 / total_);
    if (terminal_) {
      const int filled = percent * 40 / 100;
      std::printf("\r%s [%s%s] %3d%%  %s of %s", run, std::string(filled, '#').c_str(),
                  std::string(40 - filled, '.').c_str(), percent, MiB(done).c_str(), MiB(total_).c_str());
      std::fflush(stdout);
    } else if (percent / 10 != lastTenth_) {
      lastTenth_ = percent / 10;
      std::printf("%s: %d%% (%s of %s)\n", run, percent, MiB(done).c_str(), MiB(total_).c_str());
    }
  }

  void End() {
    if (terminal_) std::printf("\n");
    lastTenth_ = -1;
  }

 private:
  uint64_t total_;
  bool terminal_;
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

int Run(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  const Sample s = MakeVolumes(o);
  const uint64_t total = o.size * static_cast<uint64_t>(o.volumes);
  const uint64_t killPoint = total * static_cast<uint64_t>(o.killAt) / 100;
  std::printf("%d volumes of %s in %s, blocks of %s; the job is killed once %d%% is saved\n", o.volumes,
              MiB(o.size).c_str(), s.folder.c_str(), MiB(o.block).c_str(), o.killAt);

  JobManager manager(ProgramBeside("jx-copy-job"), s.manifest, s.stateFile, o.block);
  Progress progress(total);
  if (!manager.Start(false)) Die("cannot start the job");
  uint64_t saved = 0;
  for (;;) {
    const JobManager::Event event = manager.Next();
    if (event != JobManager::Event::kState) Die("the job ended before it could be killed");
    saved = SavedBytes(manager.state(), o.size);
    progress.Show("run 1", saved);
    manager.Acknowledge();  // the job goes on with its next block ...
    if (saved >= killPoint) break;
  }
  manager.Kill();  // ... and is killed in the middle of it
  manager.Wait();
  int unfinished = 0;
  SavedBytes(manager.state(), o.size, &unfinished);
  progress.End();
  uint64_t onDisk = 0;
  for (const std::string& dest : s.dests) onDisk += FileSize(dest);
  std::printf("killed: the state vouches for %s, %s is on disk\n", MiB(saved).c_str(), MiB(onDisk).c_str());
  std::printf("restarting with %s\n           and %s\n", manager.state().jobString.c_str(),
              manager.state().volumeString.c_str());

  if (!manager.Start(true)) Die("cannot restart the job from " + s.stateFile);
  JobManager::Event event;
  while ((event = manager.Next()) == JobManager::Event::kState) {
    progress.Show("run 2", SavedBytes(manager.state(), o.size));
    manager.Acknowledge();
  }
  progress.End();
  if (event != JobManager::Event::kDone || manager.Wait() != 0) Die("the restarted job failed");

  const uint64_t after = manager.written();
  const uint64_t remained = total - saved;
  const uint64_t recopied = after + onDisk > total ? after + onDisk - total : 0;
  int mismatches = 0;
  for (size_t i = 0; i < s.sources.size(); ++i) mismatches += !SameContent(s.sources[i], s.dests[i]);

  std::printf("\nbytes copied before the kill:   %s (saved in the state)\n", MiB(saved).c_str());
  std::printf("bytes copied after the restart: %s (%s re-copied: the block in flight)\n", MiB(after).c_str(),
              MiB(recopied).c_str());
  std::printf("the restart saved %s (%d%%) against copying all %s again\n", MiB(total - after).c_str(),
              static_cast<int>((total - after) * 100 / total), MiB(total).c_str());
  std::printf("destinations matching their sources: %zu of %zu\n", s.sources.size() - mismatches, s.sources.size());

  bool ok = mismatches == 0;
  if (after != remained) {
    ok = false;
    std::printf("check failed: the restart did not resume at the saved offsets\n");
  }
  if (recopied > o.block * static_cast<uint64_t>(unfinished)) {
    ok = false;
    std::printf("check failed: re-copied more than one block per unfinished volume\n");
  }
  if (o.keep.empty()) {
    std::vector<std::string> files = {s.manifest, s.stateFile, s.stateFile + ".tmp"};
    files.insert(files.end(), s.sources.begin(), s.sources.end());
    files.insert(files.end(), s.dests.begin(), s.dests.end());
    for (const std::string& file : files) std::remove(file.c_str());
    ::rmdir(s.folder.c_str());
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace copyjob

int main(int argc, char** argv) { return copyjob::Run(argc, argv); }
