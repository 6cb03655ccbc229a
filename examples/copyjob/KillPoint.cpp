#include "examples/copyjob/KillPoint.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace copyjob {

namespace {

const char* const kStepNames[kStepCount] = {
    "job-started",       "block-half-written", "block-written", "block-synced", "state-sent",    "save-started",
    "temp-half-written", "temp-written",       "temp-synced",   "renamed",      "folder-synced", "ack-read",
};

struct KillPlan {
  int step = -1;  // none
  long at = 0;    // the n-th time it is reached
  long reached = 0;
};

KillPlan& Plan() {
  static KillPlan plan = [] {
    KillPlan p;
    const char* setting = std::getenv("JX_COPY_KILL_AT");
    if (setting == nullptr) return p;
    const char* colon = std::strchr(setting, ':');
    Step step;
    if (colon != nullptr && StepByName(std::string(setting, colon), &step)) {
      p.step = static_cast<int>(step);
      p.at = std::atol(colon + 1);
    }
    return p;
  }();
  return plan;
}

long NumberFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? 0 : std::atol(value);
}

}  // namespace

const char* StepName(Step step) { return kStepNames[static_cast<int>(step)]; }

bool StepByName(const std::string& name, Step* step) {
  for (int i = 0; i < kStepCount; ++i) {
    if (name == kStepNames[i]) {
      *step = static_cast<Step>(i);
      return true;
    }
  }
  return false;
}

bool IsJobStep(Step step) { return step < Step::kSaveStarted || step == Step::kAckRead; }

void Reach(Step step) {
  KillPlan& plan = Plan();
  if (plan.step != static_cast<int>(step) || ++plan.reached != plan.at) return;
  ::kill(IsJobStep(step) ? ::getpid() : 0, SIGKILL);
  ::pause();
}

bool SaveFails() {
  static long saves = 0;
  static const long failing = NumberFromEnvironment("JX_COPY_FAIL_SAVE");
  return ++saves == failing;
}

void LogWrite(int32_t volume, uint64_t offset, uint64_t bytes) {
  static const int fd = [] {
    const char* path = std::getenv("JX_COPY_WRITE_LOG");
    return path == nullptr ? -1 : ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }();
  if (fd < 0) return;
  const std::string line = std::to_string(volume) + " " + std::to_string(offset) + " " + std::to_string(bytes) + "\n";
  // One write, so that a kill never leaves half a line.
  if (::write(fd, line.data(), line.size()) < 0) return;
}

}  // namespace copyjob
