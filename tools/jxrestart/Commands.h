// The jxrestart command line (Commands.cpp).
#ifndef TOOLS_JXRESTART_COMMANDS_H_
#define TOOLS_JXRESTART_COMMANDS_H_

#include <string>
#include <vector>

namespace jxrestart {
namespace tool {

// Runs the command that `args` (the arguments after the program's name)
// name; returns its exit status.
int Dispatch(const std::vector<std::string>& args);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_COMMANDS_H_
