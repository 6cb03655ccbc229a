// Several threads, each with trackers and record tables of its own, logging
// through one host log with a sink installed and ZN_DEBUG_LOG writing to a
// file: no data race (ThreadSanitizer runs this), and no line lost.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"
#include "tests/support/LogCapture.h"

namespace {

// A job's life on both classes; every call logs at least one line.
void Workload(int seed) {
  JxRestartability tracker;
  std::vector<RecoveryVolData_t> ids;
  for (int32_t i = 1; i <= 20; ++i) ids.push_back({i});
  tracker.PopulateVolumeOffsetMap(ids);
  for (int32_t round = 0; round < 20; ++round) {
    for (int32_t i = 1; i <= 20; ++i) tracker.UpdateJobRestartInfoMapAndString(i, round * seed);
  }
  tracker.UpdateJobRestartInfoMapAndString(99, 1);  // not found: a failure line
  std::string input = "1|5@2|6@3|7@";
  tracker.ParseRestartInputFromJM(&input[0]);

  ZNJxRestart table("1|1|1|1$2|2|2|2$");
  for (int32_t i = 0; i < 50; ++i) table.AddVolumeInfo({1, i % 5, i, static_cast<uint64_t>(seed)});
  uint64_t offset;
  table.GetOffsetForSrcVolId(12345, offset);  // not found
  ZNJxRestart invalid("1|2|3|4$9|8$");
}

size_t CountLines(const std::string& path) {
  std::ifstream in(path);
  size_t lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

TEST(Concurrency, ThreadsWithTheirOwnObjectsShareTheLog) {
  const std::string path = ::testing::TempDir() + "/concurrency-" + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  ::setenv("ZN_DEBUG_LOG", path.c_str(), 1);  // before this process's first line

  jxrestart::testing::LogCapture capture;
  Workload(1);
  const size_t perRun = capture.Take().size();
  ASSERT_GT(perRun, 400u);

  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(Workload, t + 2);
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(capture.Take().size(), perRun * kThreads);
  EXPECT_EQ(CountLines(path), perRun * (kThreads + 1));
  std::remove(path.c_str());
}

}  // namespace
