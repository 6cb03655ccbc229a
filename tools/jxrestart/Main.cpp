// jxrestart: reads the restart strings of volume copy jobs, as operators
// find them in job logs. Texts are checked strictly against their grammar;
// every state shown is the library's own reading.
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "restart/JxRestartVersion.h"
#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Output.h"

namespace jxrestart {
namespace tool {
namespace {

const char kUsage[] = R"(Usage: jxrestart [--debug] COMMAND [OPTIONS] [TEXT]

Reads the restart strings of volume copy jobs, as found in job logs, and
checks them strictly: each way in which a text departs from its grammar is
reported with its byte and what a job restarted with the text would get.

Commands:
  show [TEXT]            a job or volume restart string, whichever it is
  check [TEXT]           whether a job or volume restart string is well formed
  job show [TEXT]        the volumes and offsets of a job restart string
                         or of a restart input
  job check [TEXT]       whether a job restart string or restart input is
                         well formed
  job diff OLD NEW       how each volume's offset changed from OLD to NEW
  volumes show [TEXT]    the records of a volume restart string
  volumes check [TEXT]   whether a volume restart string is well formed
  log [FILE...]          the restart strings in job logs and state files
  help [COMMAND]         this help, or the help of a command

A TEXT is an argument, standard input when it is '-' or left out, or the
content of a file given by --file PATH. It is one line: a line end at its
end is dropped, and a text of several lines is refused (read job logs and
state files with 'log').

Options:
  --file PATH, --file=PATH
              read a text from PATH (diff: OLD, then NEW)
  --json      print JSON (show, check, diff, log)
  --lenient   accept a text as the library does: warn about each deviation
              and exit 0 (show, diff, log)
  --all       list every state found with its place (log)
  --debug     write the library's debug lines to standard error
              (also on when ZN_DEBUG_LOG is set: 'stderr' or a file path)
  --help      print the help of jxrestart or of a command
  --version   print the version

Quoting: a volume restart string holds '$', so put it in single quotes. A
text may begin with '-', as a job restart string does; a text that begins
with '--' goes after '--'.
  jxrestart volumes show '2|-5|7|-1$1|100|200|4096$'
  jxrestart job show '-Restart 3|0@17|4096@'

Exit status, as diff and cmp use it:
  0  success: the text is well formed (diff: the states are the same)
  1  a text that is not well formed, or from which the library reads
     nothing (diff: the states differ)
  2  trouble: a usage error, an unreadable file, a text of the wrong kind
     or of several lines, a failed write to standard output (diff: also
     a text that is not well formed)

The grammar of each text, what its deviations mean, and the JSON shapes:
doc/formats.md in the sources, share/doc/JxRestart/formats.md where
jxrestart is installed.
)";

enum Option : unsigned { kFile = 1, kJson = 2, kLenient = 4, kAll = 8 };

struct OptionInfo {
  const char* name;
  Option bit;
};
const OptionInfo kOptions[] = {{"--file", kFile}, {"--json", kJson}, {"--lenient", kLenient}, {"--all", kAll}};

struct CommandInfo {
  const char* group;  // "job", "volumes", or "" for a command of its own
  const char* action;
  int texts;  // how many texts it reads; -1: files, any number (log)
  unsigned options;
  int (*run)(const Invocation&, const std::vector<Text>&);
  const char* summary;
  const char* help;
};

const CommandInfo kCommands[] = {
    {"", "show", 1, kFile | kJson | kLenient, AnyShow, "a job or volume restart string, whichever it is",
     "Usage: jxrestart show [--json] [--lenient] [TEXT | - | --file PATH]\n\n"
     "Runs 'job show' for a job restart string (it begins with '-Restart ') or a\n"
     "restart input (items closed by '@'), 'volumes show' for a volume restart\n"
     "string (records closed by '$'). A text of neither kind is refused.\n"},
    {"", "check", 1, kFile | kJson, AnyCheck, "whether a job or volume restart string is well formed",
     "Usage: jxrestart check [--json] [TEXT | - | --file PATH]\n\n"
     "Runs 'job check' or 'volumes check', by the kind of the text, as 'show'\n"
     "tells them apart.\n"},
    {"job", "show", 1, kFile | kJson | kLenient, JobShow, "the volumes and offsets of a job restart string",
     "Usage: jxrestart job show [--json] [--lenient] [TEXT | - | --file PATH]\n\n"
     "Reads a job restart string (\"-Restart 3|0@17|4096@\") or the restart input\n"
     "that the job manager hands back (\"3|0@17|4096@\") as a restarted job reads\n"
     "it, and prints each volume and its offset in ascending order, then the\n"
     "job restart string rebuilt from them. Each deviation from the grammar is\n"
     "reported on standard error with what the restarted job gets instead.\n"
     "Exit 0 when the text is well formed, 1 when it is not (0 with --lenient)\n"
     "or when no volume is read from it, 2 for a volume restart string.\n"},
    {"job", "check", 1, kFile | kJson, JobCheck, "whether a job restart string or restart input is well formed",
     "Usage: jxrestart job check [--json] [TEXT | - | --file PATH]\n\n"
     "Prints nothing and exits 0 when the job restart string or restart input\n"
     "is well formed. Otherwise reports each deviation with its byte, what is\n"
     "wrong, and what a job restarted with the text gets instead, and exits 1.\n"},
    {"job", "diff", 2, kFile | kJson | kLenient, JobDiff, "how each volume's offset changed from OLD to NEW",
     "Usage: jxrestart job diff [--json] [--lenient] OLD NEW\n\n"
     "Compares two job restart strings volume by volume, as restarted jobs read\n"
     "them: added, removed, advanced (and by how much), gone back, unchanged,\n"
     "with a summary line. OLD or NEW may be '-' (standard input) or come from\n"
     "--file PATH. Exit 0 when the states are the same, 1 when they differ, 2\n"
     "when OLD or NEW is not well formed (unless --lenient) or holds no volume.\n"},
    {"volumes", "show", 1, kFile | kJson | kLenient, VolumesShow, "the records of a volume restart string",
     "Usage: jxrestart volumes show [--json] [--lenient] [TEXT | - | --file PATH]\n\n"
     "Reads a volume restart string (\"2|-5|7|-1$1|100|200|4096$\": copy type,\n"
     "source, destination and offset per record) as a restarted job reads it,\n"
     "and prints its records in ascending source order, the offset as the\n"
     "string writes it, then the string rendered from them. Each deviation\n"
     "from the grammar is reported on standard error. Exit 0 when the text is\n"
     "well formed, 1 when it is not (0 with --lenient) or the library refuses\n"
     "it or reads no record, 2 for a job restart string or restart input.\n"
     "Quote it in single quotes: it holds '$'.\n"},
    {"volumes", "check", 1, kFile | kJson, VolumesCheck, "whether a volume restart string is well formed",
     "Usage: jxrestart volumes check [--json] [TEXT | - | --file PATH]\n\n"
     "Prints nothing and exits 0 when the volume restart string is well formed.\n"
     "Otherwise reports each deviation with its byte, what is wrong, and what a\n"
     "job restarted with the text gets instead, and exits 1.\n"},
    {"", "log", -1, kJson | kLenient | kAll, Log, "the restart strings in job logs and state files",
     "Usage: jxrestart log [--all | --json] [--lenient] [FILE... | -]\n\n"
     "Reads job logs as they are, line by line: the library's debug lines, the\n"
     "lines a job writes when it hands its state on, a job manager's state file\n"
     "(a job restart string and a volume restart string, one per line), any text\n"
     "around them. Finds every job restart string, restart input and volume\n"
     "restart string, and prints the last of each kind as the library renders\n"
     "it, how many the log holds (each restart input is a restart), and each\n"
     "volume's first and last offset over the log. --all lists every text found\n"
     "with its file and line instead; --json prints one JSON object per text.\n"
     "A text that is not well formed is reported with its file, line and column\n"
     "and does not stop the reading. Reads standard input when no FILE is given.\n"
     "Exit 0 when every text is well formed (or --lenient), 1 when one is not or\n"
     "none is found, 2 when a file cannot be read.\n"},
};

int Usage(const std::string& message) { return Fail(kExitTrouble, message + " (see 'jxrestart --help')"); }

std::string NameOf(const CommandInfo& command) {
  return *command.group ? std::string(command.group) + " " + command.action : command.action;
}

bool IsGroup(const std::string& word) { return word == "job" || word == "volumes"; }

const CommandInfo* FindCommand(const std::string& group, const std::string& action) {
  for (const CommandInfo& command : kCommands) {
    if (group == command.group && action == command.action) return &command;
  }
  return nullptr;
}

std::string GroupHelp(const std::string& group) {
  std::string help = "Usage: jxrestart " + group + " COMMAND [OPTIONS] [TEXT]\n\nCommands:\n";
  for (const CommandInfo& command : kCommands) {
    if (group == command.group) help += "  " + std::string(command.action) + "  " + command.summary + "\n";
  }
  return help + "\nSee 'jxrestart help " + group + " COMMAND' for each.\n";
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// "--name" or "--name=value" is an option; every other argument that
// begins with '-' (a job restart string, a negative number) is a text.
bool IsOption(const std::string& arg) { return (arg.size() > 2 && arg.compare(0, 2, "--") == 0) || arg == "-h"; }

void EnableDebugLog() { setenv("ZN_DEBUG_LOG", "stderr", 1); }

// For diff: which text is at fault, and where it came from.
void NameForDiff(const std::vector<Source>& sources, std::vector<Text>* texts) {
  for (size_t i = 0; i < texts->size(); ++i) {
    Text& text = (*texts)[i];
    const std::string role = i == 0 ? "OLD" : "NEW";
    text.name = sources[i].kind == Source::kArgument ? role : role + " (" + text.name + ")";
  }
}

int RunCommand(const CommandInfo& command, const std::vector<std::string>& args) {
  const std::string name = NameOf(command);
  Invocation invocation;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && IsHelp(arg)) {
      std::cout << command.help;
      return kExitOk;
    } else if (options && IsOption(arg)) {
      const size_t equals = arg.find('=');
      const std::string option = arg.substr(0, equals);
      if (option == "--debug") {
        EnableDebugLog();
        continue;
      }
      const OptionInfo* info = nullptr;
      for (const OptionInfo& o : kOptions) info = option == o.name ? &o : info;
      if (info == nullptr) return Usage("unknown option '" + Printable(option) + "'");
      if ((command.options & info->bit) == 0) return Usage("'" + name + "' does not take " + option);
      if (info->bit != kFile && equals != std::string::npos) return Usage(option + " takes no value");
      if (info->bit == kFile) {
        if (equals == std::string::npos && ++i == args.size()) return Usage("--file needs a path");
        invocation.sources.push_back({Source::kFile, equals == std::string::npos ? args[i] : arg.substr(equals + 1)});
      }
      invocation.json |= info->bit == kJson;
      invocation.lenient |= info->bit == kLenient;
      invocation.all |= info->bit == kAll;
    } else if (arg == "-") {
      invocation.sources.push_back({Source::kStdin, ""});
    } else {
      invocation.sources.push_back({command.texts < 0 ? Source::kFile : Source::kArgument, arg});
    }
  }
  if (invocation.all && invocation.json) return Usage("'" + name + "' takes --all or --json, not both");
  int readers = 0;
  for (const Source& source : invocation.sources) readers += source.kind == Source::kStdin;
  if (readers > 1) return Usage("standard input can give only one text");
  if (command.texts < 0) return command.run(invocation, {});
  if (invocation.sources.empty() && command.texts == 1) invocation.sources.push_back({Source::kStdin, ""});
  if (static_cast<int>(invocation.sources.size()) != command.texts) {
    return Usage(name + " takes " + (command.texts == 1 ? "one text" : "two texts"));
  }
  std::vector<Text> texts;
  if (!ReadTexts(invocation.sources, &texts)) return kExitTrouble;
  if (command.texts == 2) NameForDiff(invocation.sources, &texts);
  return command.run(invocation, texts);
}

// "help", "help job", "help job show", "help log".
int Help(const std::vector<std::string>& words) {
  if (words.empty()) {
    std::cout << kUsage;
    return kExitOk;
  }
  const bool grouped = IsGroup(words[0]);
  if (grouped && words.size() == 1) {
    std::cout << GroupHelp(words[0]);
    return kExitOk;
  }
  const CommandInfo* command =
      grouped ? FindCommand(words[0], words[1]) : (words.size() == 1 ? FindCommand("", words[0]) : nullptr);
  if (command == nullptr || words.size() > (grouped ? 2u : 1u)) {
    std::string asked;
    for (const std::string& word : words) asked += (asked.empty() ? "" : " ") + word;
    return Usage("unknown command '" + Printable(asked) + "'");
  }
  std::cout << command->help;
  return kExitOk;
}

int Dispatch(const std::vector<std::string>& args) {
  size_t i = 0;
  for (; i < args.size() && IsOption(args[i]); ++i) {
    if (IsHelp(args[i])) {
      std::cout << kUsage;
      return kExitOk;
    }
    if (args[i] == "--version") {
      std::cout << "jxrestart " JXRESTART_VERSION_STRING "\n";
      return kExitOk;
    }
    if (args[i] != "--debug") return Usage("unknown option '" + Printable(args[i]) + "'");
    EnableDebugLog();
  }
  if (i == args.size()) return Usage("no command given");
  const std::string& word = args[i++];
  if (word == "help") return Help(std::vector<std::string>(args.begin() + static_cast<long>(i), args.end()));
  const CommandInfo* command = nullptr;
  if (IsGroup(word)) {
    if (i == args.size()) return Usage("'" + word + "' needs a command: see 'jxrestart help " + word + "'");
    if (IsHelp(args[i])) {
      std::cout << GroupHelp(word);
      return kExitOk;
    }
    command = FindCommand(word, args[i]);
    if (command == nullptr) return Usage("unknown command '" + word + " " + Printable(args[i]) + "'");
    ++i;
  } else {
    command = FindCommand("", word);
    if (command == nullptr) return Usage("unknown command '" + Printable(word) + "'");
  }
  return RunCommand(*command, std::vector<std::string>(args.begin() + static_cast<long>(i), args.end()));
}

}  // namespace
}  // namespace tool
}  // namespace jxrestart

int main(int argc, char** argv) {
  // A closed pipe ends the tool quietly, as it ends cat.
  ::signal(SIGPIPE, SIG_DFL);
  jxrestart::tool::OutputGuard output;
  const int status = jxrestart::tool::Dispatch(std::vector<std::string>(argv + 1, argv + argc));
  return output.Finish(status);
}
