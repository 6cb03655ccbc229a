// Numbers as the tool reads them, in one place: as the library writes
// them (the strict reading, on its fast path, so inline), as an operator
// types them (set), and as atoll reads the front of a text (the log
// reader's guesses about cut lines and rotated names).
#ifndef TOOLS_JXRESTART_NUMBERS_H_
#define TOOLS_JXRESTART_NUMBERS_H_

#include <emmintrin.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace jxrestart {
namespace tool {

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The bytes of the 16 at `p` that are not digits, one bit each, with the
// 16 bits above them set: where the numbers of a usual item stop.
inline unsigned NonDigitsOf16(const char* p) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                       _mm_cmplt_epi8(bytes, _mm_set1_epi8('9' + 1)));
  return ~static_cast<unsigned>(_mm_movemask_epi8(digits));
}

// Reads a number as the library writes it ("0", or an optional '-' and at
// most `digits` digits without a leading zero; never "-0") and steps past
// it.
inline bool ReadWrittenNumber(const char** at, const char* end, int digits, int64_t* value) {
  const char* p = *at;
  const bool negative = p != end && *p == '-';
  p += negative;
  const char* first = p;
  uint64_t magnitude = 0;
  for (; p != end && IsDigit(*p); ++p) {
    if (p - first == digits) return false;
    magnitude = magnitude * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p == first || (*first == '0' && (p - first > 1 || negative))) return false;
  if (magnitude > (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1)) return false;
  *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  *at = p;
  return true;
}

// Reads all of `text` as an optional '-' and digits, of a magnitude up to
// 2^64 - 1.
bool ReadInteger(std::string_view text, bool* negative, uint64_t* magnitude);

// A whole number from `least` (from -INT64_MAX to 0) to `most`, all of
// `text`; otherwise false, with "<what> "<text>" is not a whole number" or
// "... is out of range".
bool ReadInRange(const std::string& what, const std::string& text, int64_t least, int64_t most, int64_t* value,
                 std::string* error);

// The number at the front of `text` as atoll reads it: white space, a
// sign, digits; 0 for none, saturated beyond 64 bits.
int64_t LeadingNumber(std::string_view text);

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_NUMBERS_H_
