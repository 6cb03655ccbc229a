// ZN_DEBUG_LOG is read once per process, so every case runs in a child
// process of its own; this program never logs in the parent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "host/EvEvent.h"
#include "tests/support/LogCapture.h"

namespace {

std::string TempPath(const char* name) {
  std::string path = ::testing::TempDir() + "/evevent_env_" + std::to_string(::getpid()) + "_" + name;
  std::remove(path.c_str());
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `body` in a child whose standard error goes to `stderrPath`; returns
// the child's exit status.
int RunChild(const std::string& stderrPath, const std::function<int()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDERR_FILENO);
    ::_exit(body());
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EvEventEnvironment, SilentWhenUnset) {
  const std::string err = TempPath("silent.err");
  ASSERT_EQ(RunChild(err,
                     [] {
                       ::unsetenv("ZN_DEBUG_LOG");
                       EvEvent().Debug("T", "nothing %d", 1);
                       return 0;
                     }),
            0);
  EXPECT_EQ(ReadFile(err), "");
}

TEST(EvEventEnvironment, StderrGetsTagColonMessageLines) {
  const std::string err = TempPath("stderr.err");
  ASSERT_EQ(RunChild(err,
                     [] {
                       ::setenv("ZN_DEBUG_LOG", "stderr", 1);
                       EvEvent log;
                       log.Debug("JxRestartability:PopulateVolumeOffsetMap", "Restart Type is set to: %s",
                                 "RESTART_NUMBER_BASED");
                       log.Debug("T", "second");
                       return 0;
                     }),
            0);
  EXPECT_EQ(ReadFile(err),
            "JxRestartability:PopulateVolumeOffsetMap: Restart Type is set to: RESTART_NUMBER_BASED\n"
            "T: second\n");
}

TEST(EvEventEnvironment, PathIsAppendedToAndReadOnlyOnce) {
  const std::string log = TempPath("append.log");
  const std::string other = TempPath("other.log");
  { std::ofstream(log) << "earlier\n"; }
  ASSERT_EQ(RunChild(TempPath("append.err"),
                     [&] {
                       ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
                       EvEvent event;
                       event.Debug("T", "one");
                       ::setenv("ZN_DEBUG_LOG", other.c_str(), 1);  // too late: already read
                       event.Debug("T", "two");
                       return 0;
                     }),
            0);
  EXPECT_EQ(ReadFile(log), "earlier\nT: one\nT: two\n");
  EXPECT_EQ(ReadFile(other), "");
}

TEST(EvEventEnvironment, LineIsOnDiskBeforeTheProcessIsKilled) {
  const std::string log = TempPath("killed.log");
  RunChild(TempPath("killed.err"), [&] {
    ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
    EvEvent().Debug("T", "last words");
    ::kill(::getpid(), SIGKILL);
    return 0;
  });
  EXPECT_EQ(ReadFile(log), "T: last words\n");
}

TEST(EvEventEnvironment, SinkAndEnvironmentBothReceiveLines) {
  const std::string log = TempPath("both.log");
  ASSERT_EQ(RunChild(TempPath("both.err"),
                     [&] {
                       ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
                       jxrestart::testing::LogCapture capture;
                       EvEvent().Debug("T", "shared %s", "line");
                       const auto lines = capture.Take();
                       return lines.size() == 1 && lines[0].message == "shared line" ? 0 : 1;
                     }),
            0);
  EXPECT_EQ(ReadFile(log), "T: shared line\n");
}

TEST(EvEventEnvironment, UnwritablePathIsSilentNotFatal) {
  const std::string err = TempPath("unwritable.err");
  ASSERT_EQ(RunChild(err,
                     [] {
                       ::setenv("ZN_DEBUG_LOG", "/nonexistent-dir/log", 1);
                       EvEvent().Debug("T", "lost");
                       return 0;
                     }),
            0);
  EXPECT_EQ(ReadFile(err), "");
}

}  // namespace
