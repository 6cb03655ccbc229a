// The load-time check of the host library's EvEvent layout: which tags it
// accepts, and the one line it writes for the others.
#include <gtest/gtest.h>

#include <string>

#include "restart/internal/HostLayout.h"

namespace {

using jxrestart::internal::DescribeHostLayoutMismatch;

struct LayoutCase {
  const char* name;
  const ZnEvEventLayout* host;
  const char* line;  // empty: accepted
};

const ZnEvEventLayout kSame = {1, 1};
const ZnEvEventLayout kLarger = {64, 8};
const ZnEvEventLayout kAlignedOtherwise = {1, 4};

TEST(HostLayoutTest, AcceptsTheBuiltLayoutOrNoTagAndNamesBothLayoutsOtherwise) {
  const LayoutCase cases[] = {
      {"no tag", nullptr, ""},
      {"same layout", &kSame, ""},
      {"larger", &kLarger,
       "libJxRestart: the host library libZnLib.so lays out EvEvent in 64 bytes aligned to 8, but libJxRestart "
       "was built for 1 bytes aligned to 1\n"},
      {"same size, other alignment", &kAlignedOtherwise,
       "libJxRestart: the host library libZnLib.so lays out EvEvent in 1 bytes aligned to 4, but libJxRestart "
       "was built for 1 bytes aligned to 1\n"},
  };
  for (const LayoutCase& c : cases) {
    char line[256] = "untouched";
    const std::size_t length = DescribeHostLayoutMismatch(c.host, 1, 1, line, sizeof line);
    EXPECT_EQ(std::string(line, length), c.line) << c.name;
  }
}

TEST(HostLayoutTest, ALineLongerThanTheRoomIsCutAndStaysTerminated) {
  char line[16];
  const std::size_t length = DescribeHostLayoutMismatch(&kLarger, 1, 1, line, sizeof line);
  EXPECT_EQ(length, sizeof line - 1);
  EXPECT_EQ(std::string(line), "libJxRestart: t");
}

}  // namespace
