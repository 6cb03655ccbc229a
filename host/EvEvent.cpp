// The replacement host log: silent unless a sink or ZN_DEBUG_LOG listens.

#include "host/EvEvent.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "host/ZnEvEventLayout.h"
#include "host/ZnLogSink.h"

namespace {

// Lines are delivered under this lock, so a sink sees one line at a time
// and SetDebugSink can wait for a line in flight before it returns.
std::mutex& DeliveryMutex() {
  static std::mutex mutex;
  return mutex;
}

znlib::DebugSink& Sink() {
  static znlib::DebugSink sink;
  return sink;
}

std::atomic<bool> g_sink_installed{false};

// The file descriptor that ZN_DEBUG_LOG names, or -1 when it is unset or
// cannot be opened. Read once, on the first line logged.
int EnvironmentDescriptor() {
  static const int fd = [] {
    const char* target = std::getenv("ZN_DEBUG_LOG");
    if (target == nullptr || *target == '\0') return -1;
    if (std::strcmp(target, "stderr") == 0) return STDERR_FILENO;
    return ::open(target, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }();
  return fd;
}

// A log whose reader has gone (a closed pipe) must not end the process:
// while the log writes, SIGPIPE is held, and one that the write raised is
// dropped. One that was pending before stays pending.
class BrokenPipeHeld {
 public:
  BrokenPipeHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~BrokenPipeHeld() {
    if (!wasPending_ && broken_) {
      const timespec now{0, 0};
      sigtimedwait(&pipe_, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  void Broken() { broken_ = true; }

 private:
  sigset_t pipe_, previous_;
  bool wasPending_ = false;
  bool broken_ = false;
};

void WriteAll(int fd, const std::string& line) {
  BrokenPipeHeld held;
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EPIPE) held.Broken();
    if (written <= 0) return;  // a failing log never disturbs the caller
    data += written;
    left -= static_cast<size_t>(written);
  }
}

std::string Format(const char* format, va_list args) {
  char small[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
  std::string text(static_cast<size_t>(needed), '\0');
  std::vsnprintf(&text[0], text.size() + 1, format, args);
  return text;
}

void Deliver(int fd, const char* tag, const std::string& message) {
  std::string line;
  if (fd >= 0) {
    line.reserve(std::strlen(tag) + message.size() + 3);
    line.append(tag).append(": ").append(message).push_back('\n');
  }
  std::lock_guard<std::mutex> lock(DeliveryMutex());
  if (fd >= 0) WriteAll(fd, line);
  if (Sink()) Sink()(tag, message.c_str());
}

}  // namespace

namespace znlib {

void SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(DeliveryMutex());
  Sink() = std::move(sink);
  g_sink_installed.store(static_cast<bool>(Sink()), std::memory_order_release);
}

}  // namespace znlib

const ZnEvEventLayout zn_evevent_layout = {sizeof(EvEvent), alignof(EvEvent)};

EvEvent::EvEvent() = default;
EvEvent::~EvEvent() = default;

void EvDebug::Debug(const char* tag, const char* format, ...) {
  const int fd = EnvironmentDescriptor();
  if (fd < 0 && !g_sink_installed.load(std::memory_order_acquire)) return;
  if (tag == nullptr) tag = "";
  if (format == nullptr) format = "";
  va_list args;
  va_start(args, format);
  try {
    std::string message = Format(format, args);
    Deliver(fd, tag, message);
  } catch (...) {
    // Out of memory, or a sink that threw: the line is lost, and the
    // operation that logged it goes on as if it had been written.
  }
  va_end(args);
}
