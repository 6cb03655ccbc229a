// The jxrestart tool, driven as a program: output, messages and exit status,
// one row per behaviour.
#include <gtest/gtest.h>
#include <unistd.h>

#include <zlib.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
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
    {"a text of spaces only", {"show", "   "}, "", 2, "", {"jxrestart: text: the text is only spaces"}},

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
     {"log", "--binary"},
     std::string("\0\xff-Restart 1|1@\0\n", 16) + std::string(8 << 20, '|') + "\n",
     1,
     nullptr,
     {"standard input:1:16: a NUL byte"}},
    {"a binary file is skipped, and said",
     {"log"},
     std::string("\x7f" "ELF\x02\x01\x01\0\0 -Restart 1|1@\n", 24),
     2,
     nullptr,
     {"standard input: binary file", "--binary"}},
    {"a live log truncated while its writer went on",
     {"log"},
     std::string(5000, '\0') + "\xef\xbb\xbf" "0|1|1001|3$\n",
     0,
     nullptr,
     {"standard input: begins with 5000 NUL bytes", "the lines after them are read"}},

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
    {"an empty text", {"show", ""}, "", 2, "", {"text: the text is empty"}},
    {"an empty text of a kind", {"job", "check", ""}, "", 1, "", {"text: the text is empty"}},
    {"a hand-off line", {"show", "handed over -Restart 1|1@ 0|1|1|0$"}, "", 2, "", {"'jxrestart log -' reads"}},
    {"a volume string typed in double quotes",
     {"volumes", "check", "1|1|1001|4096bash|2|1002|0$"},
     "",
     1,
     "",
     {"more than four fields", "put a volume restart string in single quotes"}},
    {"the shell's name where the shell took '$0'",
     {"volumes", "check", "1|1|1001|4096bash"},
     "",
     1,
     "",
     {"never read", "typed in double quotes?"}},
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
    {"volumes diff",
     {"volumes", "diff", "1|1|11|4096$0|2|12|0$1|9|19|7$", "1|1|11|8192$0|2|13|0$0|3|14|-1$"},
     "",
     1,
     "change   field        source       old        new\n"
     "changed  offset            1      4096       8192\n"
     "changed  destination       2        12         13\n"
     "added                      3         -  0|3|14|-1\n"
     "removed                    9  1|9|19|7          -\n"
     "1 added, 1 removed, 2 changed (2 fields), 0 unchanged\n",
     {}},
    {"diff tells the kinds apart", {"diff", "0|1|1|5$", "0|1|1|5$"}, "", 0, "0 added, 0 removed, 0 changed (0 fields), 1 unchanged\n", {}},
    {"diff of two kinds", {"diff", "1|1@", "0|1|1|5$"}, "", 2, "", {"NEW: this is a volume restart string"}},
    {"job diff of volume strings", {"job", "diff", "0|1|1|5$", "0|1|1|5$"}, "", 2, "", {"use 'jxrestart volumes diff'"}},
    {"state files, both kinds",
     {"diff", "--file", "/dev/stdin", "-Restart 1|3@2|3@"},
     "-Restart 1|3@2|3@\n0|1|1001|3$0|2|1002|3$\n",
     0,
     "0 added, 0 removed, 0 advanced (by 0 in all), 0 gone back, 2 unchanged\n",
     {}},

    // set: changed through the library, well formed by construction.
    {"job set", {"job", "set", "17=0", "-Restart 3|0@17|4096@"}, "", 0, "-Restart 3|0@17|0@\n", {}},
    {"job set add", {"job", "set", "3=1", "add", "5=-1", "3|0@"}, "", 0, "-Restart 3|1@5|-1@\n", {}},
    {"job set refused by the library",
     {"job", "set", "3=-2", "3|0@"},
     "",
     2,
     "",
     {"3=-2: the library refuses it: \"Wrong input value for iOffset: -2\""}},
    {"job set of a volume held, to add", {"job", "set", "add", "3=1", "3|0@"}, "", 2, "", {"volume 3 is in the text already; '3=1' sets it"}},
    {"job set, only 'add'", {"job", "set", "add", "3|0@"}, "", 2, "", {"no VOLUME=OFFSET"}},
    {"job set, JSON of the result",
     {"job", "set", "--json", "3=5", "3|0@"},
     "",
     0,
     "{\n  \"kind\": \"job restart string\",\n  \"wellFormed\": true,\n  \"deviations\": [],\n  \"volumes\": [\n"
     "    {\n      \"volume\": 3,\n      \"offset\": 5\n    }\n  ],\n  \"restartString\": \"-Restart 3|5@\"\n}\n",
     {}},
    {"job set of an empty file", {"job", "set", "3=5", "-"}, "\n", 1, "", {"standard input: the text is empty"}},
    {"job set of a volume text", {"job", "set", "3=5", "0|1|1001|3$"}, "", 2, "", {"this is a volume restart string; use 'jxrestart volumes set'"}},
    {"job set of a volume not held", {"job", "set", "9=1", "3|0@"}, "", 2, "", {"volume 9 is not in the text; 'add 9=1'"}},
    {"job set, no offset", {"job", "set", "17=", "3|0@"}, "", 2, "", {"\"17=\" is not VOLUME=OFFSET"}},
    {"job set, no volume", {"job", "set", "=5", "3|0@"}, "", 2, "", {"\"=5\" is not VOLUME=OFFSET"}},
    {"job set, two '='", {"job", "set", "17=5=6", "3|0@"}, "", 2, "", {"\"17=5=6\" is not VOLUME=OFFSET"}},
    {"job set, beyond 32 bits", {"job", "set", "2147483648=0", "3|0@"}, "", 2, "", {"out of range (-2147483648"}},
    // The int32 range of set's numbers, at both ends: the limit reaches the
    // library, one beyond it is refused before.
    {"job set, the largest offset", {"job", "set", "3=2147483647", "3|0@"}, "", 0, "-Restart 3|2147483647@\n", {}},
    {"job set, one beyond the largest", {"job", "set", "3=2147483648", "3|0@"}, "", 2, "",
     {"offset \"2147483648\" is out of range (-2147483648 to 2147483647)"}},
    {"job set, the smallest offset reaches the library", {"job", "set", "3=-2147483648", "3|0@"}, "", 2, "",
     {"3=-2147483648: the library refuses it: \"Wrong input value for iOffset: -2147483648\""}},
    {"job set, one below the smallest", {"job", "set", "3=-2147483649", "3|0@"}, "", 2, "",
     {"offset \"-2147483649\" is out of range (-2147483648 to 2147483647)"}},
    {"job set, a negative volume", {"job", "set", "add", "-3=1", "3|0@"}, "", 2, "", {"Wrong input value for vol id: -3"}},
    {"job set of a text not well formed", {"job", "set", "3=1", "3|0@x"}, "", 1, "", {"not well formed, so not edited"}},
    {"job set, lenient", {"job", "set", "--lenient", "3=1", "3|0@x"}, "", 0, "-Restart 3|1@\n", {"text after the last item"}},
    {"volumes set",
     {"volumes", "set", "2", "offset=-1", "dest=7", "copytype=255", "0|1|1001|3$0|2|1002|3$"},
     "",
     0,
     "0|1|1001|3$255|2|7|-1$\n",
     {}},
    {"volumes set add",
     {"volumes", "set", "add", "9", "copytype=3", "dest=1009", "offset=18446744073709551615", "0|1|1001|3$"},
     "",
     0,
     "0|1|1001|3$3|9|1009|-1$\n",
     {}},
    {"set of a state file",
     {"volumes", "set", "2", "offset=0", "-"},
     "-Restart 1|3@2|3@\n0|1|1001|3$0|2|1002|3$\n",
     0,
     "-Restart 1|3@2|3@\n0|1|1001|3$0|2|1002|0$\n",
     {}},
    {"volumes set, no such field", {"volumes", "set", "1", "size=1", "0|1|1001|3$"}, "", 2, "", {"no field \"size\""}},
    {"volumes set, copy type beyond 8 bits",
     {"volumes", "set", "1", "copytype=300", "0|1|1001|3$"},
     "",
     2,
     "",
     {"copy type \"300\" is out of range (0 to 255)"}},
    {"volumes set, a record to add without all fields",
     {"volumes", "set", "add", "9", "offset=1", "0|1|1001|3$"},
     "",
     2,
     "",
     {"needs copytype, dest and offset"}},
    {"volumes set, no source", {"volumes", "set", "offset=1", "0|1|1001|3$"}, "", 2, "", {"no SOURCE before"}},
    {"volumes set, no field", {"volumes", "set", "1", "0|1|1001|3$"}, "", 2, "", {"no FIELD=VALUE for source 1"}},
    {"volumes set, a field twice",
     {"volumes", "set", "1", "offset=1", "offset=2", "0|1|1001|3$"},
     "",
     2,
     "",
     {"offset is given twice"}},
    {"volumes set, an offset not a number",
     {"volumes", "set", "1", "offset=x", "0|1|1001|3$"},
     "",
     2,
     "",
     {"offset \"x\" is not a whole number"}},
    {"volumes set, a destination not whole",
     {"volumes", "set", "1", "dest=1.5", "0|1|1001|3$"},
     "",
     2,
     "",
     {"destination volume \"1.5\" is not a whole number"}},
    {"volumes set add of a record held",
     {"volumes", "set", "add", "1", "copytype=0", "dest=1", "offset=0", "0|1|1001|3$"},
     "",
     2,
     "",
     {"source 1 is in the text already; set its fields without 'add'"}},
    {"volumes set of a record not held",
     {"volumes", "set", "9", "offset=1", "0|1|1001|3$"},
     "",
     2,
     "",
     {"source 9 is not in the text; 'add 9"}},
    {"volumes set of a text refused, lenient",
     {"volumes", "set", "--lenient", "1", "offset=1", "-"},
     "x|\n",
     1,
     "",
     {"shorter than 6 bytes", "standard input: too short for the library to read"}},
    {"job set of a text with no volume, lenient",
     {"job", "set", "--lenient", "3=1", "-"},
     "x|\n",
     1,
     "",
     {"standard input: no volume in the text"}},

    // The command line.
    {"unknown command", {"frobnicate"}, "", 2, "", {"unknown command 'frobnicate'"}},
    {"a text after --", {"job", "show", "--", "-Restart 3|0@17|4096@"}, "", 0, kJobTable, {}},
    {"a text beginning with -- after --", {"volumes", "check", "--", "--1|2|3|4$"}, "", 1, "", {"copy type \"--1\""}},
    {"--debug after the command",
     {"volumes", "show", "--debug", "1|2|3|4$"},
     "",
     0,
     nullptr,
     {"ZNJxRestart::ParseRestartString: Restart String = 1|2|3|4$\n"}},
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
    // Each refusal of the command line, with its words.
    {"flag with a value", {"job", "show", "--json=1", "1|1@"}, "", 2, "", {"--json takes no value (see 'jxrestart --help')"}},
    {"--file without its path", {"job", "show", "--file"}, "", 2, "", {"--file needs PATH"}},
    {"--job without its pattern", {"log", "--job"}, "", 2, "", {"--job needs REGEX"}},
    {"a group alone", {"volumes"}, "", 2, "", {"'volumes' needs a command: see 'jxrestart help volumes'"}},
    {"unknown top-level option", {"--frob", "show"}, "", 2, "", {"unknown option '--frob'"}},
    {"help of an unknown command", {"help", "job", "fix"}, "", 2, "", {"unknown command 'job fix'"}},
    {"diff of one text", {"job", "diff", "1|1@"}, "", 2, "", {"job diff takes two texts, OLD and NEW"}},
    {"set with no change", {"job", "set", "1|1@"}, "", 2, "", {"job set needs the changes to make: [add] VOLUME=OFFSET"}},
    {"set with two texts", {"job", "set", "1=2", "1|1@", "2|2@"}, "", 2, "", {"job set takes one text"}},
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
           {"--help"}, {"help"}, {"help", "job"}, {"job", "--help"}, {"help", "job", "diff"}, {"log", "--help"},
           {"help", "volumes", "set"}}) {
    const ProgramResult help = Tool(args);
    EXPECT_EQ(help.status, 0) << args.back();
    EXPECT_EQ(help.out.rfind("Usage: jxrestart", 0), 0u) << args.back();
  }
  const ProgramResult help = Tool({"help"});
  for (const char* words : {"Exit status", "0  success", "1  a text that is not well formed", "2  trouble", "--lenient",
                            "single quotes", "doc/formats.md"}) {
    EXPECT_NE(help.out.find(words), std::string::npos) << words;
  }
  // Every summary of a command list starts in one column.
  for (const char* group : {"", "job", "volumes"}) {
    const ProgramResult list = Tool(*group ? std::vector<std::string>{"help", group} : std::vector<std::string>{"help"});
    std::istringstream lines(list.out.substr(list.out.find("Commands:\n") + 10));
    size_t column = 0;
    for (std::string line; std::getline(lines, line) && !line.empty();) {
      // A command too long for the column has its summary on the next line.
      const bool continued = line.compare(0, 3, "   ") == 0;
      if (!continued && line.find("  ", 2) == std::string::npos) continue;
      const size_t at = line.find_first_not_of(' ', continued ? 0 : line.find("  ", 2));
      if (column == 0) column = at;
      EXPECT_EQ(at, column) << group << ": " << line;
    }
  }
}

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

