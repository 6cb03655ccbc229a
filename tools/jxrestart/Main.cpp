// jxrestart: reads the restart strings of volume copy jobs, as operators
// find them in job logs. Texts are checked strictly against their grammar;
// every state shown is the library's own reading.
#include <signal.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "host/EvEvent.h"
#include "tools/jxrestart/Commands.h"
#include "tools/jxrestart/LibraryLog.h"
#include "tools/jxrestart/Output.h"

// The library's lines in this process come here instead of the host
// library's log, whichever host library is loaded (LibraryLog.h).
void EvDebug::Debug(const char* tag, const char* format, ...) {
  if (tag == nullptr || format == nullptr || !jxrestart::tool::LibraryLinesWanted()) return;
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  try {
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    std::string message(needed > 0 ? static_cast<size_t>(needed) : 0, '\0');
    if (needed > 0) std::vsnprintf(&message[0], message.size() + 1, format, again);
    jxrestart::tool::TakeLibraryLine(tag, message);
  } catch (...) {
    // Out of memory: the line is lost, and the library goes on as if it had been written.
  }
  va_end(again);
  va_end(args);
}

int main(int argc, char** argv) {
  // A closed pipe ends the tool quietly, as it ends cat.
  ::signal(SIGPIPE, SIG_DFL);
  jxrestart::tool::OutputGuard output;
  const int status = jxrestart::tool::Dispatch(std::vector<std::string>(argv + 1, argv + argc));
  return output.Finish(status);
}
