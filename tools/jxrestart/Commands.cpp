// The command line: one table of commands, each row saying what the
// command takes and which options; the usage, `help COMMAND` and the
// parsing all come from it.
#include "tools/jxrestart/Commands.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "restart/JxRestartVersion.h"
#include "tools/jxrestart/Diff.h"
#include "tools/jxrestart/Set.h"
#include "tools/jxrestart/Show.h"
#include "tools/jxrestart/Texts.h"
#include "tools/jxrestart/log/Log.h"
#include "tools/jxrestart/LibraryLog.h"

namespace jxrestart {
namespace tool {

namespace {

enum Option : unsigned { kFile = 1, kJson = 2, kLenient = 4, kAll = 8, kBinary = 16, kJobPattern = 32, kSvg = 64 };

struct OptionInfo {
  const char* name;
  Option bit;
  const char* value;  // the value it takes, or null
};
const OptionInfo kOptions[] = {{"--file", kFile, "PATH"},        {"--json", kJson, nullptr},
                               {"--lenient", kLenient, nullptr}, {"--all", kAll, nullptr},
                               {"--binary", kBinary, nullptr},   {"--job", kJobPattern, "REGEX"},
                               {"--svg", kSvg, "FILE"}};

// What a command takes besides its options.
enum class Takes {
  kText,         // one text; standard input when none is given
  kTwoTexts,     // OLD and NEW
  kAssignments,  // the changes, then at most one text
  kFiles,        // any number of files; standard input when none is given
};

// Which kind of text a command reads: one family, or either, by the kind of
// the text (show, check, diff); log reads every kind.
enum class Serves { kJob, kVolumes, kEither };

struct CommandInfo {
  const char* name;
  Serves serves;
  Takes takes;
  unsigned options;
  const char* arguments;  // as the usage line shows them
  const char* summary;
  const char* help;
  int (*run)(const Invocation&);
};

const char kText[] = "[TEXT]";

const CommandInfo kCommands[] = {
    {"show", Serves::kEither, Takes::kText, kFile | kJson | kLenient, kText,
     "a job or volume restart string, whichever it is",
     "Runs 'job show' for a job restart string (it begins with '-Restart ') or a\n"
     "restart input (items closed by '@'), 'volumes show' for a volume restart\n"
     "string (records closed by '$'). A text of neither kind is refused.\n",
     Show},
    {"check", Serves::kEither, Takes::kText, kFile | kJson, kText,
     "whether a job or volume restart string is well formed",
     "Runs 'job check' or 'volumes check', by the kind of the text, as 'show'\n"
     "tells them apart.\n",
     Check},
    {"diff", Serves::kEither, Takes::kTwoTexts, kFile | kJson | kLenient, "OLD NEW",
     "how a state changed from OLD to NEW, whichever kind",
     "Runs 'job diff' or 'volumes diff', by the kind of the texts. OLD or NEW\n"
     "may be a state file of the example job manager (a job restart string,\n"
     "then a volume restart string, one per line): two state files are\n"
     "compared in both kinds, a state file and a text in the text's kind.\n"
     "Exit 0 when the states are the same, 1 when they differ, 2 when a text\n"
     "is not well formed (unless --lenient), holds nothing, or the kinds differ.\n",
     Diff},
    {"job show", Serves::kJob, Takes::kText, kFile | kJson | kLenient, kText,
     "the volumes and offsets of a job restart string",
     "Reads a job restart string (\"-Restart 3|0@17|4096@\") or the restart input\n"
     "that the job manager hands back (\"3|0@17|4096@\") as a restarted job reads\n"
     "it, and prints each volume and its offset in ascending order, then the\n"
     "job restart string rebuilt from them. Each deviation from the grammar is\n"
     "reported on standard error with what the restarted job gets instead.\n"
     "Exit 0 when the text is well formed, 1 when it is not (0 with --lenient)\n"
     "or when no volume is read from it, 2 for a volume restart string.\n",
     Show},
    {"job check", Serves::kJob, Takes::kText, kFile | kJson, kText,
     "whether a job restart string or restart input is well formed",
     "Prints nothing and exits 0 when the job restart string or restart input\n"
     "is well formed. Otherwise reports each deviation with its byte, what is\n"
     "wrong, and what a job restarted with the text gets instead, and exits 1.\n",
     Check},
    {"job diff", Serves::kJob, Takes::kTwoTexts, kFile | kJson | kLenient, "OLD NEW",
     "how each volume's offset changed from OLD to NEW",
     "Compares two job restart strings volume by volume, as restarted jobs read\n"
     "them: added, removed, advanced (and by how much), gone back, unchanged,\n"
     "with a summary line. OLD or NEW may be '-' (standard input), come from\n"
     "--file PATH, or be a state file, whose job restart string is compared.\n"
     "Exit 0 when the states are the same, 1 when they differ, 2 when OLD or\n"
     "NEW is not well formed (unless --lenient) or holds no volume.\n",
     Diff},
    {"job set", Serves::kJob, Takes::kAssignments, kFile | kJson | kLenient, "[add] VOLUME=OFFSET... [TEXT]",
     "a job restart string with volumes changed or added",
     "Reads the job restart string as a restarted job does, changes each\n"
     "VOLUME's offset to OFFSET through the library (as the job itself would),\n"
     "and prints the job restart string exactly as the library renders it, so\n"
     "that it is well formed. A volume not in the text is added only after\n"
     "'add'. A state file of the example job manager is printed whole, its\n"
     "job restart string edited. For an incident, restarting volume 17 from\n"
     "the beginning of both of a state file's strings:\n"
     "  jxrestart job set 17=0 --file state | jxrestart volumes set 17 offset=0\n"
     "A value the library refuses (an offset below -1, a volume id of 0 or\n"
     "below) is refused with its reason, exit 2; a text that is not well\n"
     "formed prints nothing and exits 1, unless --lenient, which edits it as\n"
     "the library reads it.\n",
     Set},
    {"volumes show", Serves::kVolumes, Takes::kText, kFile | kJson | kLenient, kText,
     "the records of a volume restart string",
     "Reads a volume restart string (\"2|-5|7|-1$1|100|200|4096$\": copy type,\n"
     "source, destination and offset per record) as a restarted job reads it,\n"
     "and prints its records in ascending source order, the offset as the\n"
     "string writes it, then the string rendered from them. Each deviation\n"
     "from the grammar is reported on standard error. Exit 0 when the text is\n"
     "well formed, 1 when it is not (0 with --lenient) or the library refuses\n"
     "it or reads no record, 2 for a job restart string or restart input.\n"
     "Quote it in single quotes: it holds '$'.\n",
     Show},
    {"volumes check", Serves::kVolumes, Takes::kText, kFile | kJson, kText,
     "whether a volume restart string is well formed",
     "Prints nothing and exits 0 when the volume restart string is well formed.\n"
     "Otherwise reports each deviation with its byte, what is wrong, and what a\n"
     "job restarted with the text gets instead, and exits 1.\n",
     Check},
    {"volumes diff", Serves::kVolumes, Takes::kTwoTexts, kFile | kJson | kLenient, "OLD NEW",
     "which records were added, removed or changed",
     "Compares two volume restart strings record by record, as restarted jobs\n"
     "read them: added and removed records, and each field that changed\n"
     "(destination, copy type, offset, the offset as the string writes it),\n"
     "with a summary line. OLD or NEW may be '-', come from --file PATH, or be\n"
     "a state file, whose volume restart string is compared. Exit statuses as\n"
     "for 'job diff'.\n",
     Diff},
    {"volumes set", Serves::kVolumes, Takes::kAssignments, kFile | kJson | kLenient,
     "[add] SOURCE FIELD=VALUE... [TEXT]", "a volume restart string with a record changed or added",
     "Reads the volume restart string as a restarted job does, sets each FIELD\n"
     "(offset, dest or copytype) of the record of SOURCE through the library,\n"
     "and prints the string exactly as the library renders it. 'add SOURCE\n"
     "copytype=C dest=D offset=O' adds a record, all three fields given. An\n"
     "offset is written as the string writes it (-1 is 2^64 - 1) or as the\n"
     "unsigned value; a copy type is 0 to 255. A state file is printed whole,\n"
     "its volume restart string edited. Exit statuses as for 'job set'.\n",
     Set},
    {"log", Serves::kEither, Takes::kFiles, kJson | kLenient | kAll | kBinary | kJobPattern | kSvg, "[FILE... | -]",
     "the restart strings in job logs and state files",
     "Reads job logs as they are, line by line: the library's debug lines, the\n"
     "lines a job writes when it hands its state on, a job manager's state file,\n"
     "any text around them, syslog lines, lines of JSON (their string values),\n"
     "container runtimes' logs (Docker json-file and CRI records, joined into the\n"
     "lines written) and the journal (journalctl -o export, -o json or\n"
     "-o json-pretty, the message only), compressed or not (gzip, xz, bzip2,\n"
     "zstd, lz4, compress, by their first bytes). Finds every job restart string,\n"
     "restart input and volume restart string, and prints for each job the last\n"
     "of each kind as the library renders it, how many distinct states and\n"
     "restarts it holds (each restart input is a restart), and each volume's\n"
     "first and last offset. A job's states must continue one another: the same\n"
     "volumes (one more after an insert), offsets that never go back but at a\n"
     "restart, the same process but at a restart; a state that does not, a line\n"
     "that continues a string cut on the line before, a last line still being\n"
     "written, and a text that is not well formed are reported with their places\n"
     "and do not stop the reading. --job REGEX reads only the lines it matches\n"
     "(PCRE2), and with a capture group tells jobs apart by what it captures;\n"
     "without it, states of disjoint volumes are told apart as jobs of their own.\n"
     "Files are read in the order given, but rotated names given together\n"
     "(job.log, job.log.1, job.log.2.gz, job.log-20261207.gz, and a container's\n"
     "0.log.20261207-101500 as the kubelet rotates it) are read oldest first, and\n"
     "a gap in their numbering is reported. A file with NUL bytes near its start\n"
     "is skipped as binary unless --binary; a run of NUL bytes that a live log\n"
     "truncated under its writer begins with is skipped. --all lists every state\n"
     "with its place; --json prints one summary per job, then one of the whole\n"
     "(with --all, each state first). --svg FILE draws each job's history as a\n"
     "picture (- for standard output, the text report then on standard error):\n"
     "its progress over its states with each restart, what it saved and what was\n"
     "copied again, and its volumes at the last state. jxrestart writes nothing\n"
     "to the logs it reads: ZN_DEBUG_LOG, which is for job processes, does not\n"
     "apply to it. Exit 0 when every text is well formed and every state\n"
     "continues its job (or --lenient), 1 when one does not or none is found, 2\n"
     "when a file cannot be read or is skipped as binary, its compressed data is\n"
     "cut short, it is cut short while it is read (a live log rotated by\n"
     "truncating it), or the picture cannot be written.\n",
     Log},
};

const char kAbout[] =
    "Reads the restart strings of volume copy jobs, as found in job logs, and\n"
    "checks them strictly: each way in which a text departs from its grammar is\n"
    "reported with its byte and what a job restarted with the text would get.\n";

const char kTail[] = R"(
A TEXT is an argument, standard input when it is '-' or left out, or the
content of a file given by --file PATH. It is one line: a line end at its
end is dropped, and a text of several lines is refused (read job logs with
'log'); diff also takes a state file of two lines.

Options:
  --file PATH, --file=PATH
              read a text from PATH (diff: OLD, then NEW)
  --json      print JSON (show, check, diff, set, log)
  --lenient   accept a text as the library does: warn about each deviation
              and exit 0 (show, diff, set, log)
  --all       list every state found with its place (log; with --json,
              as JSON before the summaries)
  --job REGEX read only the lines of one job; with a capture group, tell
              jobs apart by it (log)
  --binary    search files that look binary too (log)
  --svg FILE  draw each job's history as an SVG picture in FILE, '-' for
              standard output (log)
  --debug     write the library's debug lines to standard error; jxrestart
              writes them nowhere else, whatever ZN_DEBUG_LOG says
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
     or of several lines, a value the library refuses, a failed write to
     standard output (diff: also a text that is not well formed)

The grammar of each text, what its deviations mean, and the JSON shapes:
doc/formats.md in the sources, share/doc/JxRestart/formats.md where
jxrestart is installed.
)";

std::string Group(const CommandInfo& c) {
  const std::string name = c.name;
  const size_t space = name.find(' ');
  return space == std::string::npos ? std::string() : name.substr(0, space);
}

std::string UsageOf(const CommandInfo& c) {
  std::string usage = std::string("Usage: jxrestart ") + c.name;
  for (const OptionInfo& o : kOptions) {
    if ((c.options & o.bit) == 0 || o.bit == kFile) continue;
    usage += std::string(" [") + o.name + (o.value ? std::string(" ") + o.value : "") + "]";
  }
  std::string arguments = c.arguments;
  const size_t text = arguments.find("[TEXT]");
  if (text != std::string::npos) arguments.replace(text, 6, "[TEXT | - | --file PATH]");
  if (c.takes == Takes::kTwoTexts) arguments += " (each a TEXT, '-' or --file PATH)";
  return usage + " " + arguments + "\n";
}

struct Row {
  std::string head;
  const char* summary;
};

// Rows as "  head  summary", the summaries aligned at one column; a head
// too long for it has its summary on the next line.
std::string Rows(const std::vector<Row>& rows) {
  constexpr size_t kWidest = 22;
  size_t width = 0;
  for (const Row& row : rows) width = std::max(width, std::min(row.head.size(), kWidest));
  std::string list;
  for (const Row& row : rows) {
    list += "  " + row.head;
    list +=
        row.head.size() > width ? "\n" + std::string(width + 4, ' ') : std::string(width - row.head.size() + 2, ' ');
    list += std::string(row.summary) + "\n";
  }
  return list;
}

std::vector<Row> CommandRows(const std::vector<const CommandInfo*>& commands, size_t skip) {
  std::vector<Row> rows;
  for (const CommandInfo* c : commands) rows.push_back({std::string(c->name + skip) + " " + c->arguments, c->summary});
  return rows;
}

std::vector<const CommandInfo*> CommandsOf(const std::string& group) {
  std::vector<const CommandInfo*> list;
  for (const CommandInfo& c : kCommands) {
    if (group.empty() || Group(c) == group) list.push_back(&c);
  }
  return list;
}

std::string Usage() {
  std::vector<Row> rows = CommandRows(CommandsOf(""), 0);
  rows.push_back({"help [COMMAND]", "this help, or the help of a command"});
  return "Usage: jxrestart [--debug] COMMAND [OPTIONS] [TEXT]\n\n" + std::string(kAbout) + "\nCommands:\n" +
         Rows(rows) + kTail;
}

std::string GroupHelp(const std::string& group) {
  return "Usage: jxrestart " + group + " COMMAND [OPTIONS] ...\n\nCommands:\n" +
         Rows(CommandRows(CommandsOf(group), group.size() + 1)) + "\nSee 'jxrestart help " + group +
         " COMMAND' for each.\n";
}

std::string HelpOf(const CommandInfo& c) { return UsageOf(c) + "\n" + c.help; }

int Usage(const std::string& message) { return Fail(kExitTrouble, message + " (see 'jxrestart --help')"); }

bool IsGroup(const std::string& word) { return word == "job" || word == "volumes"; }

const CommandInfo* FindCommand(const std::string& name) {
  for (const CommandInfo& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

// "--name" or "--name=value" is an option; every other argument that
// begins with '-' (a job restart string, a negative number) is a word.
bool IsOption(const std::string& arg) { return (arg.size() > 2 && arg.compare(0, 2, "--") == 0) || arg == "-h"; }

// A restart text holds a '|'; the changes of set do not.
bool IsText(const std::string& word) { return word.find('|') != std::string::npos; }

// Where a plain argument goes: among the texts, or the changes of set.
void Place(const CommandInfo& c, const std::string& arg, Invocation* invocation) {
  if (arg == "-") {
    invocation->sources.push_back({Source::kStdin, ""});
  } else if (c.takes == Takes::kFiles) {
    invocation->sources.push_back({Source::kFile, arg});
  } else if (c.takes == Takes::kAssignments && !IsText(arg)) {
    invocation->words.push_back(arg);
  } else {
    invocation->sources.push_back({Source::kArgument, arg});
  }
}

// Checks what the command was given against what it takes; returns what
// is wrong, or "". Standard input stands in for a text left out.
std::string CheckArguments(const CommandInfo& c, Invocation* invocation) {
  const size_t texts = invocation->sources.size();
  int readers = 0;
  for (const Source& source : invocation->sources) readers += source.kind == Source::kStdin;
  if (readers > 1) return "standard input can give only one text";
  const std::string name = c.name;
  switch (c.takes) {
    case Takes::kTwoTexts:
      return texts == 2 ? std::string() : name + " takes two texts, OLD and NEW";
    case Takes::kAssignments:
      if (invocation->words.empty()) return name + " needs the changes to make: " + c.arguments;
      [[fallthrough]];
    case Takes::kText:
      if (texts > 1) return name + " takes one text";
      [[fallthrough]];
    case Takes::kFiles:
      if (texts == 0) invocation->sources.push_back({Source::kStdin, ""});
      break;
  }
  return std::string();
}

int RunCommand(const CommandInfo& c, const std::vector<std::string>& args) {
  Invocation invocation;
  invocation.command = c.name;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if (!options || !IsOption(arg)) {
      Place(c, arg, &invocation);
      continue;
    }
    if (IsHelp(arg)) {
      std::cout << HelpOf(c);
      return kExitOk;
    }
    const size_t equals = arg.find('=');
    const std::string option = arg.substr(0, equals);
    if (option == "--debug") {
      EnableLibraryLog();
      continue;
    }
    const OptionInfo* info = nullptr;
    for (const OptionInfo& o : kOptions) info = option == o.name ? &o : info;
    if (info == nullptr) return Usage("unknown option '" + Printable(option) + "'");
    if ((c.options & info->bit) == 0) return Usage("'" + std::string(c.name) + "' does not take " + option);
    if (info->value == nullptr && equals != std::string::npos) return Usage(option + " takes no value");
    std::string value;
    if (info->value != nullptr) {
      if (equals == std::string::npos && ++i == args.size()) return Usage(option + " needs " + info->value);
      value = equals == std::string::npos ? args[i] : arg.substr(equals + 1);
    }
    if (info->bit == kFile) invocation.sources.push_back({Source::kFile, value});
    if (info->bit == kJobPattern) invocation.job = value;
    if (info->bit == kSvg && (!invocation.svg.empty() || value.empty())) {
      return Usage(value.empty() ? "--svg needs FILE" : "--svg is given twice");
    }
    if (info->bit == kSvg) invocation.svg = value;
    invocation.json |= info->bit == kJson;
    invocation.lenient |= info->bit == kLenient;
    invocation.all |= info->bit == kAll;
    invocation.binary |= info->bit == kBinary;
  }
  const std::string wrong = CheckArguments(c, &invocation);
  if (!wrong.empty()) return Usage(wrong);
  if (c.serves != Serves::kEither) invocation.family = c.serves == Serves::kJob ? Family::kJob : Family::kVolumes;
  return c.run(invocation);
}

// "help", "help job", "help job show", "help log".
int Help(const std::vector<std::string>& words) {
  std::string asked;
  for (const std::string& word : words) asked += (asked.empty() ? "" : " ") + word;
  if (asked.empty()) {
    std::cout << Usage();
    return kExitOk;
  }
  if (IsGroup(asked)) {
    std::cout << GroupHelp(asked);
    return kExitOk;
  }
  const CommandInfo* c = FindCommand(asked);
  if (c == nullptr) return Usage("unknown command '" + Printable(asked) + "'");
  std::cout << HelpOf(*c);
  return kExitOk;
}

}  // namespace

int Dispatch(const std::vector<std::string>& args) {
  size_t i = 0;
  for (; i < args.size() && IsOption(args[i]); ++i) {
    if (IsHelp(args[i])) {
      std::cout << Usage();
      return kExitOk;
    }
    if (args[i] == "--version") {
      std::cout << "jxrestart " JXRESTART_VERSION_STRING "\n";
      return kExitOk;
    }
    if (args[i] != "--debug") return Usage("unknown option '" + Printable(args[i]) + "'");
    EnableLibraryLog();
  }
  if (i == args.size()) return Usage("no command given");
  std::string name = args[i++];
  if (name == "help") return Help(std::vector<std::string>(args.begin() + static_cast<long>(i), args.end()));
  if (IsGroup(name)) {
    if (i == args.size()) return Usage("'" + name + "' needs a command: see 'jxrestart help " + name + "'");
    if (IsHelp(args[i])) {
      std::cout << GroupHelp(name);
      return kExitOk;
    }
    name += " " + args[i++];
  }
  const CommandInfo* c = FindCommand(name);
  if (c == nullptr) return Usage("unknown command '" + Printable(name) + "'");
  return RunCommand(*c, std::vector<std::string>(args.begin() + static_cast<long>(i), args.end()));
}

}  // namespace tool
}  // namespace jxrestart
