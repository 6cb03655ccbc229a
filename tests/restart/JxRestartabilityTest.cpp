#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "restart/JxRestartability.h"
#include "tests/support/LogCapture.h"

namespace {

using jxrestart::testing::LogCapture;
using jxrestart::testing::LogLines;
using IdMap = std::map<int32_t, int32_t>;
using NameMap = std::map<std::string, int32_t>;

const char kPopulateTag[] = "JxRestartability:PopulateVolumeOffsetMap";
const char kNamesTag[] = "JxRestartability:PopulateVolumeOffsetMap - Input String Vector";
const char kInsertTag[] = "JxRestartability::InsertIntoVolumeOffsetMap";
const char kUpdateTag[] = "JxRestartability::UpdateJobRestartInfoMap";
const char kQueryTag[] = "JxRestartability::GetBMOffsetFromVolId";
const char kBuildTag[] = "JxRestartability::BuildJobRestartString";
const char kParseTag[] = "JxRestartability::ParseRestartInputFromJM";
const char kNumberGate[] = "Only Jx is expected to use this Method. Potential error. Returning false.";
const char kNameGate[] = "Only RESTART_STRING_BASED is expected to use this Method. Potential error. Returning false.";
const char kBuildEmpty[] = "Attempting to build from empty map. Returning Failure";

std::string Built(const std::string& items) { return "The Restart string: -Restart " + items; }

class JxRestartabilityTest : public ::testing::Test {
 protected:
  JxRestartabilityTest() { capture.Take(); }

  void UseNames() {
    ASSERT_TRUE(tracker.SetRestartType(1));
    capture.Take();
  }

  LogCapture capture;  // before the tracker, so it sees the tracker's lines
  JxRestartability tracker;
};

TEST(JxRestartabilityConstruction, StartsNumberBasedEmptyWithOneLine) {
  LogCapture capture;
  JxRestartability tracker;
  EXPECT_EQ(tracker.restartType, 0);
  EXPECT_TRUE(tracker.volumeOffsetMap.empty());
  EXPECT_TRUE(tracker.volumeNameOffsetMap.empty());
  EXPECT_EQ(tracker.restartString, "");
  EXPECT_EQ(capture.Take(), (LogLines{{kPopulateTag, "Restart Type is set to: RESTART_NUMBER_BASED"}}));
}

TEST_F(JxRestartabilityTest, SetRestartTypeAcceptsOnlyZeroAndOne) {
  const struct {
    int32_t type;
    bool result;
    int32_t typeAfter;
    LogLines lines;
  } kCases[] = {
      {2, false, 0, {}},
      {-1, false, 0, {}},
      {1, true, 1, {{kPopulateTag, "Restart Type is set to: RESTART_STRING_BASED"}}},
      {1, true, 1, {{kPopulateTag, "Restart Type is set to: RESTART_STRING_BASED"}}},
      {0, true, 0, {{kPopulateTag, "Restart Type is set to: RESTART_NUMBER_BASED"}}},
  };
  tracker.restartString = "kept";
  for (const auto& c : kCases) {
    EXPECT_EQ(tracker.SetRestartType(c.type), c.result) << c.type;
    EXPECT_EQ(tracker.restartType, c.typeAfter) << c.type;
    EXPECT_EQ(capture.Take(), c.lines) << c.type;
  }
  EXPECT_EQ(tracker.restartString, "kept");
}

TEST_F(JxRestartabilityTest, BuildsNumericItemsInSignedOrder) {
  tracker.volumeOffsetMap = {{17, 4096}, {3, 0}};
  ASSERT_TRUE(tracker.BuildJobRestartString());
  EXPECT_EQ(tracker.restartString, "-Restart 3|0@17|4096@");
  EXPECT_EQ(capture.Take(), (LogLines{{kBuildTag, Built("3|0@17|4096@")}}));

  tracker.volumeOffsetMap = {{10, 1}, {-5, -7}, {2, INT32_MIN}, {INT32_MAX, INT32_MAX}};
  ASSERT_TRUE(tracker.BuildJobRestartString());
  EXPECT_EQ(tracker.restartString, "-Restart -5|-7@2|-2147483648@10|1@2147483647|2147483647@");
}

TEST_F(JxRestartabilityTest, BuildsNamesInByteOrderUnescapedUpToNul) {
  UseNames();
  tracker.volumeNameOffsetMap = {{"b", 1},    {"B", 2},    {"a2", 3},    {"a1", 4},
                                 {"a", 5},    {"", 6},     {"x|y@z", 7}, {std::string("ab\0cd", 5), 8},
                                 {"\xff", 9}, {"%s%n", 10}};
  ASSERT_TRUE(tracker.BuildJobRestartString());
  const char* const expected = "-Restart |6@%s%n|10@B|2@a|5@a1|4@a2|3@ab|8@b|1@x|y@z|7@\xff|9@";
  EXPECT_EQ(tracker.restartString, expected);
  EXPECT_EQ(capture.Take(), (LogLines{{kBuildTag, std::string("The Restart string: ") + expected}}));
}

TEST_F(JxRestartabilityTest, BuildWritesLongNamesWhole) {
  UseNames();
  const std::string longName(5000, 'n');
  tracker.volumeNameOffsetMap[longName] = 12;
  tracker.volumeNameOffsetMap[std::string(1023, 'm')] = 1;
  ASSERT_TRUE(tracker.BuildJobRestartString());
  EXPECT_EQ(tracker.restartString, "-Restart " + std::string(1023, 'm') + "|1@" + longName + "|12@");
}

TEST_F(JxRestartabilityTest, BuildFromEmptyMapEmptiesTheString) {
  tracker.volumeNameOffsetMap = {{"other type", 1}};
  tracker.restartString = "-Restart 1|1@";
  EXPECT_FALSE(tracker.BuildJobRestartString());
  EXPECT_EQ(tracker.restartString, "");
  EXPECT_EQ(capture.Take(), (LogLines{{kBuildTag, kBuildEmpty}}));
}

TEST_F(JxRestartabilityTest, BuildUsesOnlyTheMapOfTheCurrentType) {
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(4, 40));
  UseNames();
  EXPECT_EQ(tracker.restartString, "-Restart 4|40@") << "a type change alone does not rebuild";
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string("vol"), 9));
  EXPECT_EQ(tracker.restartString, "-Restart vol|9@");
  ASSERT_TRUE(tracker.SetRestartType(0));
  ASSERT_TRUE(tracker.BuildJobRestartString());
  EXPECT_EQ(tracker.restartString, "-Restart 4|40@");
  EXPECT_EQ(tracker.volumeNameOffsetMap, (NameMap{{"vol", 9}}));
}

