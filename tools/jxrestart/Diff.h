// diff: how a state changed between two texts or state files.
#ifndef TOOLS_JXRESTART_DIFF_H_
#define TOOLS_JXRESTART_DIFF_H_

#include "tools/jxrestart/Invocation.h"

namespace jxrestart {
namespace tool {

int Diff(const Invocation& invocation);  // diff, job diff, volumes diff

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_DIFF_H_