// ZN_DEBUG_LOG is for job processes: the tool writes the library's lines to
// standard error with --debug, and nowhere else.
TEST(JxRestartTool, DebugSendsTheLibraryLinesToStandardErrorOnly) {
  EXPECT_EQ(Tool({"volumes", "check", "1|2|3|4$"}).err, "");
  const ProgramResult loud = Tool({"--debug", "volumes", "show", "1|2|3|4$"});
  EXPECT_EQ(loud.err, "ZNJxRestart::ParseRestartString: Restart String = 1|2|3|4$\n");
  const ProgramResult env = RunProgram(JXRESTART_TOOL, {"job", "show", "1|1@"}, "", {"ZN_DEBUG_LOG=stderr"});
  EXPECT_EQ(env.err, "");
}

std::string Folder() {
  static const std::string folder = [] {
    std::string path = ::testing::TempDir() + "/jxrestart-tool.XXXXXX";
    return std::string(::mkdtemp(&path[0]) ? path : "/tmp");
  }();
  return folder;
}

std::string WriteFile(const std::string& name, const std::string& content, bool compressed = false) {
  const std::string path = Folder() + "/" + name;
  if (compressed) {
    gzFile out = gzopen(path.c_str(), "wb");
    gzwrite(out, content.data(), static_cast<unsigned>(content.size()));
    gzclose(out);
  } else {
    std::ofstream(path, std::ios::binary) << content;
  }
  return path;
}

