// Decimal numbers as the restart texts write and read them.
//
// Reading follows the C library's rules (leading white space, an optional
// sign, digits up to the first other character, no digits reads as 0) with
// explicit, defined overflow: a value beyond the target's range saturates
// at its nearest limit, as strtoll does for 64 bits.
#ifndef RESTART_INTERNAL_DECIMAL_H_
#define RESTART_INTERNAL_DECIMAL_H_

#include <cstdint>
#include <string>

namespace jxrestart {
namespace internal {

// Reads a decimal from the NUL-terminated `text` with strtoll's rules and
// result in base 10. Returns the character after the last digit, or `text`
// itself when no digit was read.
const char* ReadDecimal64(const char* text, int64_t* value);

// atoi's rules, saturating at the int32 limits instead of wrapping.
int32_t ReadDecimal32(const char* text);

// Appends the plain decimal of `value` ("-" for negatives, no leading zeros).
void AppendDecimal(std::string* out, int64_t value);

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_DECIMAL_H_
