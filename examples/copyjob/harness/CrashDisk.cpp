#include "examples/copyjob/harness/CrashDisk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace copyjob {

bool CrashDisk::Run(const std::vector<std::string>& args, std::string* out) const {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return false;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe[1], STDOUT_FILENO);
    std::vector<char*> argv{const_cast<char*>(program_.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(pipe[1]);
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) out->append(buffer, static_cast<size_t>(n));
    if (n < 0 && errno != EINTR) break;
  }
  ::close(pipe[0]);
  int status = 0;
  while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CrashDisk::Mount(const std::string& backing, const std::string& mountpoint, std::string* error) {
  Unmount();
  if (::mkdir(mountpoint.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = "cannot make " + mountpoint;
    return false;
  }
  // jx-crashfs says why on its standard error, which the caller's is.
  std::string said;
  if (!Run({"mount", backing, mountpoint}, &said)) {
    *error = "jx-crashfs cannot mount " + mountpoint + " (see above)";
    return false;
  }
  mountpoint_ = mountpoint;
  return true;
}

bool CrashDisk::Sync() {
  std::string said;
  return !mountpoint_.empty() && Run({"sync", mountpoint_}, &said);
}

bool CrashDisk::Plan(const std::vector<std::string>& events, std::string* report) {
  std::vector<std::string> args{"plan", mountpoint_};
  args.insert(args.end(), events.begin(), events.end());
  report->clear();
  return !mountpoint_.empty() && Run(args, report);
}

bool CrashDisk::Lose(uint64_t seed, PowerLossReport* report) {
  std::string line;
  if (mountpoint_.empty() || !Run({"lose", mountpoint_, "--seed", std::to_string(seed)}, &line)) return false;
  long files = 0, none = 0, prefix = 0, sectors = 0, whole = 0, kept = 0, names = 0;
  const int read = std::sscanf(line.c_str(),
                               "power lost (seed %*u): of %ld files with unsynced data, %ld kept none of it, %ld a "
                               "prefix, %ld some sectors, %ld all; %ld of %ld unsynced name changes kept",
                               &files, &none, &prefix, &sectors, &whole, &kept, &names);
  if (read != 7) return false;  // the backing folder refused what survives
  report->filesRolledBack = files - whole;
  report->namesUndone = names - kept;
  return true;
}

void CrashDisk::Unmount() {
  if (mountpoint_.empty()) return;
  std::string said;
  if (!Run({"umount", mountpoint_}, &said)) {
    // A process of the run still holds it: it goes once that ends.
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execlp("fusermount3", "fusermount3", "-u", "-z", mountpoint_.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
    while (pid > 0 && ::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  ::rmdir(mountpoint_.c_str());
  mountpoint_.clear();
}

}  // namespace copyjob