// A log whose path is the file being read, with ZN_DEBUG_LOG pointing at
// it: the tool leaves it as it is, and every command ends.
TEST(JxRestartTool, NeverWritesIntoTheLogItReads) {
  const std::string log = WriteFile("feedback.log", "X: The Restart string: -Restart 1|1@\n-Restart 9|9@ 0|1|1|5$\n");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"log", "--all", log}, {"log", "--json", log}, {"show", "-Restart 9|9@"}, {"job", "set", "9=1", "9|9@"}}) {
    const ProgramResult result = RunProgram(JXRESTART_TOOL, args, "", {"ZN_DEBUG_LOG=" + log});
    EXPECT_EQ(result.status, 0) << args[1] << result.err;
  }
  EXPECT_EQ(jxrestart::testing::ReadWhole(log), "X: The Restart string: -Restart 1|1@\n-Restart 9|9@ 0|1|1|5$\n");
}

// Waiting for standard input from a terminal is said, and only then.
TEST(JxRestartTool, SaysWhenItWaitsForATerminal) {
  const ProgramResult terminal = Shell("printf '1|1@\\n\\004' | script -qec \"$TOOL job check\" /dev/null");
  EXPECT_NE(terminal.out.find("reading standard input; end it with Ctrl-D"), std::string::npos) << terminal.out;
  EXPECT_EQ(Tool({"job", "check"}, "1|1@\n").err, "");
}

// A log as a job leaves it: the library's lines, a hand-off line, a state
// file's two lines, text around them, one text that is not well formed.
TEST(JxRestartTool, LogFindsEveryTextWithItsPlace) {
  const std::string path = WriteFile("job.log",
                                     "job started\n"
                                     "JxRestartability::BuildJobRestartString: The Restart string: -Restart 1|0@2|0@\n"
                                     "12:00:01 handed over -Restart 1|4@2|0@ and 0|1|11|4096$0|2|12|0$ to the manager\n"
                                     "JxRestartability::ParseRestartInputFromJM: Input from JM = 1|4@2|0@\n"
                                     "ZNJxRestart::ParseRestartString: Restart String = 0|1|11|4096$0|2|12|0$\n"
                                     "-Restart 1|8@2|99999999999@\r\n"
                                     "0|1|11|8192$0|2|12|4096$\n");
  const ProgramResult summary = Tool({"log", path});
  EXPECT_EQ(summary.status, 1);
  EXPECT_EQ(summary.err, "jxrestart: " + path +
                             ":6:16: offset \"99999999999\" is out of range (-2147483648 to 2147483647); it becomes "
                             "2147483647\njxrestart: 1 deviation; the states are shown as the library reads them "
                             "(--lenient accepts them)\n");
  EXPECT_EQ(summary.out, "7 lines: 7 restart strings\n\n"
                         "3 job states, 1 restart, 2 volume states (each counted once)\n\n"
                         "last job restart string (" + path + ":6):\n-Restart 1|8@2|2147483647@\n\n"
                         "last restart input (" + path + ":4):\n-Restart 1|4@2|0@\n\n"
                         "volume  first offset  last offset\n"
                         "     1             0            8\n"
                         "     2             0   2147483647\n\n"
                         "last volume restart string (" + path + ":7):\n0|1|11|8192$0|2|12|4096$\n\n"
                         "source  first offset  last offset\n"
                         "     1          4096         8192\n"
                         "     2             0         4096\n");
  const ProgramResult all = Tool({"log", "--all", "--lenient", path});
  EXPECT_EQ(all.status, 0);
  EXPECT_NE(all.out.find(path + ":3: volume restart string: 0|1|11|4096$0|2|12|0$\n"), std::string::npos);
  // --json: one object per job, then the summary; with --all, each state first.
  for (const bool every : {false, true}) {
    const ProgramResult json = Tool(every ? std::vector<std::string>{"log", "--json", "--all", path}
                                          : std::vector<std::string>{"log", "--json", path});
    std::vector<nlohmann::json> objects;
    std::istringstream lines(json.out);
    for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
    const size_t states = every ? 7 : 0;
    ASSERT_EQ(objects.size(), states + 2);
    for (size_t i = 0; i < states; ++i) EXPECT_EQ(objects[i]["file"], path);
    const nlohmann::json& job = objects[states]["job"];
    EXPECT_EQ(job["jobStates"], 3);
    EXPECT_EQ(job["lastVolumeRestartString"]["restartString"], "0|1|11|8192$0|2|12|4096$");
    // What the text summary says, in JSON.
    EXPECT_EQ(job["lastJobRestartString"], nlohmann::json({{"file", path}, {"line", 6},
                                                           {"restartString", "-Restart 1|8@2|2147483647@"}}));
    EXPECT_EQ(job["volumes"], nlohmann::json::parse(R"([{"volume": 1, "first": 0, "last": 8},
                                                         {"volume": 2, "first": 0, "last": 2147483647}])"));
    EXPECT_EQ(job["sources"], nlohmann::json::parse(R"([{"source": 1, "first": "4096", "last": "8192"},
                                                         {"source": 2, "first": "0", "last": "4096"}])"));
    EXPECT_EQ(objects.back()["summary"]["jobs"], 1);
    EXPECT_EQ(objects.back()["summary"]["restartStrings"], 7);
  }
  // A job of one state of each kind: that state is its last, and each
  // volume's first offset.
  const ProgramResult one = Tool({"log", "--json", WriteFile("one.log", "-Restart 1|8@\n0|1|11|4096$\n")});
  const nlohmann::json job = nlohmann::json::parse(one.out.substr(0, one.out.find('\n')))["job"];
  EXPECT_EQ(job["lastJobRestartString"]["restartString"], "-Restart 1|8@");
  EXPECT_EQ(job["volumes"], nlohmann::json::parse(R"([{"volume": 1, "first": 8, "last": 8}])"));
  EXPECT_EQ(job["sources"], nlohmann::json::parse(R"([{"source": 1, "first": "4096", "last": "4096"}])"));
}