TEST_F(JxRestartabilityTest, PopulateByRecordsStoresEachIdOnceAtZero) {
  ASSERT_TRUE(tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{5}, {3}, {5}, {0}, {-2}}));
  EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{-2, 0}, {0, 0}, {3, 0}, {5, 0}}));
  EXPECT_EQ(capture.Take(), (LogLines{{kBuildTag, Built("-2|0@0|0@3|0@5|0@")},
                                      {kPopulateTag, "Base Map populated and Restart string built"}}));
}

TEST_F(JxRestartabilityTest, PopulateIsRefusedOnceTheMapHoldsAnEntry) {
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(9, 1));
  const std::string before = tracker.restartString;
  capture.Take();
  EXPECT_FALSE(tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{1}}));
  EXPECT_EQ(capture.Take(), (LogLines{{kPopulateTag, "Attempting to re-populate. Returning Failure"}}));
  EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{9, 1}}));
  EXPECT_EQ(tracker.restartString, before);
}

TEST_F(JxRestartabilityTest, PopulateFromEmptyListFailsAndMayBeRepeated) {
  tracker.restartString = "stale";
  EXPECT_FALSE(tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{}));
  EXPECT_EQ(tracker.restartString, "");
  EXPECT_EQ(capture.Take(),
            (LogLines{{kBuildTag, kBuildEmpty}, {kPopulateTag, "Failure while Building the Restart String"}}));
  EXPECT_TRUE(tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{1}}));
  EXPECT_EQ(tracker.restartString, "-Restart 1|0@");
}

