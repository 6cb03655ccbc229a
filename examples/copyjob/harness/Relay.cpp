// jx-copy-relay: see Relay.h.
//
//   jx-copy-relay JOB-ARGUMENTS...
#include "examples/copyjob/harness/Relay.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "examples/copyjob/Protocol.h"
#include "examples/copyjob/harness/Steps.h"

namespace copyjob {
namespace {

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

class Relay {
 public:
  Relay() : events_(std::atoi(Setting(relay::kEvents).c_str())), state_(Setting(relay::kState)) {
    const std::string kill = Setting(relay::kKill);
    const size_t colon = kill.find(':');
    if (colon != std::string::npos && StepByName(kill.substr(0, colon), &killStep_)) {
      killAt_ = std::atol(kill.c_str() + colon + 1);
    }
    group_ = Setting(relay::kGroup) == "1";
    if (events_ > 0) ::fcntl(events_, F_SETFD, FD_CLOEXEC);  // not the job's
  }

  int Run(char** jobArgs) {
    if (!Start(jobArgs)) return kJobFailed;
    for (std::string line; ReadLine(fromJob_, &line);) {
      const std::vector<std::string> fields = SplitFields(line);
      const bool passed = fields[0] == kResumeLine                        ? Pass(line, Step::kJobStarted)
                          : fields[0] == kStateLine && fields.size() == 3 ? OnState(line, fields[1], fields[2])
                                                                          : WriteAll(STDOUT_FILENO, line + '\n');
      if (!passed) break;
    }
    ::close(toJob_);
    return Wait();
  }

 private:
  bool Start(char** jobArgs) {
    std::vector<std::string> args{Setting(relay::kJob)};
    for (char** arg = jobArgs + 1; *arg != nullptr; ++arg) args.emplace_back(*arg);
    job_ = StartWithPipes(args, {}, &toJob_, &fromJob_);
    if (job_ < 0) return false;
    Tell({relay::kJobStarted, std::to_string(job_)});
    return true;
  }

  // Passes a line of the job on, unless its step is the one to kill at:
  // then the job (or the group) dies with the line unread, and the relay
  // passes nothing more.
  bool Pass(const std::string& line, Step step) {
    if (Counts(step)) {
      Kill(step);
      return false;
    }
    return WriteAll(STDOUT_FILENO, line + '\n');
  }

  // The state goes to the manager; its answer to the job, an "ok" only
  // once the state file bears it out.
  bool OnState(const std::string& line, const std::string& job, const std::string& volumes) {
    std::string answer;
    if (!Pass(line, Step::kStateSent) || !ReadLine(STDIN_FILENO, &answer)) return false;
    if (answer == kAck) {
      const std::string held = FileText(state_);
      if (held != job + '\n' + volumes + '\n') {
        Tell({relay::kFailed, "the job is told \"ok\" for a state that the state file does not hold: it holds \"" +
                                   held + "\""});
        ::kill(0, SIGKILL);
      }
    }
    if (!WriteAll(toJob_, answer + '\n')) return false;
    if (answer != kAck) return true;
    Tell({relay::kAcked, job, volumes});
    if (!Counts(Step::kAckRead)) return true;
    Kill(Step::kAckRead);
    return false;
  }

  static std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "\x01missing";
  }

  bool Counts(Step step) { return step == killStep_ && ++reached_ == killAt_; }

  void Kill(Step step) {
    Tell({relay::kKilled, StepName(step)});
    ::kill(group_ ? 0 : job_, SIGKILL);
  }

  void Tell(std::initializer_list<std::string> fields) {
    if (events_ > 0) WriteAll(events_, Fields(fields) + '\n');
  }

  // The job's end is the relay's, so that the manager sees it as it was.
  int Wait() {
    int status = 0;
    while (::waitpid(job_, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
      ::signal(WTERMSIG(status), SIG_DFL);
      ::raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : kJobFailed;
  }

  int events_;
  std::string state_;
  Step killStep_ = Step::kJobStarted;
  long killAt_ = 0, reached_ = 0;
  bool group_ = false;
  pid_t job_ = -1;
  int toJob_ = -1, fromJob_ = -1;
};

}  // namespace
}  // namespace copyjob

int main(int, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);  // a killed job is seen at its pipe's end, not by a signal
  return copyjob::Relay().Run(argv);
}
