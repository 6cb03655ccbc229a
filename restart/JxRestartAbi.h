// The build of libJxRestart.so that a caller is compiled for, checked when
// the caller links and again when it loads.
//
// The classes hold standard library containers and the host's EvEvent by
// value, so a caller compiled against another layout of any of them would
// read and write their fields at the wrong places: the old std::string ABI
// of libstdc++ (-D_GLIBCXX_USE_CXX11_ABI=0), libc++ (-stdlib=libc++),
// libstdc++'s debug mode (-D_GLIBCXX_DEBUG), another host EvEvent.h. The
// tag below takes the public fields' own types as its parameters, so its
// mangled name changes by itself with each of these (std::__cxx11::,
// std::__1::, std::__debug::, EvEvent_layout<size, alignment>), and the
// library defines it for its own build only. Every file that includes this
// header keeps a reference to it that the linker cannot discard, so a
// mismatch is an undefined symbol whose name says what differs, at link
// time, or at load time for a library swapped under a linked program:
//
//   undefined reference to `jxrestart::abi::LibraryBuiltWith(std::string*,
//       std::map<int, int, ...>*, ..., jxrestart::abi::EvEvent_layout<1ul, 1ul>*)'
//
// Builds that keep the layout (-O0 or -O2, LTO, _GLIBCXX_ASSERTIONS,
// -fno-exceptions) keep linking.
#ifndef RESTART_JXRESTARTABI_H_
#define RESTART_JXRESTARTABI_H_

#if __cplusplus < 201103L
#include "restart/JxRestartCxx11.h"
#else

#include <stdint.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "restart/JxRestartExport.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunknown-warning-option"
#pragma clang diagnostic ignored "-Wreserved-identifier"
#endif
// The records of the two classes (JxRestartability.h, ZNJxRestart.h).
struct RecoveryVolData_t;
struct _JxRestartVolumeInfo;
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace jxrestart {
namespace abi {

// A name only: it is never defined.
template <std::size_t Size, std::size_t Alignment>
struct JXRESTART_API EvEvent_layout;

typedef EvEvent_layout<sizeof(EvEvent), alignof(EvEvent)> HostLayout;

// The tag's type: its parameters are the types of the public fields and of
// the records passed by value.
typedef void BuildTagFunction(std::string*, std::map<int32_t, int32_t>*, std::map<std::string, int32_t>*,
                              std::map<int32_t, _JxRestartVolumeInfo>*, std::vector<_JxRestartVolumeInfo>*,
                              std::vector<RecoveryVolData_t>*, HostLayout*);
typedef BuildTagFunction* BuildTag;

// Defined by the library for the build it is; never called.
JXRESTART_API BuildTagFunction LibraryBuiltWith;

}  // namespace abi
}  // namespace jxrestart

#if defined(__GNUC__)
// The reference is kept in every object file, and it must survive the
// caller's build: `used` keeps it through the optimiser and LTO, `retain`
// through -Wl,--gc-sections. A compiler without `retain` takes it in a
// static initialiser instead, which the linker always keeps. Either way it
// is a data relocation, resolved when the program or plugin loads.
#if defined(__has_attribute)
#if __has_attribute(retain)
#define JXRESTART_ABI_RETAIN 1
#endif
#endif
namespace {
#if defined(JXRESTART_ABI_RETAIN)
__attribute__((used, retain)) const jxrestart::abi::BuildTag jxrestart_abi_check = &jxrestart::abi::LibraryBuiltWith;
#else
struct JxRestartAbiCheck {
  JxRestartAbiCheck() {
    jxrestart::abi::BuildTag volatile tag = &jxrestart::abi::LibraryBuiltWith;
    (void)tag;
  }
};
const JxRestartAbiCheck jxrestart_abi_check;
#endif
}  // namespace
#undef JXRESTART_ABI_RETAIN
#endif  // __GNUC__

#endif  // C++11
#endif  // RESTART_JXRESTARTABI_H_
