#include "tools/jxrestart/Numbers.h"

#include "tools/jxrestart/Examination.h"

namespace jxrestart {
namespace tool {

bool ReadInteger(std::string_view text, bool* negative, uint64_t* magnitude) {
  *negative = !text.empty() && text[0] == '-';
  const size_t first = *negative ? 1 : 0;
  if (text.size() == first || text.size() - first > 20) return false;
  uint64_t value = 0;
  for (size_t i = first; i < text.size(); ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
    if (digit > 9 || value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *magnitude = value;
  return true;
}

bool ReadInRange(const std::string& what, const std::string& text, int64_t least, int64_t most, int64_t* value,
                 std::string* error) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (!ReadInteger(text, &negative, &magnitude)) {
    *error = what + " " + Quote(text) + " is not a whole number";
    return false;
  }
  if (magnitude > static_cast<uint64_t>(negative ? -least : most)) {
    *error = what + " " + Quote(text) + " is out of range (" + std::to_string(least) + " to " + std::to_string(most) + ")";
    return false;
  }
  *value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t LeadingNumber(std::string_view text) {
  size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string_view::npos) return 0;
  const bool negative = text[at] == '-';
  at += negative || text[at] == '+';
  uint64_t magnitude = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    const unsigned digit = static_cast<unsigned>(text[at] - '0');
    if (magnitude > (uint64_t{INT64_MAX} + negative - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
    magnitude = magnitude * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

}  // namespace tool
}  // namespace jxrestart
