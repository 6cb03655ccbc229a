// The log reader finds what the library itself logs: the library's
// operations run with ZN_DEBUG_LOG set, so that the replacement host log
// writes the lines as it does in a job process, and with a sink that keeps
// what each line said; the log reader must find in that file every
// restart text the library logged, of the right kind, on the right line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"
#include "restart/internal/TextFormat.h"
#include "tests/support/LogCapture.h"
#include "tools/jxrestart/log/Recognisers.h"

namespace {

namespace marker = jxrestart::internal::marker;
using jxrestart::tool::TextKind;

// Every operation that logs a restart text, and some that log others.
void RunTheLibrary() {
  JxRestartability tracker;
  tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{3}, {17}});
  tracker.UpdateJobRestartInfoMapAndString(17, 4096);
  tracker.InsertIntoVolumeOffsetMap(9, -1);
  JxRestartability restarted;
  char input[] = "3|0@17|4096@ 9|7";
  restarted.ParseRestartInputFromJM(input);
  restarted.SetRestartType(1);
  restarted.InsertIntoVolumeOffsetMap(std::string("name|with@marks"), 2);
  ZNJxRestart records("2|-5|7|-1$1|100|200|4096$");
  ZNJxRestart spaced("  1|2|3|4$9|8$");
  records.AddVolumeInfo({1, 100, 201, 1});
}

TEST(LogMarkers, TheLogReaderFindsEveryTextTheLibraryLogs) {
  const std::string folder = ::testing::TempDir();
  const std::string log = folder + "/markers-" + std::to_string(::getpid()) + ".log";
  const std::string said = log + ".said";
  std::remove(log.c_str());
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("ZN_DEBUG_LOG", log.c_str(), 1);
    jxrestart::testing::LogCapture capture;
    RunTheLibrary();
    std::ofstream out(said, std::ios::binary);
    for (const auto& line : capture.Take()) out << line.message << '\n';
    out.close();
    ::_exit(out ? 0 : 1);
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::vector<std::string> messages;
  std::ifstream in(said, std::ios::binary);
  for (std::string line; std::getline(in, line);) messages.push_back(line);
  std::ifstream lines(log, std::ios::binary);
  ASSERT_TRUE(lines.is_open());
  size_t texts = 0;
  std::string line;
  for (size_t i = 0; std::getline(lines, line); ++i) {
    ASSERT_LT(i, messages.size());
    std::vector<jxrestart::tool::FoundText> found;
    jxrestart::tool::FindTexts(line, &found);
    const std::string& message = messages[i];
    const struct {
      std::string_view words;
      TextKind kind;
    } kExpected[] = {{marker::kJobBuilt, TextKind::kJob},
                     {marker::kRestartInput, TextKind::kInput},
                     {marker::kVolumesRead, TextKind::kVolumes}};
    bool logged = false;
    for (const auto& e : kExpected) {
      if (message.compare(0, e.words.size(), e.words) != 0) continue;
      logged = true;
      ++texts;
      ASSERT_EQ(found.size(), 1u) << "line " << i + 1 << ": " << line;
      EXPECT_EQ(found[0].kind, e.kind) << line;
      EXPECT_EQ(found[0].text, message.substr(e.words.size())) << line;
    }
    if (!logged) {
      EXPECT_TRUE(found.empty()) << "line " << i + 1 << ": " << line;
    }
  }
  EXPECT_EQ(texts, 8u) << "each line of RunTheLibrary that logs a text";
  std::remove(log.c_str());
  std::remove(said.c_str());
}

}  // namespace
