// The jxrestart tool's command line: what a command is given, the exit
// statuses every command shares, and how texts and deviations are read and
// reported.
#ifndef TOOLS_JXRESTART_COMMAND_H_
#define TOOLS_JXRESTART_COMMAND_H_

#include <string>
#include <vector>

#include "tools/jxrestart/Check.h"

namespace jxrestart {
namespace tool {

// As diff and cmp use them.
enum ExitStatus {
  kExitOk = 0,       // success: well formed; for diff, the two states are the same
  kExitInvalid = 1,  // a text that is not well formed, or holds nothing; for diff, the states differ
  kExitTrouble = 2,  // a usage error, an unreadable file, a text of the wrong kind or of several
                     // lines, a failed output; for diff, also a text that is not well formed
};

// One text to read: an argument, standard input ("-"), or a file.
struct Source {
  enum Kind { kArgument, kStdin, kFile } kind;
  std::string value;  // the text, or the file's path
};

struct Invocation {
  std::vector<Source> sources;  // in command-line order
  bool json = false;
  bool lenient = false;  // accept what the library accepts, with warnings
  bool all = false;      // log: every state, not only the last
};

// A text as read, with a name for messages ("text", "standard input", a
// path; for diff "OLD" or "NEW" before it).
struct Text {
  std::string name;
  std::string bytes;
};

// Reads every source as one text each: its one non-empty line, without
// its line end. Returns false after reporting on standard error when a
// source cannot be read or holds more than one non-empty line.
bool ReadTexts(const std::vector<Source>& sources, std::vector<Text>* texts);

// Writes "jxrestart: <message>" to standard error and returns `status`.
int Fail(int status, const std::string& message);

// Reports each deviation of a text on standard error, "<name>: byte <n>:
// <problem>; <effect>", at most kShownDeviations of them, then a count.
constexpr size_t kShownDeviations = 20;
void ReportDeviations(const std::string& name, const Deviations& deviations);

// What a check prints: nothing when the text is well formed, otherwise its
// deviations; with --json, an object either way. Returns the exit status.
int ReportCheck(const Invocation& invocation, const Text& text, const char* kind, const Deviations& deviations);

// The exit status for a text with `deviations`: 0 when it is well formed
// or the reading is lenient, `strict` otherwise; says which on standard
// error when it is not well formed.
int StatusFor(const Invocation& invocation, const std::string& name, const Deviations& deviations,
              int strict = kExitInvalid);

// Refuses a text of the other family: returns true after reporting the
// kind found and the command to use ("jxrestart volumes <action>").
bool WrongKind(const Text& text, bool forJob, const char* action);

// One text, of one family.
int ShowJob(const Invocation& invocation, const Text& text);
int CheckJobText(const Invocation& invocation, const Text& text);
int ShowVolumes(const Invocation& invocation, const Text& text);
int CheckVolumeText(const Invocation& invocation, const Text& text);

// The commands, given the texts they read.
int JobShow(const Invocation& invocation, const std::vector<Text>& texts);
int JobCheck(const Invocation& invocation, const std::vector<Text>& texts);
int JobDiff(const Invocation& invocation, const std::vector<Text>& texts);
int VolumesShow(const Invocation& invocation, const std::vector<Text>& texts);
int VolumesCheck(const Invocation& invocation, const std::vector<Text>& texts);
int AnyShow(const Invocation& invocation, const std::vector<Text>& texts);
int AnyCheck(const Invocation& invocation, const std::vector<Text>& texts);
// Reads the files itself, line by line.
int Log(const Invocation& invocation, const std::vector<Text>& texts);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_COMMAND_H_
