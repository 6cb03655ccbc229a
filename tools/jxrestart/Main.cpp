// jxrestart: reads the restart strings of volume copy jobs, as operators
// find them in job logs. All reading and rendering is the library's.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "restart/JxRestartVersion.h"
#include "tools/jxrestart/Command.h"

namespace jxrestart {
namespace tool {
namespace {

const char kUsage[] = R"(Usage: jxrestart [--debug] COMMAND [OPTIONS] [TEXT]

Reads the restart strings of volume copy jobs, as found in job logs.

Commands:
  job show [TEXT]        the volumes and offsets of a job restart string
  job diff OLD NEW       how each volume's offset changed from OLD to NEW
  volumes show [TEXT]    the records of a volume restart string
  volumes check [TEXT]   whether a volume restart string reads whole

A TEXT is an argument, standard input when it is '-' or left out, or the
content of a file given by --file PATH (one line end at its end is dropped).

Options:
  --file PATH   read a text from PATH (diff: give OLD and NEW in order)
  --json        print JSON instead of a table (show and diff)
  --debug       write the library's debug lines to standard error
                (also on when ZN_DEBUG_LOG is set: 'stderr' or a file path)
  --help        print the help of jxrestart or of a command
  --version     print the version

Quoting: a volume restart string holds '$', so put it in single quotes,
and put a text that begins with '-' after '--':
  jxrestart volumes show '2|-5|7|-1$1|100|200|4096$'
  jxrestart job show -- '-Restart 3|0@17|4096@'

Exit status, as diff and cmp use it:
  0  success (diff: the two states are the same)
  1  an invalid input (diff: the states differ)
  2  trouble: a usage error, an unreadable file (diff: also an input
     the library refuses)

The formats and how malformed texts read: doc/formats.md in the sources,
share/doc/JxRestart/formats.md where jxrestart is installed.
)";

struct CommandInfo {
  const char* group;
  const char* action;
  int texts;  // how many texts it reads
  bool json;  // whether --json applies
  int (*run)(const Invocation&);
  const char* help;
};

const CommandInfo kCommands[] = {
    {"job", "show", 1, true, JobShow,
     "Usage: jxrestart job show [--json] [TEXT | - | --file PATH]\n\n"
     "Reads a job restart string (\"-Restart 3|0@17|4096@\") or the restart input\n"
     "that the job manager hands back (\"3|0@17|4096@\") and prints each volume\n"
     "and its offset in ascending order, then the job restart string rebuilt\n"
     "from them. Exit 1 when no volume is read from the text.\n"},
    {"job", "diff", 2, true, JobDiff,
     "Usage: jxrestart job diff [--json] OLD NEW\n\n"
     "Compares two job restart strings volume by volume: added, removed,\n"
     "advanced (and by how much), gone back, unchanged, with a summary line.\n"
     "OLD or NEW may be '-' (standard input) or come from --file PATH.\n"
     "Exit 0 when the states are the same, 1 when they differ, 2 when a text\n"
     "holds no volume.\n"},
    {"volumes", "show", 1, true, VolumesShow,
     "Usage: jxrestart volumes show [--json] [TEXT | - | --file PATH]\n\n"
     "Reads a volume restart string (\"2|-5|7|-1$1|100|200|4096$\": copy type,\n"
     "source, destination and offset per record) and prints its records in\n"
     "ascending source order, the offset as an unsigned number, then the\n"
     "string rendered from them. Exit 1 when the string is invalid or holds\n"
     "no record. Quote it in single quotes: it holds '$'.\n"},
    {"volumes", "check", 1, false, VolumesCheck,
     "Usage: jxrestart volumes check [TEXT | - | --file PATH]\n\n"
     "Prints nothing and exits 0 when the volume restart string reads whole.\n"
     "Otherwise names the first invalid item, its 1-based byte position and\n"
     "how many items were accepted before it, and exits 1. A text of 5 bytes\n"
     "or fewer is not read at all and is invalid too.\n"},
};

int Usage(const std::string& message) { return Fail(kExitTrouble, message + " (see 'jxrestart --help')"); }

const CommandInfo* FindCommand(const std::string& group, const std::string& action) {
  for (const CommandInfo& command : kCommands) {
    if (group == command.group && action == command.action) return &command;
  }
  return nullptr;
}

void EnableDebugLog() { setenv("ZN_DEBUG_LOG", "stderr", 1); }

int RunCommand(const CommandInfo& command, int argc, char** argv, int first) {
  Invocation invocation;
  bool options = true;
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      std::cout << command.help;
      return kExitOk;
    } else if (options && arg == "--json" && command.json) {
      invocation.json = true;
    } else if (options && arg == "--debug") {
      EnableDebugLog();
    } else if (options && arg == "--file") {
      if (++i == argc) return Usage("--file needs a path");
      invocation.sources.push_back({Source::kFile, argv[i]});
    } else if (arg == "-") {
      invocation.sources.push_back({Source::kStdin, ""});
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "' for '" + command.group + " " + command.action +
                   "' (a text that begins with '-' goes after '--')");
    } else {
      invocation.sources.push_back({Source::kArgument, arg});
    }
  }
  if (invocation.sources.empty() && command.texts == 1) invocation.sources.push_back({Source::kStdin, ""});
  if (static_cast<int>(invocation.sources.size()) != command.texts) {
    return Usage(std::string(command.group) + " " + command.action + " takes " +
                 (command.texts == 1 ? "one text" : "two texts"));
  }
  int readers = 0;
  for (const Source& source : invocation.sources) readers += source.kind == Source::kStdin;
  if (readers > 1) return Usage("standard input can give only one text");
  return command.run(invocation);
}

int Main(int argc, char** argv) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return kExitOk;
    }
    if (arg == "--version") {
      std::cout << "jxrestart " JXRESTART_VERSION_STRING "\n";
      return kExitOk;
    }
    if (arg != "--debug") return Usage("unknown option '" + arg + "'");
    EnableDebugLog();
  }
  if (i + 1 >= argc) return Usage(i == argc ? "no command given" : "'" + std::string(argv[i]) + "' needs a command");
  const CommandInfo* command = FindCommand(argv[i], argv[i + 1]);
  if (command == nullptr) return Usage("unknown command '" + std::string(argv[i]) + " " + argv[i + 1] + "'");
  return RunCommand(*command, argc, argv, i + 2);
}

}  // namespace
}  // namespace tool
}  // namespace jxrestart

int main(int argc, char** argv) { return jxrestart::tool::Main(argc, argv); }
