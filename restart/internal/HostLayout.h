// The check that the host debug-log library the process loaded lays out
// EvEvent as libJxRestart was built for (host/ZnEvEventLayout.h).
#ifndef RESTART_INTERNAL_HOSTLAYOUT_H_
#define RESTART_INTERNAL_HOSTLAYOUT_H_

#include <cstddef>

#include "host/ZnEvEventLayout.h"

namespace jxrestart {
namespace internal {

// Writes into `line` (NUL-terminated, at most `room` bytes with the NUL)
// the one line that names both layouts when `host` says another layout
// than size `built_size` and alignment `built_alignment`, and returns its
// length; returns 0 when they agree or when `host` is null (a host library
// without the tag).
std::size_t DescribeHostLayoutMismatch(const ZnEvEventLayout* host, std::size_t built_size, std::size_t built_alignment,
                                       char* line, std::size_t room);

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_HOSTLAYOUT_H_
