#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "restart/ZNJxRestart.h"
#include "tests/support/LogCapture.h"

// Records compare field by field, and print so that a failure names them.
bool operator==(const _JxRestartVolumeInfo& a, const _JxRestartVolumeInfo& b) {
  return std::tie(a.copyType, a.srcVolId, a.destVolId, a.offset) ==
         std::tie(b.copyType, b.srcVolId, b.destVolId, b.offset);
}
std::ostream& operator<<(std::ostream& out, const _JxRestartVolumeInfo& r) {
  return out << "{" << unsigned(r.copyType) << "," << r.srcVolId << "," << r.destVolId << "," << r.offset << "}";
}

namespace {

using jxrestart::testing::LogCapture;
using jxrestart::testing::LogLine;
using jxrestart::testing::LogLines;
using Records = std::vector<_JxRestartVolumeInfo>;
using Table = std::map<int32_t, _JxRestartVolumeInfo>;

const char kParseTag[] = "ZNJxRestart::ParseRestartString";
const char kWriteTag[] = "ZNJxRestart::GetCurrentRestartString";
const char kInitTag[] = "ZNJxRestart::InitializeRestartVolInfo";
const char kEmptyTable[] = "Attempting to update empty map. Returning Failure";
const uint64_t kMax64 = UINT64_MAX;

Table TableOf(const Records& records) {
  Table table;
  for (const auto& r : records) table[r.srcVolId] = r;
  return table;
}

std::string Adding(int32_t src, int32_t dest) {
  return "Adding to vector src volumeid = " + std::to_string(src) + " , Destination = " + std::to_string(dest);
}

struct ConstructionCase {
  const char* name;
  std::function<ZNJxRestart*()> make;
  bool valid;
  Records records;
  LogLines lines;
};

TEST(ZNJxRestartConstruction, DecidesValidityOnce) {
  const ConstructionCase kCases[] = {
      {"empty list", [] { return new ZNJxRestart(Records{}); }, false, {}, {}},
      {"one record",
       [] {
         return new ZNJxRestart(Records{{1, 100, 200, 4096}});
       },
       true,
       {{1, 100, 200, 4096}},
       {{kInitTag, Adding(100, 200)}}},
      {"same id twice",
       [] {
         return new ZNJxRestart(Records{{1, 5, 6, 7}, {2, 5, 8, 9}});
       },
       true,
       {{2, 5, 8, 9}},
       {{kInitTag, Adding(5, 6)}, {kInitTag, Adding(5, 8)}}},
      {"null text", [] { return new ZNJxRestart(static_cast<const char*>(nullptr)); }, false, {}, {}},
      {"five bytes are not read", [] { return new ZNJxRestart("|||0$"); }, false, {}, {}},
      {"six bytes are read",
       [] { return new ZNJxRestart(" |||0$"); },
       true,
       {{0, 0, 0, 0}},
       {{kParseTag, "Restart String =  |||0$"}}},
      {"later item invalid",
       [] { return new ZNJxRestart("1|2|3|4$9|8$"); },
       false,
       {{1, 2, 3, 4}},
       {{kParseTag, "Restart String = 1|2|3|4$9|8$"}, {kParseTag, "Invalid Restart String Record = 9|8"}}},
      {"first item invalid",
       [] { return new ZNJxRestart("12345$1|2|3|4$"); },
       false,
       {},
       {{kParseTag, "Restart String = 12345$1|2|3|4$"}, {kParseTag, "Invalid Restart String Record = 12345"}}},
      {"no dollar sign",
       [] { return new ZNJxRestart("abcdefgh"); },
       true,
       {},
       {{kParseTag, "Restart String = abcdefgh"}}},
  };
  for (const auto& c : kCases) {
    LogCapture capture;
    std::unique_ptr<ZNJxRestart> table(c.make());
    EXPECT_EQ(table->isValid, c.valid) << c.name;
    EXPECT_EQ(table->volumeInfoMap, TableOf(c.records)) << c.name;
    EXPECT_EQ(capture.Take(), c.lines) << c.name;
    table.reset();
    EXPECT_TRUE(capture.Take().empty()) << c.name << ": destruction logs nothing";
  }
}

// Every accessor and AddVolumeInfo, with the tag it logs under.
struct Access {
  const char* tag;
  std::function<bool(ZNJxRestart&, int32_t)> call;
  const char* missing;  // null: AddVolumeInfo adds an absent id
};

std::vector<Access> Accessors() {
  static uint64_t offset;
  static int32_t dest;
  static _JxCopyType type;
  return {
      {"ZNJxRestart::GetOffsetForSrcVolId",
       [](ZNJxRestart& t, int32_t id) { return t.GetOffsetForSrcVolId(id, offset); },
       "Unable to find the matching element during getting info for volId = "},
      {"ZNJxRestart::GetDestVolIdForSrcVolId",
       [](ZNJxRestart& t, int32_t id) { return t.GetDestVolIdForSrcVolId(id, dest); },
       "Unable to find the matching element during getting info for volId = "},
      {"ZNJxRestart::GetCopyTypeForSrcVolId",
       [](ZNJxRestart& t, int32_t id) { return t.GetCopyTypeForSrcVolId(id, type); },
       "Unalble to find the matching element during getting info for volId = "},
      {"ZNJxRestart::SetOffsetForSrcVolId", [](ZNJxRestart& t, int32_t id) { return t.SetOffsetForSrcVolId(id, 1); },
       "Unalble to find the matching element during update of the map for volId = "},
      {"ZNJxRestart::SetDestVolIdForSrcVolId",
       [](ZNJxRestart& t, int32_t id) { return t.SetDestVolIdForSrcVolId(id, 1); },
       "Unalble to find the matching element during update of the map for volId = "},
      {"ZNJxRestart::SetCopyTypeForSrcVolId",
       [](ZNJxRestart& t, int32_t id) { return t.SetCopyTypeForSrcVolId(id, static_cast<_JxCopyType>(1)); },
       "Unalble to find the matching element during update of the map for volId = "},
      {"ZNJxRestart::AddVolumeInfo",
       [](ZNJxRestart& t, int32_t id) {
         return t.AddVolumeInfo(_JxRestartVolumeInfo{1, id, 1, 1});
       },
       nullptr},
  };
}

TEST(ZNJxRestartAccess, RefusedOnInvalidOrEmptyObjectsWithoutChange) {
  const struct {
    const char* name;
    std::function<ZNJxRestart*()> make;
    const char* line;
  } kStates[] = {
      {"invalid, empty", [] { return new ZNJxRestart(Records{}); }, "Invalid class"},
      {"invalid, records held", [] { return new ZNJxRestart("1|2|3|4$9|8$"); }, "Invalid class"},
      {"valid, empty", [] { return new ZNJxRestart("abcdefgh"); }, kEmptyTable},
  };
  for (const auto& state : kStates) {
    for (const Access& access : Accessors()) {
      std::unique_ptr<ZNJxRestart> table(state.make());
      const Table before = table->volumeInfoMap;
      LogCapture capture;
      EXPECT_FALSE(access.call(*table, 2)) << state.name << " " << access.tag;
      EXPECT_EQ(capture.Take(), (LogLines{{access.tag, state.line}})) << state.name;
      EXPECT_EQ(table->volumeInfoMap, before) << state.name << " " << access.tag;
    }
  }
}

TEST(ZNJxRestartAccess, AbsentIdLogsItsNotFoundLine) {
  for (const Access& access : Accessors()) {
    if (access.missing == nullptr) continue;
    ZNJxRestart table(Records{{1, 2, 3, 4}});
    LogCapture capture;
    EXPECT_FALSE(access.call(table, -9)) << access.tag;
    EXPECT_EQ(capture.Take(), (LogLines{{access.tag, std::string(access.missing) + "-9"}}));
    EXPECT_EQ(table.volumeInfoMap, TableOf({{1, 2, 3, 4}})) << access.tag;
  }
}

TEST(ZNJxRestartAccess, GettersWriteOnlyOnSuccess) {
  ZNJxRestart table(Records{{7, -2, -3, kMax64}});
  uint64_t offset = 11;
  int32_t dest = 12;
  _JxCopyType type = static_cast<_JxCopyType>(13);
  EXPECT_FALSE(table.GetOffsetForSrcVolId(5, offset));
  EXPECT_FALSE(table.GetDestVolIdForSrcVolId(5, dest));
  EXPECT_FALSE(table.GetCopyTypeForSrcVolId(5, type));
  EXPECT_EQ(std::make_tuple(offset, dest, type), std::make_tuple(uint64_t{11}, 12, static_cast<_JxCopyType>(13)));
  LogCapture capture;
  EXPECT_TRUE(table.GetOffsetForSrcVolId(-2, offset));
  EXPECT_TRUE(table.GetDestVolIdForSrcVolId(-2, dest));
  EXPECT_TRUE(table.GetCopyTypeForSrcVolId(-2, type));
  EXPECT_EQ(std::make_tuple(offset, dest, type), std::make_tuple(kMax64, -3, static_cast<_JxCopyType>(7)));
  EXPECT_TRUE(capture.Take().empty());
}

TEST(ZNJxRestartAccess, SettersChangeOneFieldOfOneRecord) {
  ZNJxRestart table(Records{{1, 2, 3, 4}, {5, 6, 7, 8}});
  LogCapture capture;
  EXPECT_TRUE(table.SetOffsetForSrcVolId(2, kMax64));
  EXPECT_TRUE(table.SetDestVolIdForSrcVolId(2, -30));
  EXPECT_TRUE(table.SetCopyTypeForSrcVolId(6, static_cast<_JxCopyType>(300)));
  EXPECT_TRUE(capture.Take().empty());
  EXPECT_EQ(table.volumeInfoMap, TableOf({{1, 2, -30, kMax64}, {44, 6, 7, 8}}));
  _JxCopyType type;
  EXPECT_TRUE(table.SetCopyTypeForSrcVolId(6, static_cast<_JxCopyType>(256)));
  EXPECT_TRUE(table.GetCopyTypeForSrcVolId(6, type));
  EXPECT_EQ(type, 0);
  EXPECT_TRUE(table.SetCopyTypeForSrcVolId(6, static_cast<_JxCopyType>(-1)));
  EXPECT_TRUE(table.GetCopyTypeForSrcVolId(6, type));
  EXPECT_EQ(type, 255);
}

TEST(ZNJxRestartAccess, AddVolumeInfoAddsOrReplacesWholeRecords) {
  ZNJxRestart table(Records{{1, 2, 3, 4}});
  LogCapture capture;
  EXPECT_TRUE(table.AddVolumeInfo({9, 7, 8, 9}));
  EXPECT_TRUE(capture.Take().empty());
  EXPECT_TRUE(table.AddVolumeInfo({200, 2, -1, kMax64}));
  EXPECT_EQ(capture.Take(), (LogLines{{"ZNJxRestart::AddVolumeInfo", "Already an existing record updating the same"}}));
  EXPECT_EQ(table.volumeInfoMap, TableOf({{200, 2, -1, kMax64}, {9, 7, 8, 9}}));
}

TEST(ZNJxRestartInitialize, RecordsAddToAnyObjectWithoutChangingValidity) {
  ZNJxRestart invalid(Records{});
  LogCapture capture;
  EXPECT_FALSE(invalid.InitializeRestartVolInfo(Records{}));
  EXPECT_EQ(capture.Take(), (LogLines{{kInitTag, "Attempting to update from empty vector. Returning Failure"}}));
  EXPECT_TRUE(invalid.InitializeRestartVolInfo(Records{{1, 2, 3, 4}}));
  EXPECT_FALSE(invalid.isValid);
  EXPECT_EQ(invalid.volumeInfoMap, TableOf({{1, 2, 3, 4}}));

  ZNJxRestart valid(Records{{1, 2, 3, 4}, {1, 9, 9, 9}});
  EXPECT_TRUE(valid.InitializeRestartVolInfo(Records{{5, 9, 0, 0}}));
  EXPECT_TRUE(valid.InitializeRestartVolInfo("1|1|1|1$"));
  EXPECT_TRUE(valid.isValid);
  EXPECT_EQ(valid.volumeInfoMap, TableOf({{1, 1, 1, 1}, {1, 2, 3, 4}, {5, 9, 0, 0}}));
}

TEST(ZNJxRestartInitialize, NullTextIsRefusedWithoutChange) {
  ZNJxRestart table(Records{{1, 2, 3, 4}});
  LogCapture capture;
  EXPECT_FALSE(table.ParseRestartString(nullptr));
  EXPECT_FALSE(table.InitializeRestartVolInfo(static_cast<const char*>(nullptr)));
  EXPECT_EQ(capture.Take(), (LogLines{{kParseTag, "No Restart String supplied. Returning Failure"},
                                      {kParseTag, "No Restart String supplied. Returning Failure"}}));
  EXPECT_EQ(table.volumeInfoMap, TableOf({{1, 2, 3, 4}}));
}

struct ReadCase {
  const char* text;
  bool result;
  Records records;
  const char* invalidItem;  // quoted by the failure line, or null
};

// The reader's lenient rules, one case per rule.
const ReadCase kReadCases[] = {
    {"", true, {}, nullptr},
    {"     ", true, {}, nullptr},
    {"1|2|3|4", true, {}, nullptr},
    {"1|2|3|4$", true, {{1, 2, 3, 4}}, nullptr},
    {"   1|2|3|4$", true, {{1, 2, 3, 4}}, nullptr},
    {"\t1|2|3|4$", true, {{1, 2, 3, 4}}, nullptr},
    {"1| 2| 3| 4$", true, {{1, 2, 3, 4}}, nullptr},
    {"1 |2 |3 |4 $", true, {{1, 2, 3, 4}}, nullptr},
    {"1|2|3|4$5|6|7", true, {{1, 2, 3, 4}}, nullptr},
    {"$1|2|3|4$", false, {}, ""},
    {"1|2|3|4$$", false, {{1, 2, 3, 4}}, ""},
    {"1|2|3|4$9|8$5|5|5|5$", false, {{1, 2, 3, 4}}, "9|8"},
    {"|||$", true, {{0, 0, 0, 0}}, nullptr},
    {"1|2|3|4|5$", true, {{1, 2, 3, 4}}, nullptr},
    {"1|2|3|4$9|2|9|9$", true, {{9, 2, 9, 9}}, nullptr},
    {"300|1|0|0$256|2|0|0$-1|3|0|0$", true, {{44, 1, 0, 0}, {0, 2, 0, 0}, {255, 3, 0, 0}}, nullptr},
    {"0|1|0|-1$", true, {{0, 1, 0, kMax64}}, nullptr},
    {"0|1|0|18446744073709551615$0|2|0|99999999999999999999999$",
     true,
     {{0, 1, 0, 9223372036854775807ull}, {0, 2, 0, 9223372036854775807ull}},
     nullptr},
    {"0|1|0|-99999999999999999999$", true, {{0, 1, 0, 9223372036854775808ull}}, nullptr},
    {"ab|c||12ab$", true, {{0, 0, 0, 12}}, nullptr},
    {"99999999999|99999999999|-99999999999|0$", true, {{255, INT32_MAX, INT32_MIN, 0}}, nullptr},
    {"1|2|3|4$junk with no dollar|||", true, {{1, 2, 3, 4}}, nullptr},
    {"0|5|0|0$0|1|0|0$7|5|7|7$0|3|0|0$8|1|8|8$", true, {{8, 1, 8, 8}, {0, 3, 0, 0}, {7, 5, 7, 7}}, nullptr},
    {"0|5|0|0$0|1|0|0$0|5$0|9|0|0$", false, {{0, 1, 0, 0}, {0, 5, 0, 0}}, "0|5"},
    {"1|2%n%s|3|4%d$%s%n$", false, {{1, 2, 3, 4}}, "%s%n"},
};

TEST(ZNJxRestartRead, ReadsItemsLeniently) {
  for (const ReadCase& c : kReadCases) {
    ZNJxRestart table(Records{});
    LogCapture capture;
    EXPECT_EQ(table.ParseRestartString(c.text), c.result) << '"' << c.text << '"';
    EXPECT_EQ(table.volumeInfoMap, TableOf(c.records)) << '"' << c.text << '"';
    LogLines expected{{kParseTag, std::string("Restart String = ") + c.text}};
    if (c.invalidItem) expected.push_back({kParseTag, std::string("Invalid Restart String Record = ") + c.invalidItem});
    EXPECT_EQ(capture.Take(), expected) << '"' << c.text << '"';
  }
}

TEST(ZNJxRestartRead, ReplacesRecordsHeldBeforeTheCall) {
  ZNJxRestart table(Records{{1, 2, 3, 4}, {1, 5, 5, 5}});
  EXPECT_TRUE(table.ParseRestartString("9|2|9|9$"));
  EXPECT_EQ(table.volumeInfoMap, TableOf({{9, 2, 9, 9}, {1, 5, 5, 5}}));
}

TEST(ZNJxRestartWrite, WritesAscendingItemsEachClosed) {
  ZNJxRestart table(Records{{1, 100, 200, 4096}, {2, -5, 7, kMax64}});
  std::string out = "previous content";
  LogCapture capture;
  ASSERT_TRUE(table.GetCurrentRestartString(out));
  EXPECT_EQ(out, "2|-5|7|-1$1|100|200|4096$");
  EXPECT_EQ(out.size(), 25u);
  EXPECT_TRUE(capture.Take().empty());

  table.SetOffsetForSrcVolId(100, uint64_t{1} << 63);
  table.AddVolumeInfo({255, INT32_MIN, INT32_MAX, 0});
  ASSERT_TRUE(table.GetCurrentRestartString(out));
  EXPECT_EQ(out, "255|-2147483648|2147483647|0$2|-5|7|-1$1|100|200|-9223372036854775808$");
}

TEST(ZNJxRestartWrite, RefusesInvalidOrEmptyObjectsLeavingTheString) {
  const struct {
    const char* name;
    std::function<ZNJxRestart*()> make;
    const char* line;
  } kCases[] = {
      {"invalid with records", [] { return new ZNJxRestart("1|2|3|4$9|8$"); }, "Invalid class"},
      {"valid and empty", [] { return new ZNJxRestart("abcdefgh"); },
       "Attempting to read empty map. Returning Failure"},
  };
  for (const auto& c : kCases) {
    std::unique_ptr<ZNJxRestart> table(c.make());
    std::string out = "kept";
    LogCapture capture;
    EXPECT_FALSE(table->GetCurrentRestartString(out)) << c.name;
    EXPECT_EQ(out, "kept") << c.name;
    EXPECT_EQ(capture.Take(), (LogLines{{kWriteTag, c.line}})) << c.name;
  }
}

// Any table survives the writer and the reader: every copy type, negative
// ids and offsets across the whole 64-bit range, 2^63 and above included.
TEST(ZNJxRestartRoundTrip, WriterOutputReadsBackTheSameRecords) {
  std::mt19937_64 random(20261209);
  const uint64_t kEdgeOffsets[] = {0, 1, (uint64_t{1} << 63) - 1, uint64_t{1} << 63, kMax64};
  for (int round = 0; round < 200; ++round) {
    Records records;
    const int count = 1 + static_cast<int>(random() % 50);
    for (int i = 0; i < count; ++i) {
      const uint64_t offset = i < 5 ? kEdgeOffsets[i] : random();
      records.push_back(
          {static_cast<uint8_t>(random()), static_cast<int32_t>(random()), static_cast<int32_t>(random()), offset});
    }
    if (round == 0) records.push_back({0, INT32_MIN, INT32_MAX, 0});
    ZNJxRestart original(records);
    std::string text;
    ASSERT_TRUE(original.GetCurrentRestartString(text));
    ZNJxRestart copy(text.c_str());
    ASSERT_TRUE(copy.isValid) << text;
    ASSERT_EQ(copy.volumeInfoMap, original.volumeInfoMap) << text;
  }
}

}  // namespace
