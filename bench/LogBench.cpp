// How fast `jxrestart log` reads job logs, against `grep -c -- -Restart` on
// the same file in the same run (grep stops looking at a line once it has
// matched, so it bounds the speed from above), and in how much memory.
//
//   JxRestartLogBench [MEGABYTES]     default 1024; the logs go to $TMPDIR
//
// The logs, each read from the page cache, best of three runs:
//   - a job log: mostly the rebuilt-string lines of a 1,000-volume job,
//     with other lines and a hand-off line with the volume restart string
//     now and then (MEGABYTES), read plain, with --all, --json --all, and
//     with its picture drawn (--svg);
//   - the rebuilt-string lines of a 1,000-volume job alone, offsets growing
//     (MEGABYTES / 3);
//   - one line of a job restart string of 12 million volumes, and a log of
//     states of a million volumes: the resident memory per volume beyond the
//     longest line.
// Both programs write to a pipe that this one drains: GNU grep stops at its
// first match when its output is /dev/null.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kVolumes = 1000;

std::string JobLine(int round, int volumes) {
  std::string line = "JxRestartability::BuildJobRestartString: The Restart string: -Restart ";
  for (int v = 1; v <= volumes; ++v) line += std::to_string(v) + "|" + std::to_string(round * 3 + v % 7) + "@";
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

// Writes about `bytes` of what `chunk` gives for round 0, 1, ... to `path`;
// returns what it wrote.
size_t WriteLog(const std::string& path, size_t bytes, const std::function<std::string(int)>& chunk) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return 0;
  size_t written = 0;
  for (int round = 0; written < bytes; ++round) {
    const std::string text = chunk(round);
    written += std::fwrite(text.data(), 1, text.size(), out);
  }
  std::fclose(out);
  return written;
}

std::string JobLog(int round) {
  std::string text = JobLine(round, kVolumes);
  text += "2026-12-09 12:00:00 copy: volume " + std::to_string(round % kVolumes + 1) + " block " +
          std::to_string(round) + " synced\n";
  text += "JxRestartability::UpdateJobRestartInfoMap: unrelated line without a restart string\n";
  if (round % 50 == 0) text += HandOffLine(round);
  return text;
}

struct Run {
  double seconds;
  double residentMb;
  int status;
};

// Runs `argv` with its output to a pipe that is drained; best of three,
// or the one run when it takes longer than 10 s.
Run Time(const std::vector<std::string>& command) {
  Run best{1e9, 0, 0};
  for (int attempt = 0; attempt < 3; ++attempt) {
    int out[2];
    if (::pipe(out) != 0) return best;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    char buffer[1 << 16];
    while (::read(out[0], buffer, sizeof buffer) > 0) {
    }
    ::close(out[0]);
    int status = 0;
    struct rusage usage;
    ::wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best.seconds) best = {seconds, static_cast<double>(usage.ru_maxrss) / 1024.0, status};
    if (seconds > 10) break;
  }
  return best;
}

// jxrestart log with each set of `options` on one file, against grep.
void Compare(const char* what, const std::string& path, size_t bytes,
             const std::vector<std::vector<std::string>>& options = {{}}) {
  const double mb = static_cast<double>(bytes) / 1e6;
  const Run grep = Time({"grep", "-c", "--", "-Restart", path});
  std::printf("%s, %.0f MB:\n", what, mb);
  for (const std::vector<std::string>& extra : options) {
    std::vector<std::string> command = {JXRESTART_TOOL, "log"};
    std::string shown = "jxrestart log";
    for (const std::string& option : extra) {
      command.push_back(option);
      shown += " " + (option.find('/') == std::string::npos ? option : std::string("FILE"));
    }
    command.push_back(path);
    const Run tool = Time(command);
    if (!WIFEXITED(tool.status) || WEXITSTATUS(tool.status) != 0) std::fprintf(stderr, "%s failed\n", shown.c_str());
    std::printf("  %-26s %7.0f MB/s  (%.2f s, %.1f MB resident; %.1fx grep's time)\n", shown.c_str(), mb / tool.seconds,
                tool.seconds, tool.residentMb, tool.seconds / grep.seconds);
  }
  std::printf("  %-26s %7.0f MB/s  (%.2f s)\n", "grep -c -Restart", mb / grep.seconds, grep.seconds);
}

// A job log as a container runtime (Docker's json-file) or the journal
// (journalctl -o json, its members in the order of its hash table)
// delivers it, each line a record.
std::string Wrapped(const std::string& lines, bool journal) {
  std::string out;
  for (size_t at = 0, end; at < lines.size(); at = end + 1) {
    end = lines.find('\n', at);
    const std::string line = lines.substr(at, end - at);
    out += journal ? "{\"_PID\":\"4711\",\"MESSAGE\":\"" + line + "\",\"__CURSOR\":\"s=1\",\"SYSLOG_IDENTIFIER\":\"job\"}\n"
                   : "{\"log\":\"" + line + "\\n\",\"stream\":\"stdout\",\"time\":\"2026-12-10T12:00:00.000000001Z\"}\n";
  }
  return out;
}

// The resident memory per volume beyond the longest line.
void Memory(const char* what, const std::string& path, size_t longest, size_t volumes) {
  const Run tool = Time({JXRESTART_TOOL, "log", path});
  const double beyond = tool.residentMb * 1048576.0 - static_cast<double>(longest);
  std::printf("%s: %.0f MB resident for a longest line of %.0f MB and %zu volumes: %.0f bytes per volume beyond it\n",
              what, tool.residentMb, static_cast<double>(longest) / 1048576.0, volumes,
              beyond / static_cast<double>(volumes));
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const char* folder = std::getenv("TMPDIR");
  const std::string base =
      std::string(folder && *folder ? folder : "/tmp") + "/jxrestart-log-bench." + std::to_string(::getpid());
  const std::string path = base + ".log";
  size_t bytes = WriteLog(path, megabytes << 20, JobLog);
  if (bytes == 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  Compare("a job log", path, bytes, {{}, {"--all"}, {"--json", "--all"}, {"--svg", base + ".svg"}});
  std::remove((base + ".svg").c_str());
  for (const bool journal : {false, true}) {
    bytes = WriteLog(path, (megabytes << 20) / 3, [journal](int round) { return Wrapped(JobLog(round), journal); });
    Compare(journal ? "the job log in the journal (-o json)" : "the job log from a container (json-file)", path, bytes);
  }
  bytes = WriteLog(path, (megabytes << 20) / 3, [](int round) { return JobLine(round, kVolumes); });
  Compare("1,000-volume lines", path, bytes);
  // Memory: one line of many volumes, and states of a million volumes.
  const int huge = static_cast<int>(std::min<size_t>(12000000, megabytes * 12000));
  const std::string line = JobLine(1, huge);
  WriteLog(path, line.size(), [&line](int) { return line; });
  Memory("one line", path, line.size(), static_cast<size_t>(huge));
  const int million = static_cast<int>(std::min<size_t>(1000000, megabytes * 1000));
  const size_t longest = JobLine(9, million).size();
  WriteLog(path, longest * 10, [million](int round) { return JobLine(round, million); });
  Memory("states of many volumes", path, longest, static_cast<size_t>(million));
  std::remove(path.c_str());
  return 0;
}