TEST_F(JxRestartabilityTest, PopulateByNames) {
  EXPECT_FALSE(tracker.PopulateVolumeOffsetMap(std::vector<std::string>{"a"}));
  EXPECT_EQ(capture.Take(),
            (LogLines{{kNamesTag,
                       "Only RESTART_STRING_BASED is expected to use this type. Potential error. Returning false."}}));
  UseNames();
  EXPECT_FALSE(tracker.PopulateVolumeOffsetMap(std::vector<std::string>{}));
  EXPECT_EQ(capture.Take(),
            (LogLines{{kBuildTag, kBuildEmpty}, {kNamesTag, "Failure while Building the Restart String"}}));
  ASSERT_TRUE(tracker.PopulateVolumeOffsetMap(std::vector<std::string>{"vol2", "", "vol1", "vol2"}));
  EXPECT_EQ(tracker.volumeNameOffsetMap, (NameMap{{"", 0}, {"vol1", 0}, {"vol2", 0}}));
  EXPECT_EQ(capture.Take(), (LogLines{{kBuildTag, Built("|0@vol1|0@vol2|0@")},
                                      {kNamesTag, "Base Map populated and Restart string built"}}));
  EXPECT_FALSE(tracker.PopulateVolumeOffsetMap(std::vector<std::string>{"x"}));
  EXPECT_EQ(capture.Take(), (LogLines{{kNamesTag, "Attempting to re-populate. Returning Failure"}}));
}

TEST_F(JxRestartabilityTest, InsertByIdValidatesOffsetThenId) {
  const struct {
    int32_t volId;
    int32_t offset;
    bool result;
    LogLines lines;
  } kCases[] = {
      {7, -1, true, {{kBuildTag, Built("7|-1@")}}},
      {7, 0, true, {{kBuildTag, Built("7|0@")}}},
      {2, INT32_MAX, true, {{kBuildTag, Built("2|2147483647@7|0@")}}},
      {7, -2, false, {{kInsertTag, "Wrong input value for iOffset: -2"}}},
      {7, INT32_MIN, false, {{kInsertTag, "Wrong input value for iOffset: -2147483648"}}},
      {0, 5, false, {{kInsertTag, "Wrong input value for vol id: 0"}}},
      {-3, 5, false, {{kInsertTag, "Wrong input value for vol id: -3"}}},
      {0, -2, false, {{kInsertTag, "Wrong input value for iOffset: -2"}}},
  };
  for (const auto& c : kCases) {
    const IdMap before = tracker.volumeOffsetMap;
    EXPECT_EQ(tracker.InsertIntoVolumeOffsetMap(c.volId, c.offset), c.result) << c.volId << "," << c.offset;
    EXPECT_EQ(capture.Take(), c.lines) << c.volId << "," << c.offset;
    if (!c.result) {
      EXPECT_EQ(tracker.volumeOffsetMap, before);
    }
  }
  EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{2, INT32_MAX}, {7, 0}}));
}

TEST_F(JxRestartabilityTest, InsertByNameAcceptsAnyName) {
  UseNames();
  EXPECT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string(""), 3));
  EXPECT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string("a|b@c"), -1));
  EXPECT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string(""), 4));
  EXPECT_FALSE(tracker.InsertIntoVolumeOffsetMap(std::string("x"), -2));
  EXPECT_EQ(tracker.volumeNameOffsetMap, (NameMap{{"", 4}, {"a|b@c", -1}}));
  EXPECT_EQ(tracker.restartString, "-Restart |4@a|b@c|-1@");
  EXPECT_EQ(capture.Take().back(), (jxrestart::testing::LogLine{kInsertTag, "Wrong input value for iOffset: -2"}));
}

TEST_F(JxRestartabilityTest, UpdateById) {
  EXPECT_FALSE(tracker.UpdateJobRestartInfoMapAndString(1, 1));
  EXPECT_EQ(capture.Take(), (LogLines{{kUpdateTag, "Attempting to update empty map. Returning Failure"}}));
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(1, 0));
  const std::string before = tracker.restartString;
  capture.Take();
  EXPECT_FALSE(tracker.UpdateJobRestartInfoMapAndString(7, 1));
  EXPECT_EQ(capture.Take(),
            (LogLines{{kUpdateTag, "Unalble to find the matching element during update of the map volId = 7"}}));
  EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{1, 0}}));
  EXPECT_EQ(tracker.restartString, before);
  EXPECT_TRUE(tracker.UpdateJobRestartInfoMapAndString(1, -5));
  EXPECT_EQ(tracker.restartString, "-Restart 1|-5@");
  EXPECT_EQ(capture.Take(), (LogLines{{kBuildTag, Built("1|-5@")}}));
}