// --json --all writes the items of a text as written straight from its
// bytes: each state's volumes are what its text holds, item for item, for
// numbers of every length and sign.
TEST(JxRestartTool, LogJsonVolumesAreTheTextsItems) {
  const std::string texts[] = {
      "-Restart -5|1@-2|-3@3|4@12345678|87654321@1234567890|7@2000000000|-2147483648@2100000000|0@",
      "-Restart 1|2@3|4@5|6@7|8@9|10@11|12@13|14@15|16@17|18@19|20@21|22@23|24@25|26@27|28@29|30@",
      "7|1234567@8|12345678@9|123456789@10|1234567890@11|1@12|2@13|3@14|4@15|5@16|6@17|7@",
  };
  std::string log;
  for (const std::string& text : texts) {
    log += (text[0] == '-' ? "job: " : "JxRestartability::ParseRestartInputFromJM: Input from JM = ") + text + "\n";
  }
  const ProgramResult json = Tool({"log", "--json", "--all", WriteFile("items.log", log)});
  std::istringstream lines(json.out);
  for (const std::string& text : texts) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const nlohmann::json state = nlohmann::json::parse(line);
    EXPECT_EQ(state["wellFormed"], true) << text;
    nlohmann::json expected = nlohmann::json::array();
    std::istringstream items(text.substr(text[0] == '-' && text[1] == 'R' ? 9 : 0));
    for (std::string id, offset; std::getline(items, id, '|') && std::getline(items, offset, '@');) {
      expected.push_back({{"volume", std::stoll(id)}, {"offset", std::stoll(offset)}});
    }
    EXPECT_EQ(state["volumes"], expected) << text;
  }
}

struct LogCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // name, content; ".gz" is written compressed
  std::vector<std::string> args;                           // a file's name stands for its path
  int status;
  std::vector<std::string> out;  // each in standard output, in order
  std::vector<std::string> err;  // each in standard error, in order
};

const char kTracker[] = "JxRestartability::BuildJobRestartString: The Restart string: ";

// A container runtime's records of a line: Docker's json-file driver
// splits it every 16 KiB, only the last record ending in "\n".
std::string DockerRecords(const std::string& line, const char* stream = "stdout") {
  std::string records;
  for (size_t at = 0; at < line.size(); at += 16384) {
    const std::string part = line.substr(at, 16384) + (at + 16384 >= line.size() ? "\n" : "");
    records += nlohmann::json{{"log", part}, {"stream", stream}, {"time", "2026-12-10T12:00:00.000000001Z"}}.dump() + "\n";
  }
  return records;
}

std::string ManyVolumes(int volumes, int offset) {
  std::string text = "-Restart ";
  for (int v = 1; v <= volumes; ++v) text += std::to_string(v) + "|" + std::to_string(offset) + "@";
  return text;
}

// journalctl -o export: "NAME=value\n", or for a value with control bytes
// "NAME\n", its length in 8 bytes little-endian, the value and "\n"; an
// empty line after each entry.
std::string Export(const std::vector<std::vector<std::pair<std::string, std::string>>>& entries) {
  std::string out;
  for (const auto& entry : entries) {
    for (const auto& [name, value] : entry) {
      if (value.find_first_of("\n\x01") == std::string::npos) {
        out += name + "=" + value + "\n";
        continue;
      }
      out += name + "\n";
      for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value.size() >> (8 * i)) & 0xff));
      out += value + "\n";
    }
    out += "\n";
  }
  return out;
}

