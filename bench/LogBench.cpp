// How fast `jxrestart log` reads a job log, and in how much memory: writes
// a job-like log (mostly the rebuilt-string lines of a 1,000-volume job,
// with other lines and a hand-off line with the volume restart string now
// and then), then times the tool reading it from the page cache.
//
//   JxRestartLogBench [MEGABYTES]     default 1024; the log goes to $TMPDIR
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kVolumes = 1000;

std::string JobLine(int round) {
  std::string line = "JxRestartability::BuildJobRestartString: The Restart string: -Restart ";
  for (int v = 1; v <= kVolumes; ++v) {
    line += std::to_string(v) + "|" + std::to_string(round * 3 + v % 7) + "@";
  }
  return line + "\n";
}

std::string HandOffLine(int round) {
  std::string line = "jx-copy-job: handed over the volumes ";
  for (int v = 1; v <= kVolumes; ++v) {
    line += std::to_string(v % 2) + "|" + std::to_string(v) + "|" + std::to_string(1000 + v) + "|" +
            std::to_string(static_cast<long long>(round) * 3145728) + "$";
  }
  return line + "\n";
}

// Writes about `bytes` of log to `path`; returns what it wrote.
size_t WriteLog(const std::string& path, size_t bytes) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return 0;
  size_t written = 0;
  for (int round = 0; written < bytes; ++round) {
    std::string chunk = JobLine(round);
    chunk += "2026-12-09 12:00:00 copy: volume " + std::to_string(round % kVolumes + 1) + " block " +
             std::to_string(round) + " synced\n";
    chunk += "JxRestartability::UpdateJobRestartInfoMap: unrelated line without a restart string\n";
    if (round % 50 == 0) chunk += HandOffLine(round);
    written += std::fwrite(chunk.data(), 1, chunk.size(), out);
  }
  std::fclose(out);
  return written;
}

// Runs the tool on `path` with its output thrown away; returns seconds.
double TimeTool(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::execl(JXRESTART_TOOL, JXRESTART_TOOL, "log", path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "jxrestart log failed: %d\n", status);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const char* folder = std::getenv("TMPDIR");
  const std::string path =
      std::string(folder && *folder ? folder : "/tmp") + "/jxrestart-log-bench." + std::to_string(::getpid());
  const size_t bytes = WriteLog(path, megabytes << 20);
  if (bytes == 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  double best = 1e9;
  for (int run = 0; run < 3; ++run) best = std::min(best, TimeTool(path));
  std::remove(path.c_str());
  struct rusage usage;
  ::getrusage(RUSAGE_CHILDREN, &usage);
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("jxrestart log: %.0f MB in %.2f s, %.0f MB/s; largest resident size %.1f MB\n", mb, best, mb / best,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
