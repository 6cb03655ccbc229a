// The jxrestart tool's command line: what a subcommand is given, and the
// exit statuses every subcommand shares.
#ifndef TOOLS_JXRESTART_COMMAND_H_
#define TOOLS_JXRESTART_COMMAND_H_

#include <string>
#include <vector>

namespace jxrestart {
namespace tool {

// As diff and cmp use them.
enum ExitStatus {
  kExitOk = 0,       // success; for diff, the two states are the same
  kExitInvalid = 1,  // an invalid input; for diff, the states differ
  kExitTrouble = 2,  // a usage error, an unreadable file, a refused input
};

// One text to read: an argument, standard input ("-"), or a file.
struct Source {
  enum Kind { kArgument, kStdin, kFile } kind;
  std::string value;  // the text, or the file's path
};

struct Invocation {
  std::vector<Source> sources;  // in command-line order
  bool json = false;
};

// A text as read, with a name for messages ("standard input", a path).
struct Text {
  std::string name;
  std::string bytes;
};

// Reads every source. Returns false after reporting on standard error.
// A text read from a stream loses one trailing line end.
bool ReadTexts(const std::vector<Source>& sources, std::vector<Text>* texts);

// Writes "jxrestart: <message>" to standard error and returns `status`.
int Fail(int status, const std::string& message);

// `bytes` with every byte outside printable ASCII written as \xHH.
std::string Printable(const std::string& bytes);

// Warns when a text holds a NUL byte: the library reads up to it.
void WarnAboutNul(const Text& text);

int JobShow(const Invocation& invocation);
int JobDiff(const Invocation& invocation);
int VolumesShow(const Invocation& invocation);
int VolumesCheck(const Invocation& invocation);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_COMMAND_H_
