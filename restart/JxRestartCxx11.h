// Included by each public header, in place of its own content, when it is
// compiled as C++98 or C++03: the interface uses C++11 (alignof, enums with
// a fixed underlying type), and one line saying so helps more than the
// pages of errors the rest would give. An #error would be that line, but
// compilers go on after it into the caller's own code; a missing include
// stops them, so the file it names is the message.
#ifndef RESTART_JXRESTARTCXX11_H_
#define RESTART_JXRESTARTCXX11_H_
#if __cplusplus < 201103L
#include "libJxRestart needs C++11 or later, compile with -std=c++11 (or a later standard)"
#endif
#endif  // RESTART_JXRESTARTCXX11_H_
