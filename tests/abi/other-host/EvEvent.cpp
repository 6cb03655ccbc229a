// The other host's log: writes each line to standard error when
// ZN_DEBUG_LOG is set. Its state fills the whole object, so a caller that
// laid it out otherwise would be overwritten.
#include "EvEvent.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

EvEvent::EvEvent() {
  for (void*& word : state_) word = this;
}

EvEvent::~EvEvent() {
  for (void*& word : state_) word = nullptr;
}

void EvDebug::Debug(const char* tag, const char* format, ...) {
  if (std::getenv("ZN_DEBUG_LOG") == nullptr) return;
  std::fprintf(stderr, "%s: ", tag);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Built with -DOTHER_HOST_TAGGED, it says its layout as the replacement
// does, and the restart library built for the replacement must refuse it.
#ifdef OTHER_HOST_TAGGED
#include "host/ZnEvEventLayout.h"
const ZnEvEventLayout zn_evevent_layout = {sizeof(EvEvent), alignof(EvEvent)};
#endif
