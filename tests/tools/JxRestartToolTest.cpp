// The jxrestart tool, driven as a program: output, messages and exit status,
// one row per behaviour.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
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

// The tool run by a shell, for what a shell does to its output.
ProgramResult Shell(const std::string& command) {
  return RunProgram("/bin/sh", {"-c", command}, "", {"TOOL=" JXRESTART_TOOL});
}

struct ToolCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  int status;
  const char* out;               // exact standard output, or null when a row does not care
  std::vector<std::string> err;  // each must appear on standard error, in order; none: it is empty
};

const char kJobTable[] = "volume  offset\n     3       0\n    17    4096\n2 volumes\n-Restart 3|0@17|4096@\n";

const ToolCase kCases[] = {
    // Well-formed texts give what they gave before.
    {"restart input", {"job", "show", "3|0@17|4096@"}, "", 0, kJobTable, {}},
    {"job restart string, no -- needed", {"job", "show", "-Restart 3|0@17|4096@"}, "", 0, kJobTable, {}},
    {"standard input, CR LF dropped", {"job", "show"}, "-Restart 3|0@17|4096@\r\n", 0, kJobTable, {}},
    {"--file=PATH", {"job", "show", "--file=/dev/stdin"}, "3|0@17|4096@\n", 0, kJobTable, {}},
    {"kind found by show", {"show", "-Restart 3|0@17|4096@"}, "", 0, kJobTable, {}},
    {"volumes: offsets as the string writes them",
     {"show", "1|100|200|4096$2|-5|7|-1$"},
     "",
     0,
     "source  destination  copy type  offset\n"
     "    -5            7          2      -1\n"
     "   100          200          1    4096\n"
     "2 records\n2|-5|7|-1$1|100|200|4096$\n",
     {}},
    {"check of a well-formed text says nothing", {"check", "2|-5|7|-1$1|100|200|4096$"}, "", 0, "", {}},

    // Each deviation: its byte, what is wrong, what a restarted job gets.
    {"a log line: the timestamp becomes a volume",
     {"job", "show", "2024-03-01 -Restart 3|0@"},
     "",
     1,
     "volume  offset\n  2024       0\n1 volume\n-Restart 2024|0@\n",
     {"byte 5: volume id \"2024-03-01 -Restart 3\" has text after its number; the text is ignored: it reads as 2024",
      "byte 12: \"-Restart \" does not begin the text", "'jxrestart log'", "text: not well formed"}},
    {"beyond 32 bits",
     {"job", "check", "99999999999|1@"},
     "",
     1,
     "",
     {"byte 1: volume id \"99999999999\" is out of range (-2147483648 to 2147483647); it becomes 2147483647"}},
    {"a fifth field", {"volumes", "check", "1|2|3|4|5$"}, "", 1, "", {"byte 8: a record with more than four fields"}},
    {"no closing @: volume 0 cannot come back",
     {"job", "show", "0|5"},
     "",
     1,
     "volume  offset\n     0       5\n1 volume\n-Restart 0|5@\n",
     {"byte 1: volume 0 in the item with no closing '@'", "drops it", "byte 4: the last item has no closing '@'"}},
    {"lenient: the same warnings, exit 0",
     {"job", "show", "--lenient", "99999999999|1@"},
     "",
     0,
     "    volume  offset\n2147483647       1\n1 volume\n-Restart 2147483647|1@\n",
     {"it becomes 2147483647", "accepted as the library reads it (--lenient)"}},
    {"item dropped, nothing read",
     {"job", "show", "0|5@"},
     "",
     1,
     "",
     {"byte 1: volume id 0; the item is dropped", "text: no volume in the text"}},
    {"invalid item stops the reading",
     {"volumes", "check", "1|2|3|4$9|8$5|5|5|5$"},
     "",
     1,
     "",
     {"byte 9: item \"9|8\" has 2 fields, not 4; the reading stops here", "keeps the 1 record"}},
    {"too short to be read", {"volumes", "show", "|||0$"}, "", 1, "", {"only 5 bytes long", "too short"}},
    {"text after the last $",
     {"volumes", "check", "1|2|3|4$tail"},
     "",
     1,
     "",
     {"byte 9: text after the last '$': \"tail\"; it is never read"}},
    {"a NUL byte",
     {"job", "check"},
     std::string("3|0@\0"
                 "5|5@",
                 9),
     1,
     "",
     {"byte 5: a NUL byte"}},
    {"control bytes are escaped", {"volumes", "check"}, "\x01\x1b[0m$xxxx", 1, "", {"item \"\\x01\\x1b[0m\""}},
    {"a number of thousands of digits",
     {"job", "show", "1|" + std::string(5000, '9') + "@"},
     "",
     1,
     nullptr,
     {"offset \"999999999", "...\" is out of range", "it becomes 2147483647"}},
    {"binary bytes and a line of megabytes in a log",
     {"log"},
     std::string("\0\xff-Restart 1|1@\0\n", 16) + std::string(8 << 20, '|') + "\n",
     1,
     nullptr,
     {"standard input:1:16: a NUL byte"}},

    // Kinds are told apart, lines are never merged.
    {"volume string to a job command",
     {"job", "show", "1|2|3|4$"},
     "",
     2,
     "",
     {"text: this is a volume restart string; use 'jxrestart volumes show'"}},
    {"job string to a volumes command",
     {"volumes", "check", "-Restart 1|1@"},
     "",
     2,
     "",
     {"text: this is a job restart string; use 'jxrestart job check'"}},
    {"restart input to a volumes command", {"volumes", "show", "1|1@"}, "", 2, "", {"this is a restart input"}},
    {"neither kind", {"show", "1|2"}, "", 2, "", {"neither a job restart string"}},
    {"a state file", {"show"}, "-Restart 1|3@\n0|1|1001|3$\n", 2, "", {"holds 2 lines", "use 'jxrestart log'"}},

    // Diff names the text at fault.
    {"diff",
     {"job", "diff", "-Restart 3|0@17|4096@20|5@9|9@", "5|100@17|8192@20|1@3|0@"},
     "",
     1,
     "change     volume   old   new     by\n"
     "added           5     -   100\n"
     "removed         9     9     -\n"
     "advanced       17  4096  8192  +4096\n"
     "gone back      20     5     1     -4\n"
     "1 added, 1 removed, 1 advanced (by 4096 in all), 1 gone back, 1 unchanged\n",
     {}},
    {"diff, OLD not well formed",
     {"job", "diff", "1|5@1|5@", "1|5@"},
     "",
     2,
     nullptr,
     {"OLD: byte 5: volume 1 is given again"}},
    {"diff, NEW holds nothing", {"job", "diff", "1|1@", "junk"}, "", 2, "", {"NEW: no volume in the text"}},

    // The command line.
    {"unknown command", {"frobnicate"}, "", 2, "", {"unknown command 'frobnicate'"}},
    {"unknown command in a group", {"job", "fix"}, "", 2, "", {"unknown command 'job fix'"}},
    {"option a command does not take",
     {"volumes", "check", "--lenient", "1|2|3|4$"},
     "",
     2,
     "",
     {"'volumes check' does not take --lenient"}},
    {"unknown option", {"job", "show", "--frob"}, "", 2, "", {"unknown option '--frob'"}},
    {"long input cut in messages",
     {std::string(5000, 'x')},
     "",
     2,
     "",
     {"unknown command '" + std::string(200, 'x') + "...'"}},
    {"two texts for one", {"job", "show", "1|1@", "2|2@"}, "", 2, "", {"job show takes one text"}},
    {"standard input twice", {"job", "diff", "-", "-"}, "", 2, "", {"standard input can give only one text"}},
    {"missing file",
     {"job", "show", "--file", "/nonexistent/x"},
     "",
     2,
     "",
     {"/nonexistent/x: No such file or directory"}},
    {"no command", {}, "", 2, "", {"no command given"}},
    {"version", {"--version"}, "", 0, "jxrestart " JXRESTART_VERSION "\n", {}},
};

