// The one build tag the library exports: the string ABI and the host
// EvEvent.h that it is compiled with (see JxRestartAbi.h).
#include "restart/JxRestartAbi.h"

void jxrestart::abi::LibraryBuiltWith(StringAbi*, HostLayout*) {}