TEST_F(JxRestartabilityTest, UpdateByName) {
  UseNames();
  EXPECT_FALSE(tracker.UpdateJobRestartInfoMapAndString(std::string("a"), 1));
  EXPECT_EQ(capture.Take(), (LogLines{{kUpdateTag, "Attempting to update empty map. Returning Failure"}}));
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string("a"), 0));
  capture.Take();
  EXPECT_FALSE(tracker.UpdateJobRestartInfoMapAndString(std::string("b%s%n"), 1));
  EXPECT_EQ(capture.Take(),
            (LogLines{{kUpdateTag, "Unalble to find the matching element during update of the map volId = b%s%n"}}));
  EXPECT_TRUE(tracker.UpdateJobRestartInfoMapAndString(std::string("a"), INT32_MIN));
  EXPECT_EQ(tracker.restartString, "-Restart a|-2147483648@");
}

TEST_F(JxRestartabilityTest, QueryWritesOnlyOnSuccess) {
  int32_t offset = 77;
  EXPECT_FALSE(tracker.GetBMOffsetFromVolId(1, &offset));
  EXPECT_EQ(capture.Take(), (LogLines{{kQueryTag, "Attempting to query empty map. Returning Failure"}}));
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(1, 10));
  capture.Take();
  EXPECT_FALSE(tracker.GetBMOffsetFromVolId(2, &offset));
  EXPECT_EQ(capture.Take(), (LogLines{{kQueryTag, "Unalble to find the matching element during query of the map"}}));
  EXPECT_EQ(offset, 77);
  EXPECT_FALSE(tracker.GetBMOffsetFromVolId(1, nullptr));
  EXPECT_TRUE(tracker.GetBMOffsetFromVolId(1, &offset));
  EXPECT_EQ(offset, 10);
  EXPECT_TRUE(capture.Take().empty());

  UseNames();
  EXPECT_FALSE(tracker.GetBMOffsetFromVolId(std::string("a"), &offset));
  EXPECT_EQ(capture.Take(), (LogLines{{kQueryTag, "Attempting to query empty map. Returning Failure"}}));
  ASSERT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string("a"), 5));
  EXPECT_FALSE(tracker.GetBMOffsetFromVolId(std::string("b"), &offset));
  EXPECT_EQ(offset, 10);
  EXPECT_TRUE(tracker.GetBMOffsetFromVolId(std::string("a"), &offset));
  EXPECT_EQ(offset, 5);
}

TEST_F(JxRestartabilityTest, FigureOutDoesNothing) {
  for (int32_t type : {0, 1}) {
    ASSERT_TRUE(tracker.SetRestartType(type));
    capture.Take();
    int32_t id = 5;
    EXPECT_FALSE(tracker.FigureOutSNRIdFromVolName("vol", &id));
    EXPECT_EQ(id, 5);
    EXPECT_TRUE(capture.Take().empty());
  }
}

// Every keyed operation in the wrong type writes its gate line and changes
// nothing, whatever the maps hold.
TEST_F(JxRestartabilityTest, WrongTypeIsRefusedWithTheGateLine) {
  tracker.volumeOffsetMap = {{1, 1}};
  tracker.volumeNameOffsetMap = {{"a", 1}};
  tracker.restartString = "unchanged";
  int32_t out = 99;
  char input[] = "5|5@";
  const struct {
    const char* name;
    int32_t type;
    std::function<bool()> call;
    LogLines lines;
  } kCases[] = {
      {"parse", 1, [&] { return tracker.ParseRestartInputFromJM(input); }, {{kParseTag, kNumberGate}}},
      {"parse null", 1, [&] { return tracker.ParseRestartInputFromJM(nullptr); }, {{kParseTag, kNumberGate}}},
      {"populate ids",
       1,
       [&] { return tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{2}}); },
       {{kPopulateTag, kNumberGate}}},
      {"insert id", 1, [&] { return tracker.InsertIntoVolumeOffsetMap(2, 2); }, {{kInsertTag, kNumberGate}}},
      {"update id", 1, [&] { return tracker.UpdateJobRestartInfoMapAndString(1, 2); }, {{kUpdateTag, kNumberGate}}},
      {"query id", 1, [&] { return tracker.GetBMOffsetFromVolId(1, &out); }, {{kQueryTag, kNumberGate}}},
      {"insert name",
       0,
       [&] { return tracker.InsertIntoVolumeOffsetMap(std::string("b"), 2); },
       {{kInsertTag, kNameGate}}},
      {"update name",
       0,
       [&] { return tracker.UpdateJobRestartInfoMapAndString(std::string("a"), 2); },
       {{kUpdateTag, kNameGate}}},
      {"query name", 0, [&] { return tracker.GetBMOffsetFromVolId(std::string("a"), &out); }, {{kQueryTag, kNameGate}}},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(tracker.SetRestartType(c.type));
    capture.Take();
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_EQ(capture.Take(), c.lines) << c.name;
    EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{1, 1}})) << c.name;
    EXPECT_EQ(tracker.volumeNameOffsetMap, (NameMap{{"a", 1}})) << c.name;
    EXPECT_EQ(tracker.restartString, "unchanged") << c.name;
    EXPECT_EQ(out, 99) << c.name;
  }
}

