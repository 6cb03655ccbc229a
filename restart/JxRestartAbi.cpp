// The one build tag the library exports: the string ABI and the host
// EvEvent.h that it is compiled with (see JxRestartAbi.h).
#include "restart/JxRestartAbi.h"

// Never called: callers only take its address, so that they need it to link.
void jxrestart::abi::LibraryBuiltWith(StringAbi*, HostLayout*) {}  // GCOVR_EXCL_LINE
