// What a command of the jxrestart tool is given, parsed from its command
// line by the table of commands (Commands.cpp), and the exit statuses
// that the commands share.
#ifndef TOOLS_JXRESTART_INVOCATION_H_
#define TOOLS_JXRESTART_INVOCATION_H_

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
  std::string svg;       // log: where the picture goes ("-": standard output), or none
  // The family the command serves; none for show, check and diff, which
  // serve either by the kind of the text, and for log.
  std::optional<Family> family;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_INVOCATION_H_
