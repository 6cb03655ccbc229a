// Where the replacement host log sends its lines.
//
// The log is silent by default: with no sink installed and ZN_DEBUG_LOG
// unset, EvDebug::Debug returns before it formats anything.
//
//   ZN_DEBUG_LOG=stderr   every line goes to standard error;
//   ZN_DEBUG_LOG=PATH     every line is appended to the file PATH.
//
// The variable is read once, at the first line the process logs. A line
// written there is "tag: message\n", written by one write() so that a
// killed process loses no line and processes sharing a file do not
// interleave within a line.
//
// A sink receives each line as (tag, formatted message) and may be active
// together with ZN_DEBUG_LOG. Threading: any thread may log at any time;
// the sink is called for one line at a time, never concurrently with
// itself, and must not log through EvDebug itself.
#ifndef HOST_ZNLOGSINK_H_
#define HOST_ZNLOGSINK_H_

#include <functional>

namespace znlib {

using DebugSink = std::function<void(const char* tag, const char* message)>;

// Installs `sink` in place of any earlier one; an empty function removes it.
// Returns once no line is being delivered to the sink it replaced.
void SetDebugSink(DebugSink sink);

}  // namespace znlib

#endif  // HOST_ZNLOGSINK_H_