TEST(JxRestartTool, EachBehaviourGivesItsOutputMessagesAndStatus) {
  for (const ToolCase& c : kCases) {
    const ProgramResult result = Tool(c.args, c.input);
    EXPECT_EQ(result.status, c.status) << c.name << "\n" << result.err;
    if (c.out != nullptr) {
      EXPECT_EQ(result.out, c.out) << c.name;
    }
    if (c.err.empty()) {
      EXPECT_EQ(result.err, "") << c.name;
    }
    size_t at = 0;
    for (const std::string& part : c.err) {
      at = result.err.find(part, at);
      EXPECT_NE(at, std::string::npos) << c.name << ": no \"" << part << "\" in\n" << result.err;
      if (at == std::string::npos) break;
    }
  }
}

TEST(JxRestartTool, HelpForEveryCommandAndGroup) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"help"}, {"help", "job"}, {"job", "--help"}, {"help", "job", "diff"}, {"log", "--help"}}) {
    const ProgramResult help = Tool(args);
    EXPECT_EQ(help.status, 0) << args.back();
    EXPECT_EQ(help.out.rfind("Usage: jxrestart", 0), 0u) << args.back();
  }
  const ProgramResult help = Tool({"help"});
  for (const char* words : {"Exit status", "0  success", "1  a text that is not well formed", "2  trouble", "--lenient",
                            "single quotes", "doc/formats.md"}) {
    EXPECT_NE(help.out.find(words), std::string::npos) << words;
  }
}

