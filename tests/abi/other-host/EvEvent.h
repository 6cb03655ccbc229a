// A host debug log whose EvEvent is larger than the replacement's, as a
// host's own may well be: the packaging checks build the library against
// it, and a caller against the other, to see the mismatch refused.
#ifndef OTHER_HOST_EVEVENT_H_
#define OTHER_HOST_EVEVENT_H_

class EvDebug {
 public:
  void Debug(const char* tag, const char* format, ...);
};

class EvEvent : public EvDebug {
 public:
  EvEvent();
  ~EvEvent();

 private:
  void* state_[8];
};

#endif  // OTHER_HOST_EVEVENT_H_
