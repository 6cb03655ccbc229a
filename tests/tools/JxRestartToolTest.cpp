// The jxrestart tool, driven as a program: output, messages and exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace {

using jxrestart::testing::ProgramResult;
using jxrestart::testing::RunProgram;

ProgramResult Tool(const std::vector<std::string>& args, const std::string& input = "") {
  return RunProgram(JXRESTART_TOOL, args, input);
}

struct ToolCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  int status;
  std::string out;  // exact standard output
  std::string err;  // exact standard error
};

const ToolCase kCases[] = {
    {"job show, restart input",
     {"job", "show", "3|0@17|4096@"},
     "",
     0,
     "volume  offset\n     3       0\n    17    4096\n2 volumes\n-Restart 3|0@17|4096@\n",
     ""},
    {"job show, job restart string after --",
     {"job", "show", "--", "-Restart 3|0@17|4096@"},
     "",
     0,
     "volume  offset\n     3       0\n    17    4096\n2 volumes\n-Restart 3|0@17|4096@\n",
     ""},
    {"job show from standard input, line end dropped",
     {"job", "show"},
     "  -Restart 5|-1@\n",
     0,
     "volume  offset\n     5      -1\n1 volume\n-Restart 5|-1@\n",
     ""},
    {"job show, nothing stored", {"job", "show", "0|5@"}, "", 1, "", "jxrestart: text: no volume in the text\n"},
    {"job show, empty input", {"job", "show", "-"}, "", 1, "", "jxrestart: standard input: no volume in the text\n"},
    {"job show, unknown option",
     {"job", "show", "-Restart 1|1@"},
     "",
     2,
     "",
     "jxrestart: unknown option '-Restart 1|1@' for 'job show' (a text that begins with '-' goes after '--') "
     "(see 'jxrestart --help')\n"},
    {"job show, two texts",
     {"job", "show", "1|1@", "2|2@"},
     "",
     2,
     "",
     "jxrestart: job show takes one text (see 'jxrestart --help')\n"},
    {"job show, missing file",
     {"job", "show", "--file", "/nonexistent/state"},
     "",
     2,
     "",
     "jxrestart: /nonexistent/state: No such file or directory\n"},
    {"job show, a folder", {"job", "show", "--file", "/"}, "", 2, "", "jxrestart: /: Is a directory\n"},
    {"job diff, same",
     {"job", "diff", "--", "-Restart 1|5@2|6@", "2|6@1|5@"},
     "",
     0,
     "0 added, 0 removed, 0 advanced (by 0 in all), 0 gone back, 2 unchanged\n",
     ""},
    {"job diff, changes",
     {"job", "diff", "--", "-Restart 3|0@17|4096@20|5@9|9@", "5|100@17|8192@20|1@3|0@"},
     "",
     1,
     "change     volume   old   new     by\n"
     "added           5     -   100\n"
     "removed         9     9     -\n"
     "advanced       17  4096  8192  +4096\n"
     "gone back      20     5     1     -4\n"
     "1 added, 1 removed, 1 advanced (by 4096 in all), 1 gone back, 1 unchanged\n",
     ""},
    {"job diff, refused input", {"job", "diff", "1|1@", "junk"}, "", 2, "", "jxrestart: text: no volume in the text\n"},
    {"job diff, one text",
     {"job", "diff", "1|1@"},
     "",
     2,
     "",
     "jxrestart: job diff takes two texts (see 'jxrestart --help')\n"},
    {"job diff, stdin twice",
     {"job", "diff", "-", "-"},
     "",
     2,
     "",
     "jxrestart: standard input can give only one text (see 'jxrestart --help')\n"},
    {"volumes show",
     {"volumes", "show", "1|100|200|4096$2|-5|7|-1$"},
     "",
     0,
     "source  destination  copy type                offset\n"
     "    -5            7          2  18446744073709551615\n"
     "   100          200          1                  4096\n"
     "2 records\n2|-5|7|-1$1|100|200|4096$\n",
     ""},
    {"volumes show, invalid",
     {"volumes", "show", "1|2|3|4$9|8$"},
     "",
     1,
     "",
     "jxrestart: text: invalid volume restart string (see 'jxrestart volumes check')\n"},
    {"volumes show, no record", {"volumes", "show", "abcdefgh"}, "", 1, "", "jxrestart: text: no record in the text\n"},
    {"volumes show, too short",
     {"volumes", "show", "|||0$"},
     "",
     1,
     "",
     "jxrestart: text: too short to be read (a volume restart string is longer than 5 bytes)\n"},
    {"volumes show, no --json for check",
     {"volumes", "check", "--json", "1|2|3|4$"},
     "",
     2,
     "",
     "jxrestart: unknown option '--json' for 'volumes check' (a text that begins with '-' goes after '--') "
     "(see 'jxrestart --help')\n"},
    {"volumes check, valid", {"volumes", "check", " 1|2|3|4$5|6|7|8$tail"}, "", 0, "", ""},
    {"volumes check, later item",
     {"volumes", "check", "1|2|3|4$1|2|3|4$9|8$5|5|5|5$"},
     "",
     1,
     "",
     "jxrestart: text: invalid item \"9|8\" at byte 17 (an item needs four fields split by '|'); "
     "2 items accepted before it\n"},
    {"volumes check, empty item after spaces",
     {"volumes", "check", "   $1|2|3|4$"},
     "",
     1,
     "",
     "jxrestart: text: invalid item \"\" at byte 4 (an item needs four fields split by '|'); "
     "0 items accepted before it\n"},
    {"volumes check, control bytes escaped",
     {"volumes", "check"},
     "\x01\x02\x1b[0m$xx",
     1,
     "",
     "jxrestart: standard input: invalid item \"\\x01\\x02\\x1b[0m\" at byte 1 (an item needs four fields split by "
     "'|'); 0 items accepted before it\n"},
    {"volumes check, too short",
     {"volumes", "check"},
     "|||0$\n",
     1,
     "",
     "jxrestart: standard input: too short to be read (a volume restart string is longer than 5 bytes)\n"},
    {"no command", {}, "", 2, "", "jxrestart: no command given (see 'jxrestart --help')\n"},
    {"unknown command", {"job", "fix"}, "", 2, "", "jxrestart: unknown command 'job fix' (see 'jxrestart --help')\n"},
    {"version", {"--version"}, "", 0, "jxrestart " JXRESTART_VERSION "\n", ""},
};