// What logs of incidents hold, each told as it is.
const LogCase kLogCases[] = {
    {"two jobs in one log, the same volumes",
     {{"a.log", std::string(kTracker) + "-Restart 1|0@2|0@\n" + kTracker + "-Restart 1|2@2|0@\n" + kTracker +
                    "-Restart 1|1@2|0@\n"}},
     {"log", "a.log"},
     1,
     {"3 job states"},
     {"a.log:3:62: does not continue", "a.log:2: volume 1 goes back from 2 to 1 with no restart between; two jobs in "
                                       "one log? see --job"}},
    {"two jobs in one log, volumes apart",
     {{"b.log", "-Restart 1|0@2|0@\n-Restart 11|5@\n-Restart 1|1@2|0@\n-Restart 11|6@\n"}},
     {"log", "b.log"},
     0,
     {"2 jobs (told apart by their volumes", "job 1:", "-Restart 1|1@2|0@", "job 2:", "-Restart 11|6@"},
     {}},
    {"jobs told apart by --job",
     {{"c.log", "job 11: -Restart 1|0@\njob 12: -Restart 1|5@\njob 11: -Restart 1|1@\nother -Restart 1|0@\n"}},
     {"log", "--job", "^job ([0-9]+):", "c.log"},
     0,
     {"2 jobs (told apart by --job)", "job 11:", "-Restart 1|1@", "job 12:", "-Restart 1|5@"},
     {}},
    {"a regular expression that does not compile", {}, {"log", "--job", "job (", "-"}, 2, {}, {"missing closing parenthesis"}},
    {"rotated logs read oldest first",
     {{"r.log", "-Restart 1|5@\n"}, {"r.log.1", "-Restart 1|3@\n"}, {"r.log.2.gz", "-Restart 1|1@\n"}},
     {"log", "r.log", "r.log.1", "r.log.2.gz"},
     0,
     {"3 job states", "r.log:1", "-Restart 1|5@"},
     {}},
    {"a file that does not continue the one before",
     {{"new.log", "-Restart 1|5@\n"}, {"old.log", "-Restart 1|3@\n"}},
     {"log", "new.log", "old.log"},
     1,
     {},
     {"old.log:1:1: does not continue", "new.log:1: volume 1 goes back from 5 to 3",
      "old.log was read after ", "new.log: files given out of order, or two jobs?"}},
    {"a break in the lines --job selects",
     {{"sel.log", "job: -Restart 1|5@\njob: -Restart 1|3@\n"}},
     {"log", "--job", "^job:", "sel.log"},
     1,
     {},
     {"volume 1 goes back from 5 to 3 with no restart between; two jobs in the lines --job selects?"}},
    {"compressed, whatever its name",
     {{"archive.gz", "-Restart 1|2@\n"}, {"plain", "-Restart 1|3@\n"}},
     {"log", "archive.gz", "plain"},
     0,
     {"2 job states", "-Restart 1|3@"},
     {}},
    {"a line wrapped by a log shipper",
     {{"w.log", "-Restart 1|1@2|1@3|1@\n-Restart 1|2@2|2@\n3|2@\n"}},
     {"log", "w.log"},
     1,
     {},
     {"w.log:2:1: does not continue ", "w.log:1: it lacks 1 of the 3 volumes",
      "w.log:3:1: the line goes on with the job restart string cut at the end of ", "w.log:2"}},
    {"a line cut inside an item, and its rest",
     {{"mid.log", "-Restart 1|1@2|1@3|1\n0@4|1@\n"}},
     {"log", "mid.log"},
     1,
     {},
     {"mid.log:2:1: the line goes on with the job restart string cut at the end of "}},
    {"a container's record is a whole line, never a line cut",
     {{"whole.json", DockerRecords("-Restart 1|1@2|1@") + DockerRecords("3|1@")}},
     {"log", "whole.json"},
     0,
     {"1 job state"},
     {}},
    {"a state file torn before its first '$'",
     {{"state", "-Restart 1|3@2|3@\n0|1|1001|31457\n"}},
     {"log", "state"},
     1,
     {},
     {"state:2:1: a restart text with no complete item"}},
    {"a log with no restart string", {{"q.log", "started\nstopped\n"}}, {"log", "q.log"}, 1, {}, {"no restart string found in 2 lines"}},
    {"volumes added two at once",
     {{"a2.log", "-Restart 1|0@\n-Restart 1|1@2|0@3|0@\n"}},
     {"log", "a2.log"},
     1,
     {},
     {"a2.log:2:1: does not continue ", "a2.log:1: it adds 2 volumes at once; two jobs in one log? see --job"}},
    {"deviations beyond the cap counted",
     {{"many.log", [] {
         std::string log;
         for (int i = 1; i <= 22; ++i) log += "-Restart " + std::to_string(i) + "|x@\n";
         return log;
       }()}},
     {"log", "many.log"},
     1,
     {},
     {"many.log:20:", "2 more deviations not shown", "22 deviations"}},
    {"a capture group that captures nothing",
     {{"n.log", "job1: -Restart 1|1@\njob: -Restart 5|1@\n"}},
     {"log", "--job", "job(\\d)?:", "n.log"},
     0,
     {"2 jobs (told apart by --job)", "job 1:", "job (nothing captured):"},
     {}},
    {"every state with its job, one the library cannot read",
     {{"all.log", "job1: -Restart 1|1@\njob1: -Restart 0|1@\n"}},
     {"log", "--all", "--job", "job(\\d):", "all.log"},
     1,
     {"all.log:1: job 1: job restart string: -Restart 1|1@", "all.log:2: job 1: job restart string: (no volume in the text)"},
     {"all.log:2:16: volume id 0; the item is dropped"}},
    {"a volume lost and one added, each first and last offset",
     {{"p.log", "-Restart 1|1@2|1@\n-Restart 1|2@\n-Restart 1|3@3|0@\n"}},
     {"log", "p.log"},
     1,
     {"volume  first offset  last offset", "     1             1            3", "     2             1            -",
      "     3             0            0"},
     {"it lacks 1 of the 2 volumes"}},
    {"JSON summary of a log with no state",
     {{"e.log", "nothing\n"}},
     {"log", "--json", "e.log"},
     1,
     {"{\"summary\":{\"files\":["},
     {"no restart string found in 1 line"}},
    {"a live log whose last line is still being written",
     {{"live.log", "-Restart 1|3@2|3@\n-Restart 1|4@2|4@\n-Restart 1|5@2|"}},
     {"log", "live.log"},
     1,
     {"2 job states", "-Restart 1|4@2|4@"},
     {"live.log:3:1: the file ends in an unfinished line", "the last complete state stands"}},
    {"a state file torn after a '$'",
     {{"torn", "-Restart 1|3@2|3@3|3@\n0|1|1001|3$0|2|1002|3$"}},
     {"log", "torn"},
     1,
     {"0 volume states", "-Restart 1|3@2|3@3|3@"},
     {"torn:2:1: the file ends in an unfinished line"}},
    {"a rotation missing",
     {{"g.log", "-Restart 1|5@\n"}, {"g.log.1", "-Restart 1|4@\n"}, {"g.log.3", "-Restart 1|2@\n"}},
     {"log", "g.log", "g.log.3", "g.log.1"},
     1,
     {"3 job states"},
     // Said once, and not counted again as one not shown.
     {"g.log.2 is missing between ", "g.log.3 and ", "g.log.1 (a rotated file not given, or lost?)\njxrestart: 1 deviation;"}},
    {"a line longer than the blocks read ahead",
     {{"long.log", "-Restart 1|1@\n" + std::string(12 << 20, 'x') + "\n-Restart 1|2@\n"}},
     {"log", "long.log"},
     0,
     {"3 lines: 2 restart strings", "-Restart 1|2@"},
     {}},
    {"a volume restart string wrapped by a log shipper",
     {{"vw.log", "0|1|1001|3$0|5|1005|3$0|9|1009|3$\n0|1|1001|4$0|5|1005|4$\n0|12|1012|4$\n"}},
     {"log", "vw.log"},
     1,
     {},
     {"vw.log:3:1: the line goes on with the volume restart string cut at the end of "}},
    {"two processes of one job, alternating",
     {{"sys.log", "Dec 10 12:00:01 host job[4711]: -Restart 1|1@2|1@\nDec 10 12:00:02 host job[4790]: -Restart 1|2@2|2@\n"
                  "Dec 10 12:00:03 host job[4711]: -Restart 1|3@2|3@\n"}},
     {"log", "sys.log"},
     1,
     {},
     {"sys.log:2:33: process job[4790] goes on from the state of process job[4711] at ",
      "sys.log:3:33: process job[4711] goes on from the state of process job[4790] at ", "launched twice?"}},
    {"a restart in a new process",
     {{"re.log", "Dec 10 12:00:01 host job[4711]: -Restart 1|1@2|1@\n"
                 "Dec 10 12:00:09 host job[4800]: JxRestartability::ParseRestartInputFromJM: Input from JM = 1|1@2|1@\n"
                 "Dec 10 12:00:10 host job[4800]: -Restart 1|2@2|2@\n"}},
     {"log", "re.log"},
     0,
     {"2 job states, 1 restart"},
     {}},
    // Container runtimes: records joined per stream into the lines written.
    {"Docker json-file, whole records",
     {{"d.json", DockerRecords("X: The Restart string: -Restart 1|1@2|1@") + DockerRecords("-Restart 1|2@2|2@")}},
     {"log", "d.json"},
     0,
     {"2 job states", "-Restart 1|2@2|2@"},
     {}},
    {"Docker json-file, a state of 3,000 volumes in records of 16 KiB",
     {{"big.json", DockerRecords(ManyVolumes(3000, 4)) + DockerRecords("started", "stderr")}},
     {"log", "big.json"},
     0,
     {"1 job state", "  3000             4            4"},
     {}},
    {"Docker json-file, a line split after its '@', another stream between",
     {{"s.json", "{\"log\":\"-Restart 1|5@\",\"stream\":\"stdout\",\"time\":\"t1\"}\n"
                 "{\"log\":\"oops\\n\",\"stream\":\"stderr\",\"time\":\"t2\"}\n"
                 "{\"log\":\"2|5@\\n\",\"stream\":\"stdout\",\"time\":\"t3\"}\n"}},
     {"log", "s.json"},
     0,
     {"1 job state", "-Restart 1|5@2|5@"},
     {}},
    {"Docker json-file, records with escapes and spaces",
     {{"e.json", "{\"log\": \"say \\\"go\\\"\\t-Restart 1|3@\\n\", \"stream\": \"stdout\", \"time\": \"t\"}\n"
                 "{\"log\":\"-Restart 1|4@\\n\",\"stream\":\"stdout\",\"time\":\"t\",\"attrs\":{}}\n"}},
     {"log", "e.json"},
     0,
     {"2 job states", "-Restart 1|4@"},
     {}},
    {"Docker json-file, the last record of a line not yet written",
     {{"p.json", DockerRecords("-Restart 1|1@") + "{\"log\":\"-Restart 1|2@\",\"stream\":\"stdout\",\"time\":\"t\"}\n"}},
     {"log", "p.json"},
     1,
     {"1 job state", "-Restart 1|1@"},
     {"p.json:2:1: the file ends in a line of stdout whose last record has not come"}},
    {"CRI, a partial record and its last",
     {{"cri.log", "2026-12-10T12:00:00.000000001Z stdout P -Restart 1|7@\n"
                  "2026-12-10T12:00:00.000000002Z stderr F warning: slow disk\n"
                  "2026-12-10T12:00:00.000000003Z stdout F 2|7@\n"
                  "2026-12-10T12:00:00.000000004Z stdout X -Restart 1|8@2|8@\n"}},
     {"log", "cri.log"},
     1,
     {"4 lines: 1 restart string", "-Restart 1|7@2|7@"},
     {"cri.log:4:1: a CRI record with the tag \"X\", neither P nor F; the line is not read"}},
    {"CRI, an empty line",
     {{"cri0.log", "2026-12-10T12:00:00Z stdout F\n2026-12-10T12:00:01Z stdout F -Restart 1|1@\n"}},
     {"log", "cri0.log"},
     0,
     {"2 lines: 1 restart string", "-Restart 1|1@"},
     {}},
    // The journal: only the message is read, each of its lines.
    {"journal export, a message in binary form of two lines",
     {{"j.export", Export({{{"__CURSOR", "s=1"}, {"_PID", "4711"}, {"SYSLOG_IDENTIFIER", "job"},
                            {"_CMDLINE", "job --restart-input 9|9@"}, {"MESSAGE", "-Restart 1|1@2|1@"}},
                           {{"__CURSOR", "s=2"}, {"_PID", "4711"}, {"MESSAGE", "handed over\n-Restart 1|2@2|2@\x01"}},
                           {{"__CURSOR", "s=3"}, {"_PID", "4711"}, {"MESSAGE", "-Restart 1|3@2|3@"}}})}},
     {"log", "j.export"},
     1,
     {"3 job states", "-Restart 1|3@2|3@"},
     {"j.export:2:", "text after the last item: \"\\x01\""}},
    {"journal export, a message that is no UTF-8",
     {{"u.export", Export({{{"__CURSOR", "s=1"}, {"_PID", "7"}, {"MESSAGE", "\xff\xfe -Restart 1|4@"}}})}},
     {"log", "--all", "u.export"},
     0,
     {"u.export:1: job restart string: -Restart 1|4@"},
     {}},
    {"journal export, a field running past the end",
     {{"cut.export", Export({{{"__CURSOR", "s=1"}, {"MESSAGE", "-Restart 1|1@"}}}) + "__CURSOR=s=2\nMESSAGE\n\xff\xff\0\0\0\0\0\0-Restart"}},
     {"log", "cut.export"},
     2,
     {"1 job state", "-Restart 1|1@"},
     {"cut.export: the journal field MESSAGE runs past the end of the data"}},
    {"journal JSON, a message as bytes, two processes",
     {{"j.json", "{\"__CURSOR\":\"s=1\",\"_PID\":\"4711\",\"SYSLOG_IDENTIFIER\":\"job\",\"MESSAGE\":\"-Restart 1|1@\",\"_CMDLINE\":\"-Restart 7|7@\"}\n"
                 "{\"__CURSOR\":\"s=2\",\"_PID\":\"4790\",\"SYSLOG_IDENTIFIER\":\"job\",\"MESSAGE\":[45,82,101,115,116,97,114,116,32,49,124,50,64]}\n"}},
     {"log", "j.json"},
     1,
     {"2 job states", "-Restart 1|2@"},
     {"j.json:2:1: process job[4790] goes on from the state of process job[4711]"}},
    {"journal JSON, a line longer than LineMax in two entries, another process between",
     {{"m.json", "{\"__CURSOR\":\"s=1\",\"_PID\":\"4711\",\"_LINE_BREAK\":\"line-max\",\"MESSAGE\":\"-Restart 1|5@\"}\n"
                 "{\"__CURSOR\":\"s=2\",\"_PID\":\"4790\",\"MESSAGE\":\"-Restart 7|1@\"}\n"
                 "{\"__CURSOR\":\"s=3\",\"_PID\":\"4711\",\"PRIORITY\":6,\"MESSAGE\":\"2|5@\"}\n"}},
     {"log", "m.json"},
     0,
     {"3 lines: 2 restart strings", "-Restart 7|1@", "m.json:1):\n-Restart 1|5@2|5@"},
     {}},
    {"journal export, a line longer than LineMax whose last entry has not come",
     {{"m.export", Export({{{"__CURSOR", "s=1"}, {"_PID", "4711"}, {"SYSLOG_IDENTIFIER", "job"}, {"MESSAGE", "-Restart 1|1@"}},
                           {{"__CURSOR", "s=2"}, {"_PID", "4711"}, {"SYSLOG_IDENTIFIER", "job"},
                            {"_LINE_BREAK", "line-max"}, {"MESSAGE", "-Restart 1|2@"}}})}},
     {"log", "m.export"},
     1,
     {"1 job state", "-Restart 1|1@"},
     {"m.export:2:1: the file ends in a line of job[4711] whose last record has not come"}},
    {"journalctl -o json-pretty: entries of several lines, a message as bytes, two processes",
     {{"p.json", "{\n\t\"_PID\" : \"4711\",\n\t\"MESSAGE\" : \"-Restart 1|1@\",\n\t\"SYSLOG_IDENTIFIER\" : \"job\",\n"
                 "\t\"__CURSOR\" : \"s=1\"\n}\n"
                 "{\n\t\"__CURSOR\" : \"s=2\",\n\t\"_PID\" : \"4790\",\n\t\"SYSLOG_IDENTIFIER\" : \"job\",\n"
                 "\t\"MESSAGE\" : [\n\t\t45,\n\t\t82,\n\t\t101,\n\t\t115,\n\t\t116,\n\t\t97,\n\t\t114,\n\t\t116,\n"
                 "\t\t32,\n\t\t49,\n\t\t124,\n\t\t50,\n\t\t64\n\t]\n}\n"
                 "{\n\t\"__CURSOR\" : \"s=3\",\n\t\"_PID\" : \"4790\",\n\t\"MESSAGE\" : \"-Restart 1|3"}},
     {"log", "p.json"},
     1,
     {"3 lines: 2 restart strings", "-Restart 1|2@"},
     {"p.json:2:1: process job[4790] goes on from the state of process job[4711]",
      "p.json:3:1: the file ends in an unfinished line"}},
    {"pretty JSON: an object that a line not indented ends, an empty line kept",
     {{"b.json", "{\nplain -Restart 1|1@\n{\n  \"state\": \"-Restart 1|2@\"\n}\n\nlast -Restart 1|3@\n"}},
     {"log", "--all", "b.json"},
     0,
     {"b.json:2: job restart string: -Restart 1|1@", "b.json:3: job restart string: -Restart 1|2@",
      "b.json:5: job restart string: -Restart 1|3@"},
     {}},
    {"a binary file's own NULs kept: --binary reads it from its first byte",
     {{"nuls.bin", std::string("\0\0\0\x7f" "ELF\0\0 -Restart 1|1@x\n", 25)}},
     {"log", "--binary", "nuls.bin"},
     1,
     {"1 job state", "-Restart 1|1@"},
     {"nuls.bin:1:24: text after the last item"}},
    {"a log truncated under its writer, with a byte-order mark",
     {{"zeros.log", std::string(70000, '\0') + "\xef\xbb\xbf-Restart 1|1@\n"}},
     {"log", "zeros.log"},
     0,
     {"1 job state", "-Restart 1|1@"},
     {"zeros.log: begins with 70000 NUL bytes"}},
    {"a log of NUL bytes only",
     {{"nul.log", std::string(5000, '\0')}},
     {"log", "nul.log"},
     1,
     {},
     {"nul.log: begins with 5000 NUL bytes", "no restart string found in 0 lines"}},
    {"xz data that is not xz",
     {{"bad.xz", std::string("\xfd" "7zXZ\0", 6) + std::string(4000, 'x')}},
     {"log", "bad.xz"},
     2,
     {},
     {"bad.xz: the compressed data (xz) is "}},
    {"lines that only look like a CRI runtime's",
     {{"notcri.log", "12:00:00 stdout F -Restart 1|1@\n2026-12-10T12:00:00Z console F -Restart 1|2@\n"
                     "2026-12-10T12:00:00Z stdout\n"}},
     {"log", "notcri.log"},
     0,
     {"2 job states", "-Restart 1|2@"},
     {}},
    {"a volume id wider than its column's name",
     {{"wide.log", "-Restart 1234567|1@\n-Restart 1234567|2@\n"}},
     {"log", "wide.log"},
     0,
     {" volume  first offset  last offset\n1234567             1            2\n"},
     {}},
    {"JSON nested, JSON broken, a torn text between spaces",
     {{"mix.log", "{\"a\": [1, true, null, 2.5, -3, {\"b\": \"-Restart 1|1@\"}]}\n{\"log\": -Restart 1|2@}\n  0|1|1001|31 \r\n"}},
     {"log", "mix.log"},
     1,
     {"2 job states", "-Restart 1|2@"},
     {"mix.log:3:1: a restart text with no complete item"}},
    {"a missing file among others",
     {{"here.log", "-Restart 1|3@\n"}},
     {"log", "nope.log", "here.log"},
     2,
     {"1 job state", "-Restart 1|3@"},
     {"nope.log: No such file or directory"}},
    {"a folder given as a log: nothing was read from it",
     {},
     {"log", "/"},
     2,
     {},
     {"jxrestart: /: Is a directory\njxrestart: no restart string found in 0 lines\n"}},
    {"a log of JSON lines",
     {{"j.log", "{\"time\": \"12:00\", \"message\": \"ZNJxRestart::ParseRestartString: Restart String = 0|1|11|5$\"}\n"
                "{\"message\": \"X: The Restart string: -Restart 1|5@\"}\n"}},
     {"log", "j.log"},
     0,
     {"1 job state", "1 volume state", "0|1|11|5$"},
     {}},
    {"one state in two lines of one job counted once",
     {{"d.log", std::string(kTracker) + "-Restart 1|1@\nhanded over -Restart 1|1@ 0|1|1|1$\n" + kTracker +
                    "-Restart 1|2@\nhanded over -Restart 1|2@ 0|1|1|2$\n"}},
     {"log", "d.log"},
     0,
     {"2 job states, 0 restarts, 2 volume states (each counted once)"},
     {}},
    {"two state files compared, both kinds",
     {{"s1", "-Restart 1|3@2|3@\n0|1|1001|3$0|2|1002|3$\n"}, {"s2", "-Restart 1|4@2|3@\n0|1|1001|4$0|2|1002|3$\n"}},
     {"diff", "--file", "s1", "--file", "s2"},
     1,
     {"job restart strings:", "advanced       1    3    4  +1", "volume restart strings:", "changed  offset       1"},
     {}},
    {"a state file torn after a '$', to diff",
     {{"t1", "-Restart 1|3@\n0|1|1001|3$\n"}, {"t2", "-Restart 1|4@\n0|1|1001|4$0|2|10"}},
     {"diff", "--file", "t1", "--file", "t2"},
     2,
     {},
     {"t2: the state file stops at byte 31 with no line end (torn while it was written?)"}},
    {"a state file with a byte-order mark, to set",
     {{"bom", "\xef\xbb\xbf-Restart 1|3@\n0|1|1001|3$\n"}},
     {"job", "set", "1=0", "--file", "bom"},
     0,
     {"-Restart 1|0@\n0|1|1001|3$\n"},
     {}},
    {"two state files compared, JSON",
     {{"s1", "-Restart 1|3@\n0|1|1001|3$\n"}, {"s2", "-Restart 1|3@\n0|1|1001|3$\n"}},
     {"diff", "--json", "--file", "s1", "--file", "s2"},
     0,
     {"\"job\": {", "\"same\": true", "\"volumes\": {", "\"same\": true"},
     {}},
};

