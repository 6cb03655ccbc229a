// show and check: one text, examined once, shown or judged.
#ifndef TOOLS_JXRESTART_SHOW_H_
#define TOOLS_JXRESTART_SHOW_H_

#include "tools/jxrestart/Invocation.h"

namespace jxrestart {
namespace tool {

int Show(const Invocation& invocation);   // show, job show, volumes show
int Check(const Invocation& invocation);  // check, job check, volumes check

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_SHOW_H_