TEST(JxRestartTool, SubcommandsGiveTheirOutputAndStatus) {
  for (const ToolCase& c : kCases) {
    const ProgramResult result = Tool(c.args, c.input);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(result.out, c.out) << c.name;
    EXPECT_EQ(result.err, c.err) << c.name;
  }
}

TEST(JxRestartTool, JsonCarriesTheSameContent) {
  using Json = nlohmann::json;
  const ProgramResult job = Tool({"job", "show", "--json", "17|4096@3|0@"});
  ASSERT_EQ(job.status, 0) << job.err;
  EXPECT_EQ(Json::parse(job.out), Json::parse(R"({"volumes": [{"volume": 3, "offset": 0},
      {"volume": 17, "offset": 4096}], "restartString": "-Restart 3|0@17|4096@"})"));

  const ProgramResult volumes = Tool({"volumes", "show", "--json", "2|-5|7|-1$"});
  ASSERT_EQ(volumes.status, 0) << volumes.err;
  EXPECT_EQ(Json::parse(volumes.out), Json::parse(R"({"records": [{"source": -5, "destination": 7,
      "copyType": 2, "offset": 18446744073709551615}], "restartString": "2|-5|7|-1$"})"));

  const ProgramResult diff = Tool({"job", "diff", "--json", "1|5@2|9@", "1|8@3|1@"});
  EXPECT_EQ(diff.status, 1);
  EXPECT_EQ(Json::parse(diff.out), Json::parse(R"({"same": false,
      "added": [{"volume": 3, "new": 1}], "removed": [{"volume": 2, "old": 9}],
      "advanced": [{"volume": 1, "old": 5, "new": 8, "by": 3}], "goneBack": [], "unchanged": []})"));
}

TEST(JxRestartTool, DebugSendsTheLibraryLinesToStandardError) {
  const ProgramResult quiet = Tool({"volumes", "check", "1|2|3|4$"});
  EXPECT_EQ(quiet.err, "");
  const ProgramResult loud = Tool({"--debug", "volumes", "check", "1|2|3|4$"});
  EXPECT_EQ(loud.err, "ZNJxRestart::ParseRestartString: Restart String = 1|2|3|4$\n");
  const ProgramResult env = RunProgram(JXRESTART_TOOL, {"job", "show", "1|1@"}, "", {"ZN_DEBUG_LOG=stderr"});
  EXPECT_NE(env.err.find("JxRestartability::ParseRestartInputFromJM: Input from JM = 1|1@\n"), std::string::npos);
}

TEST(JxRestartTool, HelpDocumentsQuotingAndExitStatus) {
  const ProgramResult help = Tool({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* words : {"single quotes", "after '--'", "Exit status", "0  success", "1  an invalid input",
                            "2  trouble", "doc/formats.md"}) {
    EXPECT_NE(help.out.find(words), std::string::npos) << words;
  }
  for (const char* command : {"job show", "job diff", "volumes show", "volumes check"}) {
    const std::string group = std::string(command).substr(0, std::string(command).find(' '));
    const std::string action = std::string(command).substr(group.size() + 1);
    const ProgramResult sub = Tool({group, action, "--help"});
    EXPECT_EQ(sub.status, 0) << command;
    EXPECT_EQ(sub.out.rfind(std::string("Usage: jxrestart ") + command, 0), 0u) << command;
  }
}

// No text crashes the tool: each ends with 0, 1 or 2 and a message.
TEST(JxRestartTool, HostileInputNeverCrashes) {
  std::string garbage;
  for (int i = 0; i < 1 << 16; ++i) garbage.push_back(static_cast<char>((i * 7919) % 251));
  const std::vector<std::string> texts = {
      "",        std::string(1 << 20, '|'), std::string(1 << 20, '@'), std::string(1 << 20, '$'), garbage,
      "1|2|3|4", "99999999999999|1"};
  for (const char* group : {"job", "volumes"}) {
    for (const char* action : {"show", "check"}) {
      if (std::string(group) == "job" && std::string(action) == "check") continue;
      for (const std::string& text : texts) {
        const ProgramResult result = Tool({group, action, "-"}, text);
        EXPECT_TRUE(result.status == 0 || result.status == 1) << group << " " << action << " " << result.status;
      }
    }
  }
}

}  // namespace
