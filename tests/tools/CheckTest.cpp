// The strict checker and the log reader's search, case by case: where each
// deviation is reported and what it says, and which texts a log line holds.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/jxrestart/Check.h"
#include "tools/jxrestart/LogReader.h"

namespace {

using jxrestart::tool::CheckJob;
using jxrestart::tool::CheckVolumes;
using jxrestart::tool::Deviations;
using jxrestart::tool::TextKind;

struct CheckCase {
  std::string text;
  // Each deviation: its byte from 1, and words its problem holds.
  std::vector<std::pair<size_t, std::string>> deviations;
};

void ExpectDeviations(const CheckCase& c, const Deviations& found) {
  ASSERT_EQ(found.count(), c.deviations.size()) << c.text;
  for (size_t i = 0; i < c.deviations.size(); ++i) {
    EXPECT_EQ(found.kept()[i].offset + 1, c.deviations[i].first) << c.text;
    EXPECT_NE(found.kept()[i].problem.find(c.deviations[i].second), std::string::npos)
        << c.text << ": " << found.kept()[i].problem;
  }
}

const CheckCase kJobCases[] = {
    {"-Restart 3|0@17|4096@", {}},
    {"-Restart -2147483648|2147483647@", {}},
    {"", {{1, "no item"}}},
    {"-Restart ", {{10, "no item"}}},
    {" -Restart 3|0@", {{1, "begins with spaces"}}},
    {"-Restart  3|0@", {{10, "more than one space"}}},
    {"x -Restart 3|0@", {{1, "volume id \"x -Restart 3\" reads as 0"}, {3, "does not begin the text"}}},
    {"3|0@17|4096", {{12, "no closing '@'"}}},
    {"0|5", {{1, "volume 0"}, {4, "no closing '@'"}}},
    {"0|5@", {{1, "volume id 0"}}},
    {"3|0@3|7@", {{5, "volume 3 is given again (first at byte 1)"}}},
    {"4096@17|", {{1, "comes before its volume id"}}},
    {"5|6|7@", {{1, "volume id \"5\" has no offset"}}},
    {"4096@5@17|", {{1, "offset \"4096\" has no volume id"}, {6, "comes before its volume id"}}},
    {"3|0@17", {{5, "text after the last item"}}},
    {"3|x@", {{3, "offset \"x\" is not a number"}}},
    {"3|@", {{3, "empty offset"}}},
    {"12ab|3@", {{3, "has text after its number"}}},
    {"007|+5@", {{1, "not written as the library writes"}, {5, "not written as the library writes"}}},
    {"3|-0@", {{3, "not written as the library writes"}}},
    {"2147483648|1@", {{1, "out of range"}}},
    {std::string("3|0@\0"
                 "5|5@",
                 9),
     {{5, "a NUL byte"}}},
};

TEST(Check, JobTextDeviationsWhereTheyAre) {
  for (const CheckCase& c : kJobCases) ExpectDeviations(c, CheckJob(c.text).deviations);
  const auto reading = CheckJob("-Restart 17|4096@3|0@");
  EXPECT_TRUE(reading.prefixed);
  EXPECT_EQ(reading.items, (std::vector<std::pair<int32_t, int32_t>>{{17, 4096}, {3, 0}}));
}

const CheckCase kVolumeCases[] = {
    {"2|-5|7|-1$1|100|200|4096$", {}},
    {"255|2147483647|-2147483648|-9223372036854775808$", {}},
    {"|||0$", {{1, "only 5 bytes long"}}},
    {"abcdefgh", {{1, "text after the last '$'"}, {1, "no record"}}},
    {"  1|2|3|4$", {{1, "begins with spaces"}}},
    {"1|2|3|4|5$", {{8, "more than four fields"}}},
    {"300|1|0|0$", {{1, "copy type \"300\" is out of range (0 to 255)"}}},
    {"-1|1|0|0$", {{1, "copy type \"-1\" is out of range"}}},
    {"0|1|0|9223372036854775808$", {{7, "offset \"9223372036854775808\" is out of range"}}},
    {"1|2|3|4$9|8$5|5|5|5$", {{9, "item \"9|8\" has 2 fields, not 4"}}},
    {"1|2|3|4$$", {{9, "item \"\" has 1 field, not 4"}}},
    {"1|2|3|4$9|2|9|9$", {{9, "source volume 2 is given again"}}},
    {"1|2|3|4$tail", {{9, "text after the last '$'"}}},
    {"1| 2|3|4$", {{3, "not written as the library writes"}}},
};

TEST(Check, VolumeTextDeviationsWhereTheyAre) {
  for (const CheckCase& c : kVolumeCases) ExpectDeviations(c, CheckVolumes(c.text).deviations);
  EXPECT_EQ(CheckVolumes("2|-5|7|-1$").records[0].offset, ~uint64_t{0});
}

TEST(Check, KindsByTheirMarks) {
  const std::pair<const char*, TextKind> kKinds[] = {
      {"  -Restart 1|1@", TextKind::kJob},  {"1|1@", TextKind::kInput},  {"1|2|3|4$", TextKind::kVolumes},
      {"1|1@1|2|3|4$", TextKind::kUnknown}, {"1|2", TextKind::kUnknown}, {"", TextKind::kUnknown},
  };
  for (const auto& k : kKinds) EXPECT_EQ(jxrestart::tool::KindOf(k.first), k.second) << k.first;
}

struct LogLineCase {
  std::string line;
  std::vector<std::pair<size_t, std::string>> texts;  // column, text
  TextKind kind;                                      // of the first
};

const LogLineCase kLogLines[] = {
    {"no restart string here $HOME | grep", {}, TextKind::kUnknown},
    {"JxRestartability::ParseRestartInputFromJM: Input from JM = 1|4@ tail\r", {{60, "1|4@ tail"}}, TextKind::kInput},
    {"ZNJxRestart::ParseRestartString: Restart String =  1|2|3|4$", {{51, " 1|2|3|4$"}}, TextKind::kVolumes},
    {"X: The Restart string: -Restart 1|0@", {{24, "-Restart 1|0@"}}, TextKind::kJob},
    {"handed over -Restart 1|4@2|0@\t0|1|11|4096$ done",
     {{13, "-Restart 1|4@2|0@"}, {31, "0|1|11|4096$"}},
     TextKind::kJob},
    {"-5|1|2|3$ and -Restart 7|7@x", {{1, "-5|1|2|3$"}, {15, "-Restart 7|7@x"}}, TextKind::kVolumes},
};

TEST(LogReader, FindsTheTextsOfALineWithTheirColumns) {
  for (const LogLineCase& c : kLogLines) {
    std::vector<jxrestart::tool::FoundText> found;
    jxrestart::tool::FindTexts(c.line.data(), c.line.size(), &found);
    ASSERT_EQ(found.size(), c.texts.size()) << c.line;
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].column, c.texts[i].first) << c.line;
      EXPECT_EQ(found[i].text, c.texts[i].second) << c.line;
    }
    EXPECT_EQ(found.empty() ? TextKind::kUnknown : found[0].kind, c.kind) << c.line;
  }
}

}  // namespace
