#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "restart/internal/Decimal.h"

namespace {

using jxrestart::internal::kMaxDecimalLength;
using jxrestart::internal::ReadDecimal64;
using jxrestart::internal::WriteDecimal;

std::string Written(int64_t value) {
  char digits[kMaxDecimalLength];
  return std::string(digits, WriteDecimal(digits, value));
}

// Texts at every edge of the C library's rules: white space, signs, no
// digits, trailing text, the characters on either side of the digits and
// the signs, and each 64-bit limit with the values just below it, at it
// and just past it, with every number of digits around the 19th.
const char* const kTexts[] = {
    "/5",
    ":5",
    "5/",
    "5:",
    ",5",
    ".5",
    "*5",
    "++5",
    "-+5",
    "+-",
    "922337203685477580",
    "922337203685477580x",
    "9223372036854775799",
    "9223372036854775800",
    "9223372036854775806",
    "92233720368547758070",
    "-922337203685477580",
    "-9223372036854775799",
    "-9223372036854775800",
    "-9223372036854775807",
    "-92233720368547758080",
    "999999999999999999",
    "1000000000000000000",
    "9999999999999999999",
    "-9999999999999999999",
    "",
    "0",
    "-0",
    "+7",
    "42",
    "  \t\n\v\f\r12",
    " - 5",
    "-",
    "+",
    "+-1",
    "abc",
    "12ab",
    "007",
    "4|5",
    "9$",
    "2147483647",
    "2147483648",
    "-2147483648",
    "-2147483649",
    "9223372036854775807",
    "9223372036854775808",
    "-9223372036854775808",
    "-9223372036854775809",
    "18446744073709551615",
    "99999999999999999999999999999",
    "-99999999999999999999",
    "00000000000000000000000000000000009",
};

TEST(Decimal, Read64MatchesStrtoll) {
  for (const char* text : kTexts) {
    char* expectedEnd = nullptr;
    const long long expected = std::strtoll(text, &expectedEnd, 10);
    int64_t value = -1;
    const char* end = ReadDecimal64(text, &value);
    EXPECT_EQ(value, expected) << '"' << text << '"';
    EXPECT_EQ(end, expectedEnd) << '"' << text << '"';
  }
}

// Texts built from the pieces that matter (white space, signs, runs of
// digits of every length, junk after them) agree with strtoll, and every
// value written agrees with printf, across the whole 64-bit range.
TEST(Decimal, AgreesWithTheCLibraryOnGeneratedInput) {
  std::mt19937_64 random(7);
  const char* const kPieces[] = {" ", "\t", "+", "-", "0", "9", "12", "|", "$", "a", ""};
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    for (int n = static_cast<int>(random() % 4); n > 0; --n) text += kPieces[random() % 11];
    for (int n = static_cast<int>(random() % 25); n > 0; --n) text.push_back(static_cast<char>('0' + random() % 10));
    text += kPieces[random() % 11];
    char* expectedEnd = nullptr;
    const long long expected = std::strtoll(text.c_str(), &expectedEnd, 10);
    int64_t value = 0;
    const char* end = ReadDecimal64(text.c_str(), &value);
    ASSERT_EQ(value, expected) << '"' << text << '"';
    ASSERT_EQ(end, expectedEnd) << '"' << text << '"';
  }
  for (int i = 0; i < 200000; ++i) {
    const auto value = static_cast<int64_t>(random() >> (random() % 64)) * (random() % 2 ? 1 : -1);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%lld", static_cast<long long>(value));
    ASSERT_EQ(Written(value), expected);
  }
}

// The 32-bit fields take the nearest int32 to the number read.
TEST(Decimal, NarrowsToTheNearestInt32) {
  using jxrestart::internal::ToInt32;
  const struct {
    int64_t value;
    int32_t narrowed;
  } kCases[] = {{0, 0},
                {2147483646, 2147483646},
                {2147483647, 2147483647},
                {2147483648, 2147483647},
                {-2147483647, -2147483647},
                {-2147483648LL, INT32_MIN},
                {-2147483649LL, INT32_MIN},
                {std::numeric_limits<int64_t>::max(), INT32_MAX},
                {std::numeric_limits<int64_t>::min(), INT32_MIN}};
  for (const auto& c : kCases) EXPECT_EQ(ToInt32(c.value), c.narrowed) << c.value;
}

TEST(Decimal, WritesPlainDecimal) {
  const struct {
    int64_t value;
    const char* text;
  } kCases[] = {{0, "0"},
                {7, "7"},
                {-5, "-5"},
                {2147483647, "2147483647"},
                {std::numeric_limits<int64_t>::max(), "9223372036854775807"},
                {std::numeric_limits<int64_t>::min(), "-9223372036854775808"}};
  for (const auto& c : kCases) {
    EXPECT_EQ(Written(c.value), c.text);
  }
}

}  // namespace