// A tracker whose rebuild fails on demand, to show that every change goes
// through the virtual rebuild and keeps its change when it fails.
class FailingRebuild : public JxRestartability {
 public:
  bool BuildJobRestartString() override {
    ++builds;
    debugLog.Debug("Derived", "build %d", builds);
    return !fail && JxRestartability::BuildJobRestartString();
  }
  bool fail = true;
  int builds = 0;
};

TEST(JxRestartabilityRebuild, FailedRebuildLogsAfterItAndKeepsTheChange) {
  LogCapture capture;
  FailingRebuild tracker;
  char input[] = "8|80@";
  const struct {
    const char* name;
    int32_t type;
    std::function<bool()> call;
    const char* tag;
    const char* line;
  } kCases[] = {
      {"populate ids", 0, [&] { return tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{1}}); },
       kPopulateTag, "Failure while Building the Restart String"},
      {"insert id", 0, [&] { return tracker.InsertIntoVolumeOffsetMap(2, 20); }, kInsertTag,
       "Failure while building the Restart String"},
      {"update id", 0, [&] { return tracker.UpdateJobRestartInfoMapAndString(1, 10); }, kUpdateTag,
       "Failure while building the Restart String"},
      {"parse", 0, [&] { return tracker.ParseRestartInputFromJM(input); }, kParseTag,
       "Failure while Building the Restart String"},
      {"populate names", 1, [&] { return tracker.PopulateVolumeOffsetMap(std::vector<std::string>{"a"}); }, kNamesTag,
       "Failure while Building the Restart String"},
      {"insert name", 1, [&] { return tracker.InsertIntoVolumeOffsetMap(std::string("b"), 2); }, kInsertTag,
       "Failure while building the Restart String"},
      {"update name", 1, [&] { return tracker.UpdateJobRestartInfoMapAndString(std::string("a"), 3); }, kUpdateTag,
       "Failure while building the Restart String"},
  };
  for (const auto& c : kCases) {
    tracker.SetRestartType(c.type);
    capture.Take();
    const int builds = tracker.builds;
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_EQ(tracker.builds, builds + 1) << c.name;
    // The parser logs its input first; then the rebuild's line, then ours.
    LogLines lines = capture.Take();
    ASSERT_GE(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[lines.size() - 2].tag, "Derived") << c.name;
    EXPECT_EQ(lines.back(), (jxrestart::testing::LogLine{c.tag, c.line})) << c.name;
  }
  EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{1, 10}, {2, 20}, {8, 80}}));
  EXPECT_EQ(tracker.volumeNameOffsetMap, (NameMap{{"a", 3}, {"b", 2}}));
  EXPECT_EQ(tracker.restartString, "");

  tracker.fail = false;
  EXPECT_TRUE(tracker.InsertIntoVolumeOffsetMap(std::string("c"), 1));
  EXPECT_EQ(tracker.restartString, "-Restart a|3@b|2@c|1@");
}

struct ParseCase {
  const char* input;
  IdMap before;
  IdMap after;
};

