// ZN_DEBUG_LOG is read once per process, so every case runs in a child
// process of its own; this program never logs in the parent.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
// the child's exit status. The child ends through exit(), so that what it
// ran counts in the coverage; nothing of the parent's is left to flush.
int RunChild(const std::string& stderrPath, const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDERR_FILENO);
    std::exit(body());
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EvEventEnvironment, SilentWhenUnsetOrEmpty) {
  for (const char* setting : {static_cast<const char*>(nullptr), ""}) {
    const std::string err = TempPath("silent.err");
    ASSERT_EQ(RunChild(err,
                       [setting] {
                         if (setting == nullptr) ::unsetenv("ZN_DEBUG_LOG");
                         if (setting != nullptr) ::setenv("ZN_DEBUG_LOG", setting, 1);
                         EvEvent().Debug("T", "nothing %d", 1);
                         return 0;
                       }),
              0);
    EXPECT_EQ(ReadFile(err), "") << (setting ? "empty" : "unset");
  }
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

// Also in a daemon with its standard input closed, where the log file
// opens as descriptor 0.
TEST(EvEventEnvironment, PathIsAppendedToAndReadOnlyOnce) {
  for (const bool stdinClosed : {false, true}) {
    const std::string log = TempPath("append.log");
    const std::string other = TempPath("other.log");
    { std::ofstream(log) << "earlier\n"; }
    ASSERT_EQ(RunChild(TempPath("append.err"),
                       [&] {
                         if (stdinClosed) ::close(STDIN_FILENO);
                         ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
                         EvEvent event;
                         event.Debug("T", "one");
                         ::setenv("ZN_DEBUG_LOG", other.c_str(), 1);  // too late: already read
                         event.Debug("T", "two");
                         return 0;
                       }),
              0);
    EXPECT_EQ(ReadFile(log), "earlier\nT: one\nT: two\n") << "stdin closed: " << stdinClosed;
    EXPECT_EQ(ReadFile(other), "");
  }
}

TEST(EvEventEnvironment, CreatesTheLogFileReadableByAll) {
  const std::string log = TempPath("created.log");
  ASSERT_EQ(RunChild(TempPath("created.err"),
                     [&] {
                       ::umask(022);
                       ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
                       EvEvent().Debug("T", "first");
                       return 0;
                     }),
            0);
  struct stat info;
  ASSERT_EQ(::stat(log.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(EvEventEnvironment, LineIsOnDiskBeforeTheProcessIsKilled) {
  const std::string log = TempPath("killed.log");
  RunChild(TempPath("killed.err"), [&] {
    ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
    EvEvent().Debug("T", "last words");
    ::kill(::getpid(), SIGKILL);
    return 0;  // never reached
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

// Writes that fail (a full disk, a reader gone) lose their line and
// nothing else: the process goes on, and is not ended by SIGPIPE.
TEST(EvEventEnvironment, FailingWritesDoNotReachTheCaller) {
  for (const char* target : {"/dev/full", "a closed pipe"}) {
    const int status = RunChild(TempPath("failing.err"), [target] {
      if (std::string(target) == "/dev/full") {
        ::setenv("ZN_DEBUG_LOG", target, 1);
      } else {
        ::signal(SIGPIPE, SIG_DFL);  // as in a job process, whatever the test runner ignores
        int pipe[2];
        if (::pipe(pipe) != 0) return 1;
        ::close(pipe[0]);
        ::dup2(pipe[1], STDERR_FILENO);
        ::setenv("ZN_DEBUG_LOG", "stderr", 1);
      }
      EvEvent log;
      log.Debug("T", "lost");
      log.Debug("T", "lost again");
      return 7;
    });
    EXPECT_EQ(status, 7) << target;
  }
}

// A SIGPIPE the caller holds pending is the caller's: the log takes back
// only the one its own write raised, and a write that raised none takes none.
TEST(EvEventEnvironment, CallersPendingSigpipeOutlivesTheLog) {
  for (const bool brokenPipe : {false, true}) {
    const int status = RunChild(TempPath("pending.err"), [brokenPipe] {
      sigset_t pipeSignal, pending;
      sigemptyset(&pipeSignal);
      sigaddset(&pipeSignal, SIGPIPE);
      ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
      ::raise(SIGPIPE);
      int pipe[2];
      if (::pipe(pipe) != 0) return 1;
      if (brokenPipe) ::close(pipe[0]);
      ::dup2(pipe[1], STDERR_FILENO);
      ::setenv("ZN_DEBUG_LOG", "stderr", 1);
      EvEvent().Debug("T", "line");
      sigpending(&pending);
      return sigismember(&pending, SIGPIPE) == 1 ? 7 : 1;
    });
    EXPECT_EQ(status, 7) << (brokenPipe ? "closed pipe" : "open pipe");
  }
}

namespace {
volatile sig_atomic_t g_interruptions = 0;
void CountInterruption(int) { g_interruptions = g_interruptions + 1; }
}  // namespace

// A line one byte longer than the pipe holds, while the reader waits: into
// an empty pipe the first write stops short with one byte left; into a pipe
// that has room for one byte only, it writes that one byte. The writes after
// it fail with EINTR until the reader wakes, and the whole line arrives.
TEST(EvEventEnvironment, InterruptedAndShortWritesDeliverTheWholeLine) {
  for (const bool roomForOneByte : {false, true}) {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const int capacity = ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::string earlier(roomForOneByte ? static_cast<size_t>(capacity) - 1 : 0, 'e');
    ASSERT_EQ(::write(pipe[1], earlier.data(), earlier.size()), static_cast<ssize_t>(earlier.size()));
    const std::string message(static_cast<size_t>(capacity) + 1 - std::string("T: \n").size(), 'x');
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipe[0]);
      ::dup2(pipe[1], STDERR_FILENO);
      ::setenv("ZN_DEBUG_LOG", "stderr", 1);
      struct sigaction action = {};
      action.sa_handler = CountInterruption;  // no SA_RESTART: a blocked write returns early
      ::sigaction(SIGALRM, &action, nullptr);
      const itimerval every{{0, 1000}, {0, 1000}};
      ::setitimer(ITIMER_REAL, &every, nullptr);
      EvEvent().Debug("T", "%s", message.c_str());
      const itimerval off{};
      ::setitimer(ITIMER_REAL, &off, nullptr);
      std::exit(g_interruptions > 0 ? 0 : 1);
    }
    ::close(pipe[1]);
    ::usleep(50 * 1000);
    std::string received;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR);) {
      if (got > 0) received.append(buffer, static_cast<size_t>(got));
    }
    ::close(pipe[0]);
    int status = -1;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write was never interrupted";
    EXPECT_EQ(received, earlier + "T: " + message + "\n") << "room for one byte: " << roomForOneByte;
  }
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
