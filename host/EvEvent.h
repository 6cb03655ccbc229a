// The host's debug log, as the restart library uses it.
//
// This header stands in for the host's own EvEvent.h: the declarations and
// their order follow the host code base, and a deployment may build against
// the host's header and load the host's libZnLib.so instead of ours. Only the
// three calls below are relied on.
//
// Threading: an EvEvent belongs to the object that holds it and is used by
// that object's thread. Distinct EvEvent objects may log from different
// threads at the same time.
#ifndef HOST_EVEVENT_H_
#if defined(JXRESTART_HOST_EVEVENT_H) && !defined(JXRESTART_FORWARDING_EVEVENT)
// Built against the host's own library (JXRESTART_HOST_DIR): its header,
// not this one, gives EvEvent its layout.
#define JXRESTART_FORWARDING_EVEVENT
#include JXRESTART_HOST_EVEVENT_H
#undef JXRESTART_FORWARDING_EVEVENT
#define HOST_EVEVENT_H_
#else
#define HOST_EVEVENT_H_

class EvDebug {
 public:
  // Writes one debug line: `tag`, then `format` expanded printf-style with
  // the arguments that follow. Never fails towards the caller.
  void Debug(const char* tag, const char* format, ...);
};

class EvEvent : public EvDebug {
 public:
  EvEvent();
  ~EvEvent();
};

#endif  // JXRESTART_HOST_EVEVENT_H
#endif  // HOST_EVEVENT_H_
