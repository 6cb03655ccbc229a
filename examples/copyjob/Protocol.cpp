#include "examples/copyjob/Protocol.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace copyjob {

bool WriteAll(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteLine(int fd, const std::string& text) { return WriteAll(fd, text + '\n'); }

bool ReadLine(int fd, std::string* line) {
  line->clear();
  for (char c;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    line->push_back(c);
  }
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool SyncFolderOf(const std::string& path) {
  const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

pid_t StartWithPipes(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env, int* toChild, int* fromChild) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return -1;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return -1;
  }
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::signal(SIGPIPE, SIG_DFL);  // a parent that ignores it does not pass that on
    for (const auto& setting : env) ::setenv(setting.first.c_str(), setting.second.c_str(), 1);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  *toChild = in[1];
  *fromChild = out[0];
  return pid;
}

}  // namespace copyjob
