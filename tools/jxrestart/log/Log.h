// log: the restart texts of job logs, and the jobs they tell of.
#ifndef TOOLS_JXRESTART_LOG_LOG_H_
#define TOOLS_JXRESTART_LOG_LOG_H_

#include "tools/jxrestart/Invocation.h"

namespace jxrestart {
namespace tool {

int Log(const Invocation& invocation);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_LOG_H_
