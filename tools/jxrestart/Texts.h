// The texts a command reads, and what it says of them: reading one text
// (or a state file), the messages on standard error, and the refusals that
// every command words the same way.
#ifndef TOOLS_JXRESTART_TEXTS_H_
#define TOOLS_JXRESTART_TEXTS_H_

#include <string>

#include "tools/jxrestart/Invocation.h"

namespace jxrestart {
namespace tool {

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

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_TEXTS_H_