// The lenient reading of the restart input, one case per rule.
const ParseCase kParseCases[] = {
    {"3|0@17|4096@", {}, {{3, 0}, {17, 4096}}},
    {"3|0@17|4096", {}, {{3, 0}, {17, 4096}}},
    {"   3|0@", {}, {{3, 0}}},
    {"3 | 0 @", {}, {{3, 0}}},
    {"\t3|0@", {}, {{3, 0}}},
    {"0|5", {}, {{0, 5}}},
    {"|5", {}, {{0, 5}}},
    {"3|0@3|7@", {}, {{3, 7}}},
    {"4096@17|", {}, {{17, 4096}}},
    {"5|6|7@", {}, {{6, 7}}},
    {"3|0@17", {}, {{3, 0}}},
    {"3|0@17|", {}, {{3, 0}}},
    {"-Restart 3|0@17|4096@", {}, {{17, 4096}}},
    {"3|-5@4|x@", {}, {{3, -5}, {4, 0}}},
    {"12ab|3cd@", {}, {{12, 3}}},
    {"-4|1@", {}, {{-4, 1}}},
    {"99999999999|-99999999999@", {}, {{INT32_MAX, INT32_MIN}}},
    {"2|2@", {{1, 1}, {2, 9}}, {{1, 1}, {2, 2}}},
    {"", {{1, 1}}, {{1, 1}}},
    {"@@||", {{1, 1}}, {{1, 1}}},
    {"|||@@@0|", {{1, 1}}, {{1, 1}}},
    {"5|   ", {}, {{5, 0}}},
    {"1|1@7@", {}, {{1, 1}}},
    {"7%n%s|5%d@", {}, {{7, 5}}},
};

TEST(JxRestartabilityParse, ReadsItemsLeniently) {
  for (const ParseCase& c : kParseCases) {
    LogCapture capture;
    JxRestartability tracker;
    tracker.volumeOffsetMap = c.before;
    tracker.volumeNameOffsetMap = {{"untouched", 1}};
    capture.Take();
    std::string input = c.input;
    EXPECT_TRUE(tracker.ParseRestartInputFromJM(&input[0])) << c.input;
    EXPECT_EQ(tracker.volumeOffsetMap, c.after) << c.input;
    EXPECT_EQ(tracker.volumeNameOffsetMap, (NameMap{{"untouched", 1}})) << c.input;
    EXPECT_EQ(input, c.input) << "the caller's text is only read";
    LogLines lines = capture.Take();
    ASSERT_EQ(lines.size(), 2u) << c.input;
    EXPECT_EQ(lines[0], (jxrestart::testing::LogLine{kParseTag, std::string("Input from JM = ") + c.input}));
    EXPECT_EQ(lines[1].tag, kBuildTag) << c.input;
  }
}

TEST(JxRestartabilityParse, RebuildsTheStringFromTheWholeMap) {
  JxRestartability tracker;
  char first[] = "3|0@17|4096@";
  ASSERT_TRUE(tracker.ParseRestartInputFromJM(first));
  EXPECT_EQ(tracker.restartString, "-Restart 3|0@17|4096@");
  char second[] = "1|1@";
  ASSERT_TRUE(tracker.ParseRestartInputFromJM(second));
  EXPECT_EQ(tracker.restartString, "-Restart 1|1@3|0@17|4096@");
  EXPECT_FALSE(tracker.PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t>{{4}}));
}

TEST(JxRestartabilityParse, NothingStoredInAnEmptyMapFails) {
  for (const char* text : {"0|5@", "", "   ", "junk", "@|@|"}) {
    LogCapture capture;
    JxRestartability tracker;
    tracker.restartString = "stale";
    capture.Take();
    std::string input = text;
    EXPECT_FALSE(tracker.ParseRestartInputFromJM(&input[0])) << text;
    EXPECT_TRUE(tracker.volumeOffsetMap.empty()) << text;
    EXPECT_EQ(tracker.restartString, "") << text;
    EXPECT_EQ(capture.Take(), (LogLines{{kParseTag, std::string("Input from JM = ") + text},
                                        {kBuildTag, kBuildEmpty},
                                        {kParseTag, "Failure while Building the Restart String"}}))
        << text;
  }
}

TEST(JxRestartabilityParse, NullInputIsRefused) {
  LogCapture capture;
  JxRestartability tracker;
  tracker.volumeOffsetMap = {{1, 1}};
  capture.Take();
  EXPECT_FALSE(tracker.ParseRestartInputFromJM(nullptr));
  EXPECT_EQ(capture.Take(), (LogLines{{kParseTag, "No Restart info supplied by the JobManager for this job"}}));
  EXPECT_EQ(tracker.volumeOffsetMap, (IdMap{{1, 1}}));
}

}  // namespace
