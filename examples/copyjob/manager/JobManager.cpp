#include "examples/copyjob/manager/JobManager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "examples/copyjob/Protocol.h"

namespace copyjob {

namespace {

bool ReadLine(std::FILE* in, std::string* line) {
  line->clear();
  for (int c; (c = std::fgetc(in)) != EOF;) {
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return false;
}

// Writes the temporary file and makes it durable; false, with errno set,
// when a step fails.
bool WriteTemporary(const std::string& temporary, const std::string& text) {
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return written;
}

}  // namespace

std::string TemporaryOf(const std::string& path) { return path + ".tmp"; }

// The new state reaches the disk whole before it takes the old one's name,
// and the name is durable before the job is told: a crash at any point
// leaves the old file or the new one.
bool SaveState(const std::string& path, const SavedState& state) {
  const std::string temporary = TemporaryOf(path);
  if (!WriteTemporary(temporary, state.Text())) {
    const int error = errno;
    std::remove(temporary.c_str());
    errno = error;
    return false;
  }
  return ::rename(temporary.c_str(), path.c_str()) == 0 && SyncFolderOf(path);
}

bool LoadState(const std::string& path, SavedState* state) {
  std::ifstream in(path);
  std::string rest;
  return std::getline(in, state->jobString) && std::getline(in, state->volumeString) && !std::getline(in, rest);
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
  // The state file is the old one or the new one; a leftover temporary file
  // is never read.
  cleanedTemporary_ = std::remove(TemporaryOf(stateFile_).c_str()) == 0;
  std::vector<std::string> args = {program_, "--manifest", manifest_, "--block", std::to_string(block_)};
  if (restart) {
    if (!LoadState(stateFile_, &state_)) return false;
    // The job restart string is "-Restart <items>": the option and its value.
    const size_t space = state_.jobString.find(' ');
    if (space == std::string::npos) return false;
    args.insert(args.end(), {state_.jobString.substr(0, space), state_.jobString.substr(space + 1), "--volumes",
                             state_.volumeString});
  }
  std::vector<std::pair<std::string, std::string>> env;
  if (!jobLog_.empty()) env.emplace_back("ZN_DEBUG_LOG", jobLog_);
  int toChild = -1, fromChild = -1;
  pid_ = StartWithPipes(args, env, &toChild, &fromChild);
  if (pid_ < 0) return false;
  toJob_ = ::fdopen(toChild, "w");
  fromJob_ = ::fdopen(fromChild, "r");
  written_ = 0;
  return pid_ > 0;
}

JobManager::Event JobManager::Next() {
  std::string line;
  if (!ReadLine(fromJob_, &line)) return Event::kGone;
  const size_t first = line.find(kSeparator);
  const std::string kind = line.substr(0, first);
  if (first == std::string::npos) return Event::kGone;
  if (kind == kResumeLine) {
    resumed_ = line.substr(first + 1);
    return Event::kResume;
  }
  if (kind == kDoneLine) {
    written_ = std::strtoull(line.c_str() + first + 1, nullptr, 10);
    return Event::kDone;
  }
  const size_t second = line.find(kSeparator, first + 1);
  if (kind != kStateLine || second == std::string::npos) return Event::kGone;
  SavedState state{line.substr(first + 1, second - first - 1), line.substr(second + 1)};
  if (onSave_) onSave_(state);
  if (!save_(stateFile_, state)) {
    saveError_ = std::string("cannot save ") + stateFile_ + ": " + std::strerror(errno);
    Answer(std::string(kRefusal) + " " + saveError_);
    return Event::kSaveFailed;
  }
  state_ = std::move(state);
  return Event::kState;
}

void JobManager::Acknowledge() { Answer(kAck); }

void JobManager::Answer(const std::string& line) {
  std::fputs(line.c_str(), toJob_);
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
