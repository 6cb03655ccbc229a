// How the restart input is read, token by token: the tracker stores what
// this gives, and the jxrestart tool checks the same tokens against the
// strict grammar, so both see one reading.
#ifndef RESTART_INTERNAL_RESTARTINPUT_H_
#define RESTART_INTERNAL_RESTARTINPUT_H_

#include <cstdint>

#include "restart/internal/Decimal.h"
#include "restart/internal/TextFormat.h"

namespace jxrestart {
namespace internal {

// A token is the text from one separator to the next: before a '|' it is
// a volume id, before an '@' an offset.
using InputToken = NumberToken;

// Reads `input` as the tracker does and tells `visitor` what becomes of
// each token:
//   Stored(key, offset)   key's volume gets offset's value;
//   Dropped(key, offset)  a pair closed by '@' whose volume id reads as 0;
//   Unused(token)         a token no pair takes: replaced by a later token
//                         of its kind, or text after the last separator.
// A pair is made once both a key and an offset are pending, in whichever
// order they came. Text after the last separator is a pair's offset only
// when it is not empty, a key is pending and no offset is; then it is
// stored whatever the volume id.
template <class Visitor>
void ScanRestartInput(const char* input, Visitor& visitor) {
  InputToken key{}, offset{}, token{};
  bool keyPending = false;
  bool offsetPending = false;
  for (const char* p = SkipLeadingSpaces(input);; p = token.end + 1) {
    token.begin = p;
    token.numberEnd = p = ReadDecimal64(p, &token.number);
    while (*p != '\0' && *p != kKeySeparator && *p != kItemTerminator) ++p;
    token.end = p;
    if (*p == '\0') break;
    InputToken& slot = *p == kKeySeparator ? key : offset;
    bool& pending = *p == kKeySeparator ? keyPending : offsetPending;
    if (pending) visitor.Unused(slot);
    slot = token;
    pending = true;
    if (keyPending && offsetPending) {
      if (key.value() != 0) {
        visitor.Stored(key, offset);
      } else {
        visitor.Dropped(key, offset);
      }
      keyPending = offsetPending = false;
    }
  }
  const bool tokenRead = token.end != token.begin;
  if (tokenRead && keyPending && !offsetPending) {
    visitor.Stored(key, token);
    return;
  }
  if (keyPending) visitor.Unused(key);
  if (offsetPending) visitor.Unused(offset);
  if (tokenRead) visitor.Unused(token);
}

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_RESTARTINPUT_H_