// JSON: 64-bit offsets are strings, 32-bit values numbers; every shape
// carries whether the text is well formed and its deviations.
TEST(JxRestartTool, JsonShapes) {
  using Json = nlohmann::json;
  const ProgramResult job = Tool({"job", "show", "--json", "17|4096@3|0@"});
  EXPECT_EQ(Json::parse(job.out), Json::parse(R"({"kind": "restart input", "wellFormed": true, "deviations": [],
      "volumes": [{"volume": 3, "offset": 0}, {"volume": 17, "offset": 4096}],
      "restartString": "-Restart 3|0@17|4096@"})"));
  const ProgramResult volumes = Tool({"volumes", "show", "--json", "2|-5|7|-1$"});
  EXPECT_EQ(Json::parse(volumes.out), Json::parse(R"({"kind": "volume restart string", "wellFormed": true,
      "deviations": [], "records": [{"source": -5, "destination": 7, "copyType": 2, "offset": "-1"}],
      "restartString": "2|-5|7|-1$"})"));
  const ProgramResult check = Tool({"check", "--json", "1|2|3|4$9|8$"});
  EXPECT_EQ(check.status, 1);
  const Json deviation = Json::parse(check.out)["deviations"][0];
  EXPECT_EQ(deviation["byte"], 9);
  EXPECT_EQ(deviation["effect"].get<std::string>().rfind("the reading stops here", 0), 0u);
  const ProgramResult diff = Tool({"job", "diff", "--json", "1|5@2|9@", "1|8@3|1@"});
  EXPECT_EQ(diff.status, 1);
  const Json d = Json::parse(diff.out);
  EXPECT_EQ(d["advanced"], Json::parse(R"([{"volume": 1, "old": 5, "new": 8, "by": 3}])"));
  EXPECT_EQ(d["wellFormed"], Json::parse(R"({"old": true, "new": true})"));
}

TEST(JxRestartTool, OutputFailuresAreReported) {
  for (const char* args : {"show '1|1@'", "--help", "--version", "job show --json '1|1@'"}) {
    const ProgramResult full = Shell(std::string("\"$TOOL\" ") + args + " >/dev/full");
    EXPECT_EQ(full.err, "jxrestart: standard output: No space left on device\n") << args;
    EXPECT_EQ(full.status, 2) << args;
  }
  const ProgramResult closed = Shell("\"$TOOL\" show '1|1@' >&-");
  EXPECT_EQ(closed.err, "jxrestart: standard output: Bad file descriptor\n");
  EXPECT_EQ(closed.status, 2);
  const ProgramResult pipe = Shell("yes 'handed over -Restart 1|1@' | head -100000 | \"$TOOL\" log --all | head -1");
  EXPECT_EQ(pipe.out, "standard input:1: job restart string: -Restart 1|1@\n");
  EXPECT_EQ(pipe.err, "");
}