TEST(JxRestartTool, LogsOfIncidents) {
  for (const LogCase& c : kLogCases) {
    std::map<std::string, std::string> paths;
    for (const auto& file : c.files) {
      const bool gz = file.first.size() > 3 && file.first.compare(file.first.size() - 3, 3, ".gz") == 0;
      paths[file.first] = WriteFile(file.first, file.second, gz);
    }
    std::vector<std::string> args;
    for (const std::string& arg : c.args) {
      args.push_back(paths.count(arg) ? paths[arg] : arg == "nope.log" ? Folder() + "/nope.log" : arg);
    }
    const ProgramResult result = Tool(args);
    EXPECT_EQ(result.status, c.status) << c.name << "\n" << result.err;
    for (const auto& expected : {std::make_pair(&c.out, &result.out), std::make_pair(&c.err, &result.err)}) {
      size_t at = 0;
      for (const std::string& part : *expected.first) {
        at = expected.second->find(part, at);
        EXPECT_NE(at, std::string::npos) << c.name << ": no \"" << part << "\" in\n" << *expected.second;
        if (at == std::string::npos) break;
      }
    }
    if (c.err.empty()) {
      EXPECT_EQ(result.err, "") << c.name;
    }
  }
}

// Each file is closed once read: 80 files are read under a limit of 40
// open files.
TEST(JxRestartTool, LogClosesEachFileItReads) {
  std::string command = "ulimit -n 40 && \"$TOOL\" log";
  for (int i = 1; i <= 80; ++i) {
    command += " '" + WriteFile("many-" + std::to_string(i), "-Restart 1|" + std::to_string(i) + "@\n") + "'";
  }
  const ProgramResult result = Shell(command);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("80 job states"), std::string::npos) << result.out;
}

