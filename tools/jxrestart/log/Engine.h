// The one reading engine of logs: the blocks of a LogSource are read on
// several threads, the first stage (ReadLine) done on each of their lines,
// and the lines are then handed on one by one in their order. Most of the
// work, finding the texts and reading each strictly, is done in the
// blocks: `make bench-log` reads a log of 1,000-volume lines about 1.7
// times as fast on two processors as in one thread.
#ifndef TOOLS_JXRESTART_LOG_ENGINE_H_
#define TOOLS_JXRESTART_LOG_ENGINE_H_

#include <cstddef>
#include <functional>

#include "tools/jxrestart/log/JobPattern.h"
#include "tools/jxrestart/log/Recognisers.h"
#include "tools/jxrestart/log/Source.h"

namespace jxrestart {
namespace tool {

// Takes one line's texts, and its number in its file from 1.
using TakeLine = std::function<void(LineTexts* texts, size_t number)>;

// Reads all of `source` with `threads` threads besides the caller's, which
// runs `take`. Returns false when the file was cut short while it was
// read; the lines that were whole before the cut are all taken.
bool ReadLines(LogSource* source, const JobPattern& pattern, unsigned threads, const TakeLine& take);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_ENGINE_H_
