// The library's debug lines in jxrestart's own process. The tool defines
// EvDebug::Debug itself (Main.cpp), so that every line comes here whatever
// host library is loaded: none goes to the file that ZN_DEBUG_LOG names,
// which may be the very log being read, and with --debug each goes to
// standard error.
#ifndef TOOLS_JXRESTART_LIBRARYLOG_H_
#define TOOLS_JXRESTART_LIBRARYLOG_H_

#include <string>

namespace jxrestart {
namespace tool {

// From now on, each line goes to standard error too.
void EnableLibraryLog();
// From now on, the last line is kept, for LastLibraryMessage.
void KeepLastLibraryLine();

// Whether anyone wants the lines; when not, they need not be formatted
// (the library logs whole restart strings).
bool LibraryLinesWanted();

// Takes one line the library wrote.
void TakeLibraryLine(const char* tag, const std::string& message);

// The message of the last line the library wrote since
// KeepLastLibraryLine, or "" when none has come here (in a program that
// does not define EvDebug::Debug).
const std::string& LastLibraryMessage();

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LIBRARYLOG_H_