// A compressed log cut short: the lines before are read, the name said.
// Compressed data as rotation and disks leave it: cut short or corrupt is
// reported with the lines before it read; members appended one after the
// other (as "cat a.gz b.gz" makes) are read as one file.
TEST(JxRestartTool, CompressedLogsCutCorruptOrAppended) {
  std::string lines;
  for (int i = 1; i <= 2000; ++i) lines += "-Restart 1|" + std::to_string(i) + "@\n";
  const std::string whole = jxrestart::testing::ReadWhole(WriteFile("whole.gz", lines, true));
  std::string corrupt = whole;
  for (size_t i = 200; i < 260; ++i) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
  const std::string second = jxrestart::testing::ReadWhole(WriteFile("more.gz", "-Restart 1|2001@\n", true));
  const struct {
    const char* name;
    std::string bytes;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {"cut.log.gz", whole.substr(0, whole.size() / 2), 2, " job states",
       ": the compressed data is cut short; the lines before were read"},
      {"corrupt.log.gz", corrupt, 2, " job states", ": the compressed data is corrupt ("},
      {"appended.log.gz", whole + second, 0, "2001 job states", nullptr},
  };
  for (const auto& c : cases) {
    const std::string path = WriteFile(c.name, c.bytes);
    const ProgramResult result = Tool({"log", path});
    EXPECT_EQ(result.status, c.status) << c.name << "\n" << result.err;
    EXPECT_NE(result.out.find(c.out), std::string::npos) << c.name << "\n" << result.out;
    if (c.err != nullptr) {
      EXPECT_NE(result.err.find(path + c.err), std::string::npos) << result.err;
    }
  }
}

