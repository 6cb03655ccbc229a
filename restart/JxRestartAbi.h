// The build of libJxRestart.so that a caller is compiled for, checked when
// the caller links and again when it loads.
//
// The classes hold a std::string and the host's EvEvent by value, so a
// caller compiled with another std::string ABI of libstdc++ (the old one of
// toolchains before GCC 5, -D_GLIBCXX_USE_CXX11_ABI=0) or against another
// host EvEvent.h than the library was built with would read and write
// their fields at the wrong places. Every file that includes this header
// refers to the function below for the build it is compiled for, and the
// library defines it for its own build only. A mismatch is therefore an
// undefined symbol whose name says what differs, e.g.
//
//   undefined reference to `jxrestart::abi::LibraryBuiltWith(
//       jxrestart::abi::old_string_abi*, jxrestart::abi::EvEvent_layout<64ul, 8ul>*)'
//
// Build the library with -DJXRESTART_CXX11_ABI=OFF for the old string ABI,
// and with -DJXRESTART_HOST_DIR for the host's own EvEvent.h.
#ifndef RESTART_JXRESTARTABI_H_
#define RESTART_JXRESTARTABI_H_

#include <cstddef>

#include "restart/JxRestartExport.h"

namespace jxrestart {
namespace abi {

// Names only: they are never defined.
struct JXRESTART_API cxx11_string_abi;
struct JXRESTART_API old_string_abi;
template <std::size_t Size, std::size_t Alignment>
struct JXRESTART_API EvEvent_layout;

#if defined(_GLIBCXX_USE_CXX11_ABI) && !_GLIBCXX_USE_CXX11_ABI
typedef old_string_abi StringAbi;
#else
typedef cxx11_string_abi StringAbi;
#endif
typedef EvEvent_layout<sizeof(EvEvent), alignof(EvEvent)> HostLayout;

// Defined by the library for the build it is; does nothing.
JXRESTART_API void LibraryBuiltWith(StringAbi*, HostLayout*);

}  // namespace abi
}  // namespace jxrestart

#if defined(__GNUC__)
namespace {
// Kept in every object file, so that the check cannot be optimised away.
__attribute__((used)) void (*const jxrestart_abi_check)(jxrestart::abi::StringAbi*, jxrestart::abi::HostLayout*) =
    &jxrestart::abi::LibraryBuiltWith;
}  // namespace
#endif

#endif  // RESTART_JXRESTARTABI_H_
