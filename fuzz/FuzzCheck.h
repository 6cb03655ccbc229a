// What the fuzz targets share: a check that aborts, so libFuzzer and the
// corpus replay both report the input that broke it, and a host log that
// listens part of the time.
#ifndef FUZZ_FUZZCHECK_H_
#define FUZZ_FUZZCHECK_H_

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/ZnLogSink.h"

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// The host log formats a line only when someone listens. While one of these
// listens, every text that the library logs goes through the formatting,
// and the lines are kept: a text that reached the log as a format, not
// through "%s", shows as a crash or a line that differs from the text.
class ListeningLog {
 public:
  explicit ListeningLog(bool listen) : listening_(listen) {
    if (listening_) {
      znlib::SetDebugSink(
          [this](const char* tag, const char* message) { lines_.push_back(std::string(tag) + ": " + message); });
    }
  }
  ~ListeningLog() {
    if (listening_) znlib::SetDebugSink(nullptr);
  }
  ListeningLog(const ListeningLog&) = delete;
  ListeningLog& operator=(const ListeningLog&) = delete;

  bool listening() const { return listening_; }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  bool listening_;
  std::vector<std::string> lines_;
};

#endif  // FUZZ_FUZZCHECK_H_
