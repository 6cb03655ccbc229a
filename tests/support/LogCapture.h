// Records every line the host log delivers while it is alive, so a test can
// assert both an operation's result and exactly what it logged.
#ifndef TESTS_SUPPORT_LOGCAPTURE_H_
#define TESTS_SUPPORT_LOGCAPTURE_H_

#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/ZnLogSink.h"

namespace jxrestart {
namespace testing {

struct LogLine {
  std::string tag;
  std::string message;
  bool operator==(const LogLine& other) const { return tag == other.tag && message == other.message; }
};

inline std::ostream& operator<<(std::ostream& out, const LogLine& line) {
  return out << "{\"" << line.tag << "\", \"" << line.message << "\"}";
}

using LogLines = std::vector<LogLine>;

class LogCapture {
 public:
  LogCapture() {
    znlib::SetDebugSink([this](const char* tag, const char* message) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(LogLine{tag, message});
    });
  }
  ~LogCapture() { znlib::SetDebugSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Returns the lines recorded since the last call and forgets them.
  LogLines Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    LogLines taken;
    taken.swap(lines_);
    return taken;
  }

 private:
  std::mutex mutex_;
  LogLines lines_;
};

}  // namespace testing
}  // namespace jxrestart

#endif  // TESTS_SUPPORT_LOGCAPTURE_H_
