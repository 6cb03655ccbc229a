#include "restart/internal/Decimal.h"

namespace jxrestart {
namespace internal {
namespace decimal_detail {

const char* ReadLongTail(const char* p, uint64_t limit, uint64_t* magnitude) {
  uint64_t value = *magnitude;
  for (; IsDigit(*p); ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
  }
  *magnitude = value;
  return p;
}

}  // namespace decimal_detail
}  // namespace internal
}  // namespace jxrestart
