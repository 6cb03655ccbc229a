// The jxrestart tool's commands: what a command is given, the exit
// statuses they share, reading their texts and reporting on them. The
// table of commands, with what each takes, is in Commands.cpp.
#ifndef TOOLS_JXRESTART_COMMAND_H_
#define TOOLS_JXRESTART_COMMAND_H_

#include <optional>
#include <string>
#include <vector>

#include "tools/jxrestart/Examination.h"

namespace jxrestart {
namespace tool {

// As diff and cmp use them.
enum ExitStatus {
  kExitOk = 0,       // success: well formed; for diff, the two states are the same
  kExitInvalid = 1,  // a text that is not well formed, or holds nothing; for diff, the states differ
  kExitTrouble = 2,  // a usage error, an unreadable file, a text of the wrong kind or of several
                     // lines, a value refused, a failed output; for diff, also a text not well formed
};

// One text to read: an argument, standard input ("-"), or a file.
struct Source {
  enum Kind { kArgument, kStdin, kFile } kind;
  std::string value;  // the text, or the file's path
};

struct Invocation {
  std::string command;             // "job show"
  std::vector<Source> sources;     // in command-line order
  std::vector<std::string> words;  // set: the assignments, and what they apply to
  bool json = false;
  bool lenient = false;  // accept what the library accepts, with warnings
  bool all = false;      // log: every state, not only the last
  bool binary = false;   // log: search binary files too
  std::string job;       // log: the regular expression of a job's lines
  // The family the command serves; none for show, check and diff, which
  // serve either by the kind of the text, and for log.
  std::optional<Family> family;
};

// A text as read, with a name for messages ("text", "standard input", a
// path; for diff "OLD" or "NEW" before it). A state file of the example
// job manager holds two lines: a job restart string, then a volume
// restart string.
struct Text {
  std::string name;
  std::string bytes;   // the text, or a state file's first line
  std::string second;  // a state file's second line
  bool stateFile = false;
  bool typed = false;  // given as an argument, through a shell
};

// Reads a source as one text: its one non-empty line without its line
// end, or, where `stateFiles`, the two lines of a state file. Says on
// standard error that it waits when it reads standard input from a
// terminal. Returns false after reporting a source that cannot be read or
// holds other lines.
bool ReadText(const Source& source, bool stateFiles, Text* text);

// Writes "jxrestart: <message>" to standard error and returns `status`.
int Fail(int status, const std::string& message);
// Writes "jxrestart: <message>" to standard error, a warning or a note that
// decides no exit status.
void Warn(const std::string& message);

// "1 line", "2 lines": the count and the word that fits it.
std::string Plural(size_t count, const char* one, const char* many);

// Reports the deviations of a text on standard error, "<name>: byte <n>:
// <problem>; <effect>", the kept ones and how many more there are.
void ReportDeviations(const std::string& name, const Deviations& deviations);

// The exit status for a text with `deviations`: 0 when it is well formed
// or the reading is lenient, `strict` otherwise; says which on standard
// error when it is not well formed.
int StatusFor(const Invocation& invocation, const std::string& name, const Deviations& deviations,
              int strict = kExitInvalid);

// Says what a text that is not one restart text of either kind is, and
// what reads it: empty, a line holding both kinds, neither kind.
int NotOneText(const Text& text, const std::string& command);

// Refuses a text of the other family: returns true after reporting the
// kind found and the command to use ("jxrestart volumes <action>").
bool WrongKind(const Text& text, Family family, const char* action);

// Adds a hint on standard error when a volume restart string typed as an
// argument looks as if the shell took its '$'s (double quotes).
void HintQuoting(const Text& text, Family family, const StrictReading& strict);

// One text of one family: show, check.
int ShowText(const Invocation& invocation, const Text& text, Family family);
int CheckText(const Invocation& invocation, const Text& text, Family family);

// The commands, each for the family of the invocation or, without one,
// for the kind of its text.
int Show(const Invocation& invocation);   // show, job show, volumes show
int Check(const Invocation& invocation);  // check, job check, volumes check
int Diff(const Invocation& invocation);   // diff, job diff, volumes diff
int Set(const Invocation& invocation);    // job set, volumes set
int Log(const Invocation& invocation);    // log

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_COMMAND_H_
