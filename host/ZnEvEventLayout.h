// The layout of EvEvent that a host debug-log library was built with.
//
// libJxRestart's classes hold an EvEvent by value, and the host library
// constructs and destroys it, so the two must agree on its size and
// alignment. The replacement exports this tag; libJxRestart reads it when
// it loads and stops the process if the host library it runs with lays
// EvEvent out otherwise than it was built for. A host library without the
// tag (the host's own) is taken as it is.
//
// A C symbol with C types, so that any host library can carry it.
#ifndef HOST_ZNEVEVENTLAYOUT_H_
#define HOST_ZNEVEVENTLAYOUT_H_

extern "C" {

struct ZnEvEventLayout {
  unsigned long size;
  unsigned long alignment;
};

#if defined(__GNUC__)
__attribute__((visibility("default")))
#endif
extern const ZnEvEventLayout zn_evevent_layout;

}  // extern "C"

#endif  // HOST_ZNEVEVENTLAYOUT_H_