TEST(JxRestartTool, DebugSendsTheLibraryLinesToStandardError) {
  EXPECT_EQ(Tool({"volumes", "check", "1|2|3|4$"}).err, "");
  const ProgramResult loud = Tool({"--debug", "volumes", "show", "1|2|3|4$"});
  EXPECT_EQ(loud.err, "ZNJxRestart::ParseRestartString: Restart String = 1|2|3|4$\n");
  const ProgramResult env = RunProgram(JXRESTART_TOOL, {"job", "show", "1|1@"}, "", {"ZN_DEBUG_LOG=stderr"});
  EXPECT_NE(env.err.find("JxRestartability::ParseRestartInputFromJM: Input from JM = 1|1@\n"), std::string::npos);
}

// A log as a job leaves it: the library's lines, a hand-off line, a state
// file's two lines, text around them, one text that is not well formed.
TEST(JxRestartTool, LogFindsEveryTextWithItsPlace) {
  const std::string path = ::testing::TempDir() + "/jxrestart-log-" + std::to_string(::getpid());
  std::ofstream(path) << "job started\n"
                         "JxRestartability::BuildJobRestartString: The Restart string: -Restart 1|0@2|0@\n"
                         "12:00:01 handed over -Restart 1|4@2|0@ and 0|1|11|4096$0|2|12|0$ to the manager\n"
                         "JxRestartability::ParseRestartInputFromJM: Input from JM = 1|4@2|0@\n"
                         "ZNJxRestart::ParseRestartString: Restart String = 0|1|11|4096$0|2|12|0$\n"
                         "-Restart 1|8@2|99999999999@\r\n"
                         "0|1|11|8192$0|2|12|4096$\n";
  const ProgramResult summary = Tool({"log", path});
  EXPECT_EQ(summary.status, 1);
  EXPECT_EQ(summary.err, "jxrestart: " + path +
                             ":6:16: offset \"99999999999\" is out of range (-2147483648 to 2147483647); it becomes "
                             "2147483647\njxrestart: 1 deviation; the states are shown as the library reads them "
                             "(--lenient accepts them)\n");
  EXPECT_EQ(summary.out,
            "7 lines: 3 job restart strings, 1 restart input (1 restart), 3 volume restart strings\n\n"
            "last job restart string (" +
                path +
                ":6, 3 states):\n-Restart 1|8@2|2147483647@\n\n"
                "last restart input (" +
                path +
                ":4, 1 restart):\n-Restart 1|4@2|0@\n\n"
                "last volume restart string (" +
                path +
                ":7, 3 states):\n0|1|11|8192$0|2|12|4096$\n\n"
                "volume  first offset  last offset\n"
                "     1             0            8\n"
                "     2             0   2147483647\n\n"
                "source  first offset  last offset\n"
                "     1          4096         8192\n"
                "     2             0         4096\n");
  const ProgramResult all = Tool({"log", "--all", "--lenient", path});
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find(path + ":3: volume restart string: 0|1|11|4096$0|2|12|0$\n"), std::string::npos);
  const ProgramResult json = Tool({"log", "--json", path});
  size_t objects = 0;
  for (size_t at = 0; at < json.out.size(); at = json.out.find('\n', at) + 1, ++objects) {
    const nlohmann::json state = nlohmann::json::parse(json.out.substr(at, json.out.find('\n', at) - at));
    EXPECT_EQ(state["file"], path);
  }
  EXPECT_EQ(objects, 7u);
  std::remove(path.c_str());
}

}  // namespace