// Every compression a rotated log is given, by its content: whole, and cut.
TEST(JxRestartTool, EveryCompressionReadOrNamed) {
  std::string lines;
  for (int i = 1; i <= 30000; ++i) lines += "-Restart 1|" + std::to_string(i) + "@\n";
  const std::string plain = WriteFile("plain.log", lines);
  const std::pair<const char*, const char*> kCompressions[] = {
      {"gzip", "gz"}, {"xz", "xz"}, {"bzip2", "bz2"}, {"zstd -q", "zst"}, {"lz4 -q", "lz4"}};
  for (const auto& [command, suffix] : kCompressions) {
    const std::string packed = plain + "." + suffix;
    ASSERT_EQ(Shell(std::string(command) + " -c " + plain + " > " + packed).status, 0) << command;
    ProgramResult result = Tool({"log", packed});
    EXPECT_EQ(result.status, 0) << command << "\n" << result.err;
    EXPECT_NE(result.out.find("30000 job states"), std::string::npos) << command;
    EXPECT_NE(result.out.find("-Restart 1|30000@"), std::string::npos) << command;
    ASSERT_EQ(Shell("head -c $(($(stat -c %s " + packed + ") / 2)) " + packed + " > " + packed + ".cut").status, 0);
    result = Tool({"log", packed + ".cut"});
    EXPECT_EQ(result.status, 2) << command;
    EXPECT_NE(result.err.find(".cut: the compressed data"), std::string::npos) << command << "\n" << result.err;
  }
  // A journal's entries exported or pretty-printed, then compressed.
  const std::string kJournals[] = {Export({{{"__CURSOR", "s=1"}, {"_PID", "7"}, {"MESSAGE", "-Restart 1|5@"}}}),
                                   "{\n\t\"_PID\" : \"7\",\n\t\"MESSAGE\" : \"-Restart 1|5@\",\n\t\"__CURSOR\" : \"s\"\n}\n"};
  for (const std::string& journal : kJournals) {
    const std::string path = WriteFile("journal", journal);
    for (const char* command : {"gzip", "xz"}) {
      ASSERT_EQ(Shell(std::string(command) + " -c " + path + " > " + path + ".z").status, 0) << command;
      const ProgramResult result = Tool({"log", "--all", path + ".z"});
      EXPECT_EQ(result.status, 0) << command << "\n" << result.err;
      EXPECT_NE(result.out.find("journal.z:1: job restart string: -Restart 1|5@"), std::string::npos) << result.out;
    }
  }
}

// Standard input that is a pipe is read through the same blocks as a
// file: its head, a binary stream, and a line longer than a block.
TEST(JxRestartTool, LogReadsAPipeAsItReadsAFile) {
  const struct {
    const char* command;
    int status;
    const char* err;
  } kPipes[] = {
      {"printf '\\0\\0\\0\\357\\273\\277-Restart 1|1@\\n' | $TOOL log -", 0, "standard input: begins with 3 NUL bytes"},
      {"printf '\\0\\177ELF\\0\\0 -Restart 1|1@\\n' | $TOOL log -", 2, "standard input: binary file"},
      {"{ printf -- '-Restart 1|1@\\n'; head -c 3000000 /dev/zero | tr '\\0' x; printf '\\n-Restart 1|2@'; } | $TOOL log -", 1,
       "standard input:3:1: the file ends in an unfinished line"},
      // A sparse file's hole, passed without reading it.
      {"f=$(mktemp) && truncate -s 70000 $f && printf -- '-Restart 1|1@\\n' >>$f && $TOOL log - <$f; s=$?; rm $f; exit $s", 0,
       "standard input: begins with 70000 NUL bytes"},
  };
  for (const auto& p : kPipes) {
    const ProgramResult result = Shell(p.command);
    EXPECT_EQ(result.status, p.status) << p.command << "\n" << result.err;
    EXPECT_NE(result.err.find(p.err), std::string::npos) << p.command << "\n" << result.err;
  }
}

}  // namespace
