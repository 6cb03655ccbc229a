#include <gtest/gtest.h>

#include <cwchar>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/EvEvent.h"
#include "host/ZnLogSink.h"
#include "tests/support/LogCapture.h"

namespace {

using jxrestart::testing::LogCapture;
using jxrestart::testing::LogLine;
using jxrestart::testing::LogLines;

TEST(EvEvent, SinkReceivesTagAndFormattedMessage) {
  LogCapture capture;
  EvEvent log;
  log.Debug("Tag::One", "value = %d , name = %s", -42, "vol");
  log.Debug("Tag:Two", "no placeholder");
  EXPECT_EQ(capture.Take(), (LogLines{{"Tag::One", "value = -42 , name = vol"}, {"Tag:Two", "no placeholder"}}));
}

// An empty message, no tag or format at all, a message the C library
// cannot format: each is one line, never a crash.
TEST(EvEvent, MessagesAtTheEdges) {
  LogCapture capture;
  EvEvent log;
  log.Debug("T", "");
  log.Debug(nullptr, nullptr);
  log.Debug("T", "%lc", static_cast<wint_t>(0x100));  // no such character in the C locale
  EXPECT_EQ(capture.Take(), (LogLines{{"T", ""}, {"", ""}, {"T", ""}}));
}

// Messages of every length around the log's first buffer, and far past it.
TEST(EvEvent, LongMessageIsDeliveredWhole) {
  LogCapture capture;
  for (size_t length : {510, 511, 512, 513, 100000}) {
    const std::string big(length, 'x');
    EvEvent().Debug("T", "%s", big.c_str());
    LogLines lines = capture.Take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, big) << length;
  }
}

TEST(EvEvent, RemovedSinkReceivesNothing) {
  LogCapture capture;
  znlib::SetDebugSink(nullptr);
  EvEvent().Debug("T", "dropped");
  EXPECT_TRUE(capture.Take().empty());
}

TEST(EvEvent, ThrowingSinkDoesNotReachTheCaller) {
  znlib::SetDebugSink([](const char*, const char*) { throw std::runtime_error("sink failed"); });
  EXPECT_NO_THROW(EvEvent().Debug("T", "line"));
  znlib::SetDebugSink(nullptr);
}

TEST(EvEvent, ConcurrentObjectsLoseNoLine) {
  LogCapture capture;
  constexpr int kThreads = 4;
  constexpr int kLines = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      EvEvent log;
      for (int i = 0; i < kLines; ++i) log.Debug("T", "thread %d line %d", t, i);
    });
  }
  for (auto& thread : threads) thread.join();
  LogLines lines = capture.Take();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  for (const LogLine& line : lines) {
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.message.c_str(), "thread %d line %d", &t, &i), 2) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(i, next[t]++) << "lines of one thread arrive in order";
  }
}

}  // namespace
