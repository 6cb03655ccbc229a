#include "restart/internal/Decimal.h"

#include <charconv>
#include <limits>

namespace jxrestart {
namespace internal {

namespace {

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* ReadDecimal64(const char* text, int64_t* value) {
  const char* p = text;
  while (IsCSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!IsDigit(*p)) {
    *value = 0;
    return text;
  }
  // Accumulate the magnitude unsigned; the negative limit is one larger
  // than the positive one, so each sign has its own ceiling.
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  bool overflow = false;
  for (; IsDigit(*p); ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (overflow || magnitude > (limit - digit) / 10) {
      overflow = true;
      continue;
    }
    magnitude = magnitude * 10 + digit;
  }
  if (overflow) magnitude = limit;
  *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return p;
}

int32_t ReadDecimal32(const char* text) {
  int64_t value = 0;
  ReadDecimal64(text, &value);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

void AppendDecimal(std::string* out, int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out->append(digits, result.ptr);
}

}  // namespace internal
}  // namespace jxrestart
