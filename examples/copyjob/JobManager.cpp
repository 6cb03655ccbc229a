#include "examples/copyjob/JobManager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "examples/copyjob/Protocol.h"

namespace copyjob {

namespace {

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SyncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool ReadLine(std::FILE* in, std::string* line) {
  line->clear();
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return false;
}

}  // namespace

bool SaveState(const std::string& path, const SavedState& state) {
  const std::string temporary = path + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, state.jobString + '\n' + state.volumeString + '\n') && ::fsync(fd) == 0;
  ::close(fd);
  return written && ::rename(temporary.c_str(), path.c_str()) == 0 && SyncFolderOf(path);
}

bool LoadState(const std::string& path, SavedState* state) {
  std::ifstream in(path);
  return std::getline(in, state->jobString) && std::getline(in, state->volumeString);
}

JobManager::JobManager(std::string jobProgram, std::string manifest, std::string stateFile, uint64_t block)
    : program_(std::move(jobProgram)),
      manifest_(std::move(manifest)),
      stateFile_(std::move(stateFile)),
      block_(block) {}

JobManager::~JobManager() {
  if (pid_ > 0) {
    Kill();
    Wait();
  }
}

bool JobManager::Start(bool restart) {
  std::vector<std::string> args = {program_, "--manifest", manifest_, "--block", std::to_string(block_)};
  if (restart) {
    if (!LoadState(stateFile_, &state_)) return false;
    // The job restart string is "-Restart <items>": the option and its value.
    const size_t space = state_.jobString.find(' ');
    if (space == std::string::npos) return false;
    args.insert(args.end(), {state_.jobString.substr(0, space), state_.jobString.substr(space + 1), "--volumes",
                             state_.volumeString});
  }
  int toChild[2], fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return false;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  toJob_ = ::fdopen(toChild[1], "w");
  fromJob_ = ::fdopen(fromChild[0], "r");
  written_ = 0;
  return pid_ > 0;
}

JobManager::Event JobManager::Next() {
  std::string line;
  if (!ReadLine(fromJob_, &line)) return Event::kGone;
  const size_t first = line.find(kSeparator);
  const std::string kind = line.substr(0, first);
  if (kind == kDoneLine) {
    written_ = std::strtoull(line.c_str() + first + 1, nullptr, 10);
    return Event::kDone;
  }
  const size_t second = line.find(kSeparator, first + 1);
  if (kind != kStateLine || first == std::string::npos || second == std::string::npos) return Event::kGone;
  state_ = {line.substr(first + 1, second - first - 1), line.substr(second + 1)};
  if (!SaveState(stateFile_, state_)) return Event::kGone;
  return Event::kState;
}

void JobManager::Acknowledge() {
  std::fputs(kAck, toJob_);
  std::fputc('\n', toJob_);
  std::fflush(toJob_);
}

void JobManager::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

int JobManager::Wait() {
  if (toJob_) std::fclose(toJob_);
  if (fromJob_) std::fclose(fromJob_);
  toJob_ = fromJob_ = nullptr;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace copyjob
