// The build tags the library exports (see JxRestartAbi.h), and the check of
// the host library's EvEvent layout made when the library loads.
#include "restart/JxRestartAbi.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "restart/internal/HostLayout.h"

// The tag of this build: never called, callers only take its address.
// GCOVR_EXCL_START
void jxrestart::abi::LibraryBuiltWith(std::string*, std::map<int32_t, int32_t>*, std::map<std::string, int32_t>*,
                                      std::map<int32_t, _JxRestartVolumeInfo>*, std::vector<_JxRestartVolumeInfo>*,
                                      std::vector<RecoveryVolData_t>*, HostLayout*) {}
// GCOVR_EXCL_STOP

#if defined(_GLIBCXX_USE_CXX11_ABI) && _GLIBCXX_USE_CXX11_ABI
// The tag of 1.1, which named the string ABI and the EvEvent layout only.
// Programs built against 1.1's headers refer to it, so the default build
// keeps it; the old-string-ABI build has a library name of its own, which
// 1.1's programs never load.
namespace jxrestart {
namespace abi {
struct JXRESTART_API cxx11_string_abi;
JXRESTART_API void LibraryBuiltWith(cxx11_string_abi*, HostLayout*);
}  // namespace abi
}  // namespace jxrestart
void jxrestart::abi::LibraryBuiltWith(cxx11_string_abi*, HostLayout*) {}  // GCOVR_EXCL_LINE
#endif

// Weak: a host library without the tag leaves it null.
extern "C" __attribute__((weak)) const ZnEvEventLayout zn_evevent_layout;

std::size_t jxrestart::internal::DescribeHostLayoutMismatch(const ZnEvEventLayout* host, std::size_t built_size,
                                                            std::size_t built_alignment, char* line, std::size_t room) {
  if (host == nullptr || (host->size == built_size && host->alignment == built_alignment)) return 0;
  const int length = std::snprintf(line, room,
                                   "libJxRestart: the host library libZnLib.so lays out EvEvent in %lu bytes "
                                   "aligned to %lu, but libJxRestart was built for %zu bytes aligned to %zu\n",
                                   host->size, host->alignment, built_size, built_alignment);
  // snprintf fails only on an encoding error, which this format cannot
  // meet; a line longer than the room is cut there, and still terminated.
  return std::min(static_cast<std::size_t>(length), room - 1);
}

namespace {

// Runs when the library loads, before any EvEvent is made. A mismatched
// host library would construct EvEvent over the wrong number of bytes, so
// the process stops here, with the loader's status for a missing symbol;
// _exit, since exit() from inside the loader could wait on its lock.
__attribute__((constructor)) void StopOnAnotherHostLayout() {
  char line[256];
  const std::size_t length = jxrestart::internal::DescribeHostLayoutMismatch(&zn_evevent_layout, sizeof(EvEvent),
                                                                             alignof(EvEvent), line, sizeof line);
  if (length == 0) return;
  // GCOVR_EXCL_START: the process ends here, before coverage is written.
  const ssize_t ignored = ::write(STDERR_FILENO, line, length);  // nothing more to do if it fails
  (void)ignored;
  _exit(127);
  // GCOVR_EXCL_STOP
}

}  // namespace
