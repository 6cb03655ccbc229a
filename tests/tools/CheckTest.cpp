// The strict reading and the log reader's search, case by case: where each
// deviation is reported and what it says, which texts a log line holds,
// and what the library's reading and the strict one make of the same text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/jxrestart/Examination.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Numbers.h"
#include "tools/jxrestart/log/Source.h"
#include "tools/jxrestart/log/History.h"
#include "tools/jxrestart/log/JobPattern.h"
#include "tools/jxrestart/log/Recognisers.h"

namespace {

using jxrestart::tool::Deviations;
using jxrestart::tool::Family;
using jxrestart::tool::ReadStrictly;
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
    {"-Restart 1|1234567@22|7654321@333|12345678@4444|-1@1000000000|0@", {}},  // every length, and a sign
    {"-Restart 9|0@3|0@", {}},                                                // any order
    {"", {{1, "no item"}}},
    {"-Restart ", {{10, "no item"}}},
    {" -Restart 3|0@", {{1, "begins with spaces"}}},
    {"-Restart  3|0@", {{10, "more than one space"}}},
    {"x -Restart 3|0@", {{1, "volume id \"x -Restart 3\" reads as 0"}, {3, "does not begin the text"}}},
    {"3|0@17|4096", {{12, "no closing '@'"}}},
    {"0|5", {{1, "volume 0"}, {4, "no closing '@'"}}},
    {"0|5@", {{1, "volume id 0"}}},
    {"1|2:@", {{4, "offset \"2:\" has text after its number"}}},  // ':' follows '9'
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
    {"1|01@2|2@3|3@4|4@5|5@6|6@", {{3, "not written as the library writes"}}},  // a leading zero where 16 bytes follow
    {"2147483648|1@", {{1, "out of range"}}},
    {"1|2147483648@2|2@3|3@4|4@", {{3, "out of range"}}},
    {std::string("3|0@\0"
                 "5|5@",
                 9),
     {{5, "a NUL byte"}}},
};

TEST(Check, JobTextDeviationsWhereTheyAre) {
  for (const CheckCase& c : kJobCases) ExpectDeviations(c, ReadStrictly(c.text, Family::kJob).deviations);
  const auto reading = ReadStrictly("-Restart 17|4096@3|0@", Family::kJob);
  EXPECT_EQ(reading.kind, TextKind::kJob);
  EXPECT_EQ(reading.items, (std::vector<std::pair<int32_t, int32_t>>{{17, 4096}, {3, 0}}));
}

const CheckCase kVolumeCases[] = {
    {"2|-5|7|-1$1|100|200|4096$", {}},
    {"255|2147483647|-2147483648|-9223372036854775808$", {}},
    {"1|9|9|9$0|2|2|2$", {}},  // any order
    {"|||0$", {{1, "only 5 bytes long"}}},
    {"0|||0$", {{3, "empty source volume"}, {4, "empty destination volume"}}},  // 6 bytes: read
    {"0|1|2|3:$", {{8, "offset \"3:\" has text after its number"}}},             // ':' follows '9'
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
  for (const CheckCase& c : kVolumeCases) ExpectDeviations(c, ReadStrictly(c.text, Family::kVolumes).deviations);
  EXPECT_EQ(ReadStrictly("2|-5|7|-1$", Family::kVolumes).records[0].offset, ~uint64_t{0});
}

// However many there are, the deviations kept are the first in the text.
TEST(Check, DeviationsKeptByPosition) {
  std::string text = "1|1@1|1@";  // the repeat is found at the end of the reading
  for (int i = 0; i < 110; ++i) text += "+2|1@";
  const Deviations d = ReadStrictly(text, Family::kJob).deviations;
  ASSERT_EQ(d.kept().size(), Deviations::kShown);
  EXPECT_EQ(d.kept()[0].offset, 4u) << d.kept()[0].problem;
  for (size_t i = 1; i < d.kept().size(); ++i) EXPECT_LE(d.kept()[i - 1].offset, d.kept()[i].offset);
  EXPECT_GT(d.count(), d.kept().size());
}

// For a well-formed text, whichever way it was read, the strict reading
// holds what the library restores.
TEST(Check, WellFormedTextsReadAsTheLibraryReadsThem) {
  for (const char* text : {"-Restart 1|1234567@22|7654321@333|12345678@4444|-1@1000000000|0@",
                           "5|99@6|7@7|8@8|9@9|10@10|11@11|12@", "-Restart -7|1@-3|2@"}) {
    const auto strict = ReadStrictly(text, Family::kJob);
    const auto library = jxrestart::tool::ReadByLibrary(text, Family::kJob);
    ASSERT_TRUE(strict.wellFormed()) << text;
    const std::map<int32_t, int32_t> read(strict.items.begin(), strict.items.end());
    EXPECT_EQ(read, library.volumes()) << text;
  }
}

// A text exactly as the library writes it is shown without the library
// reading it again: what is shown must be what the library shows.
TEST(Check, TextsAsWrittenShownAsTheLibraryShowsThem) {
  const std::pair<const char*, TextKind> kWritten[] = {
      {"-Restart 1|1234567@22|-7654321@333|12345678@1000000000|0@", TextKind::kJob},
      {"5|99@6|7@", TextKind::kInput},
      {"255|-7|-2147483648|-9223372036854775808$0|1|1001|0$1|9|9|9223372036854775807$", TextKind::kVolumes}};
  const jxrestart::tool::Place place{0, 12, 40};
  for (const auto& [text, kind] : kWritten) {
    const Family family = jxrestart::tool::FamilyOf(kind);
    const auto strict = ReadStrictly(text, family);
    const auto library = jxrestart::tool::ReadByLibrary(text, family);
    ASSERT_TRUE(strict.asWritten) << text;
    EXPECT_EQ(jxrestart::tool::RenderedAsWritten(text, strict), library.rendered());
    for (const std::string job : {"", "a \"job\"\xff"}) {
      const std::string* named = job.empty() ? nullptr : &job;
      const std::string file = "logs/\"x\"\x01.log";
      std::string shown(4096, 'x');  // a buffer used before, larger than what it gets
      const std::string quotedJob = jxrestart::tool::Quoted(job);
      const size_t size = jxrestart::tool::WriteLogStateAsWritten(jxrestart::tool::Quoted(file), place,
                                                                  named ? &quotedJob : nullptr, kind, text, strict, &shown);
      const auto json = jxrestart::tool::LogStateJson(file, place, named, kind, text, strict, library);
      EXPECT_EQ(shown.substr(0, size), json.dump(-1, ' ', false, jxrestart::tool::Json::error_handler_t::replace) + "\n");
    }
  }
  for (const char* text : {" -Restart 1|1@", "-Restart 01|1@", "2|1@1|1@", "1|1@1|2@", "-Restart 1|1@ "}) {
    EXPECT_FALSE(ReadStrictly(text, Family::kJob).asWritten) << text;
  }
  for (const char* text : {"0|2|1|0$0|1|1|0$", "0|1|1|-0$", "0|1|1|00$", "256|1|1|0$"}) {
    EXPECT_FALSE(ReadStrictly(text, Family::kVolumes).asWritten) << text;
  }
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
    jxrestart::tool::FindTexts(c.line, &found);
    ASSERT_EQ(found.size(), c.texts.size()) << c.line;
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].column, c.texts[i].first) << c.line;
      EXPECT_EQ(found[i].text, c.texts[i].second) << c.line;
    }
    EXPECT_EQ(found.empty() ? TextKind::kUnknown : found[0].kind, c.kind) << c.line;
  }
}

TEST(LogReader, RotatedNamesOldestFirst) {
  std::vector<std::string> names = {"job.log", "other.log", "job.log.1", "job.log.2.gz", "a.log.1"};
  EXPECT_TRUE(jxrestart::tool::OrderRotated(&names).empty());
  EXPECT_EQ(names, (std::vector<std::string>{"job.log.2.gz", "other.log", "job.log.1", "job.log", "a.log.1"}));
  // As logrotate's dateext names them; a date that is not one is no rotation.
  names = {"job.log", "app.log", "job.log-20261208.gz", "job.log-2026120721.xz", "x.log-2026-13-01",
           "job.log-20261207", "app.log-2026-12-06.bz2", "y.log-20261232", "y.log-2026120724", "y.log-202612070"};
  EXPECT_TRUE(jxrestart::tool::OrderRotated(&names).empty());
  EXPECT_EQ(names, (std::vector<std::string>{"job.log-20261207", "app.log-2026-12-06.bz2", "job.log-2026120721.xz",
                                             "job.log-20261208.gz", "x.log-2026-13-01", "job.log", "app.log",
                                             "y.log-20261232", "y.log-2026120724", "y.log-202612070"}));
  // As the kubelet rotates a container's log, to the second; and
  // logrotate's dateext to the second.
  names = {"0.log", "0.log.20261211-100000", "0.log.20261211-090000.gz", "1.log.20261311-090000",
           "j.log-20261211100000", "j.log-20261211095959"};
  EXPECT_TRUE(jxrestart::tool::OrderRotated(&names).empty());
  EXPECT_EQ(names, (std::vector<std::string>{"0.log.20261211-090000.gz", "0.log.20261211-100000", "0.log",
                                             "1.log.20261311-090000", "j.log-20261211095959", "j.log-20261211100000"}));
  names = {"a.log.1", "a.log.4.gz"};
  EXPECT_EQ(jxrestart::tool::OrderRotated(&names),
            (std::vector<std::string>{"a.log.2 to a.log.3 are missing between a.log.4.gz and a.log.1"}));
}

}  // namespace

namespace {

// The front of a text read as atoll reads it, saturated beyond 64 bits:
// the log reader's guess at the first volume of a cut line's rest.
// Each form of line: the texts it holds, the process that wrote it and
// when, as its recogniser reads them.
struct FormCase {
  std::string line;
  std::string texts;  // joined with spaces
  std::string process;
  double time;
};

const FormCase kForms[] = {
    {R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"1796904000500000","_PID":"7","MESSAGE":"-Restart 1|1@"})",
     "-Restart 1|1@", "[7]", 1796904000.5},
    {R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"soon","MESSAGE":"-Restart 1|1@"})", "-Restart 1|1@", "", -1},
    {R"({"__CURSOR":"s","__REALTIME_TIMESTAMP":"17969040005000001234","MESSAGE":"x"})", "", "", -1},
    {R"({"__CURSOR":"s","PRIORITY":6,"MESSAGE":"-Restart 1|2@","__REALTIME_TIMESTAMP":"1000000"})", "-Restart 1|2@", "",
     1},
    {R"({"__CURSOR":"s","MESSAGE":"-Restart 1|3@"x})", R"(-Restart 1|3@"x})", "", -1},
    {R"({"__CURSOR":"s","MESSAGE)", "", "", -1},
    {R"({"__CURSOR":"s","_PID":"9"})", "", "", -1},
    {R"({"__CURSOR":"s"  ,"MESSAGE":"-Restart 1|4@"})", "-Restart 1|4@", "", -1},
    // journalctl writes the members in any order; without __CURSOR, a
    // flat object is no entry, and each of its strings is searched.
    {R"({"_PID":"7","MESSAGE":"-Restart 1|9@","SYSLOG_IDENTIFIER":"job","__CURSOR":"s"})", "-Restart 1|9@", "job[7]", -1},
    {R"({"MESSAGE":"-Restart 1|10@","_CMDLINE":"-Restart 7|7@"})", "-Restart 1|10@ -Restart 7|7@", "", -1},
    {R"({"_PID":"7","_LINE_BREAK":"line-max","MESSAGE":"-Restart 1|1@","__CURSOR":"s"})", "", "[7]", -1},
    {R"({"log":"-Restart 1|5@\n","stream":"stderr","time":"2026-12-10T12:00:00Z"})", "-Restart 1|5@", "stderr",
     1796904000},
    {R"({"log": "-Restart 1|6@\n", "stream": "stdout", "time": "2026-12-10T12:00:01Z"})", "-Restart 1|6@", "stdout",
     1796904001},
    {"2026-12-10T12:00:02Z stdout F -Restart 1|7@", "-Restart 1|7@", "stdout", 1796904002},
    {"2026-12-10 12:00:03 host job[4]: -Restart 1|8@", "-Restart 1|8@", "job[4]", 1796904003},
};

TEST(LogReader, ReadsEachFormOfLine) {
  jxrestart::tool::JobPattern pattern;
  jxrestart::tool::JobPattern::Matches matches(pattern);
  jxrestart::tool::LineTexts t;
  for (const FormCase& c : kForms) {
    jxrestart::tool::ReadLine(c.line, pattern, &matches, &t);
    std::string texts;
    for (const auto& found : t.found) texts += (texts.empty() ? "" : " ") + std::string(found.text);
    EXPECT_EQ(texts, c.texts) << c.line;
    EXPECT_EQ(t.process, c.process) << c.line;
    EXPECT_DOUBLE_EQ(t.time, c.time) << c.line;
  }
}

TEST(LogReader, LeadingTimesAsIso8601WritesThem) {
  const std::pair<const char*, double> kTimes[] = {
      {"1970-01-01T00:00:00", 0},
      {"2026-12-10T12:00:00Z stdout F x", 1796904000},
      {"2026-12-10 12:00:00.25+01:00", 1796904000 - 3600 + 0.25},
      {"2026-12-10T12:00:00,5-0130", 1796904000 + 5400 + 0.5},
      {"2000-02-29T23:59:60", 951868800},  // a leap second: the next day
      {"2026-12-10T12:00:00+01", 1796904000},  // a zone of hours alone is not read
      {"2026-12-10T12:00:00.", 1796904000},
      {"2026-13-01T00:00:00", -1},   {"2026-00-01T00:00:00", -1},  {"2026-12-00T00:00:00", -1},
      {"2026-12-32T00:00:00", -1},   {"2026-12-10T24:00:00", -1},  {"2026-12-10T12:60:00", -1},
      {"2026-12-10T12:00:61", -1},   {"2026/12-10T12:00:00", -1},  {"2026-12/10T12:00:00", -1},
      {"2026-12-10_12:00:00", -1},   {"2026-12-10T12-00:00", -1},  {"2026-12-10T12:00-00", -1},
      {"2026-1x-10T12:00:00", -1},   {"2026-12-1xT12:00:00", -1},  {"2026-12-10T1x:00:00", -1},
      {"2026-12-10T12:0x:00", -1},   {"2026-12-10T12:00:0x", -1},
      {"2026-12-10T12:00", -1},
      {"Dec 10 12:00:01 host job[1]:", -1},
      {"", -1},
  };
  for (const auto& [text, seconds] : kTimes) EXPECT_DOUBLE_EQ(jxrestart::tool::LeadingTime(text), seconds) << text;
}

TEST(Numbers, LeadingNumberAsAtollReadsIt) {
  const std::pair<const char*, int64_t> kCases[] = {
      {"", 0},
      {" \t12|4@", 12},
      {"-5|1", -5},
      {"+7", 7},
      {"x1", 0},
      {"-", 0},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-9223372036854775809", INT64_MIN},
      {"123456789012345678901234", INT64_MAX},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(jxrestart::tool::LeadingNumber(c.first), c.second) << c.first;
    EXPECT_EQ(jxrestart::tool::LeadingNumber(c.first), std::atoll(c.first)) << c.first;
  }
}

}  // namespace

namespace {

// The history alone, fed lines as the engine hands them on: the deviations
// it tells its listener, and the jobs it finds.
class Recorder : public jxrestart::tool::HistoryListener {
 public:
  void Found(const jxrestart::tool::Place&, const jxrestart::tool::FoundText&, const jxrestart::tool::StrictReading&,
             const std::string&) override {}
  void Deviate(const jxrestart::tool::Place& place, size_t, const std::string& problem,
               const std::string& effect) override {
    said += std::to_string(place.line) + ": " + problem + "; " + effect + "\n";
  }
  std::string said;
};

struct HistoryCase {
  const char* name;
  std::vector<std::string> lines;  // one file; "" ends a file and starts the next
  size_t jobs;
  std::vector<std::string> said;  // each in what the listener was told, in order; none: nothing
};

const HistoryCase kHistories[] = {
    {"one job going on", {"-Restart 1|1@2|1@", "-Restart 1|2@2|1@", "1|1@2|1@", "-Restart 1|2@2|2@"}, 1, {}},
    {"going back with no restart", {"-Restart 1|5@", "-Restart 1|3@"}, 1, {"2: does not continue a:1: volume 1 goes back from 5 to 3"}},
    {"jobs of disjoint volumes", {"-Restart 1|1@", "-Restart 7|1@", "-Restart 1|2@", "-Restart 7|2@"}, 2, {}},
    {"volumes lost", {"-Restart 1|1@2|1@", "-Restart 1|2@"}, 1, {"it lacks 1 of the 2 volumes; a line cut short?"}},
    {"a break at a file's boundary", {"-Restart 1|5@", "", "-Restart 1|3@"}, 1, {"b was read after a: files given out of order"}},
    {"two processes alternating",
     {"host job[1]: -Restart 1|1@", "host job[2]: -Restart 1|2@", "host job[1]: -Restart 1|3@"},
     1,
     {"2: process job[2] goes on from the state of process job[1] at a:1",
      "3: process job[1] goes on from the state of process job[2] at a:2"}},
    {"a new process from a restart input",
     {"host job[1]: -Restart 1|1@", "host job[2]: X: Input from JM = 1|1@", "host job[2]: -Restart 1|2@"}, 1, {}},
    {"a line's last text before a space and a CR: not cut", {"-Restart 1|1@2|1@ \r", "3|1@"}, 1, {}},
    {"a line that only repeats the last volume: not its rest", {"-Restart 1|1@2|1@", "2|5@"}, 1, {}},
    {"a line that goes on past the last volume", {"-Restart 1|1@2|1@", "3|5@"}, 1, {"2: the line goes on with the job restart string cut at the end of a:1"}},
    {"states alternating between a container's streams",
     {"2026-12-10T12:00:00Z stdout F -Restart 1|1@", "2026-12-10T12:00:01Z stderr F -Restart 1|2@"},
     1,
     {"2: process stderr goes on from the state of process stdout at a:1"}},
    {"journal entries named by their unit, alternating",
     {R"({"__CURSOR":"s=1","_SYSTEMD_UNIT":"copy.service","_PID":"1","MESSAGE":"-Restart 1|1@","_PID":"9"})",
      R"({"__CURSOR":"s=2","_PID":"2","_SYSTEMD_UNIT":"copy.service","MESSAGE":"-Restart 1|2@"})"},
     1,
     {"2: process copy.service[2] goes on from the state of process copy.service[1] at a:1"}},
    {"a CRI line in two records", {"2026-12-10T12:00:00Z stdout P -Restart 1|", "2026-12-10T12:00:01Z stdout F 4@"}, 1, {}},
};

TEST(History, TellsJobsAndBreaksFromFoundTexts) {
  for (const HistoryCase& c : kHistories) {
    Recorder recorder;
    jxrestart::tool::History history(false, false, &recorder);
    jxrestart::tool::JobPattern pattern;
    jxrestart::tool::JobPattern::Matches matches(pattern);
    jxrestart::tool::LineTexts texts;
    history.StartFile("a");
    size_t number = 0;
    for (const std::string& line : c.lines) {
      if (line.empty()) {
        history.EndFile();
        history.StartFile("b");
        number = 0;
        continue;
      }
      jxrestart::tool::ReadLine(line, pattern, &matches, &texts);
      history.Take(&texts, ++number);
    }
    history.EndFile();
    EXPECT_EQ(history.jobs().size(), c.jobs) << c.name;
    size_t at = 0;
    for (const std::string& expected : c.said) {
      at = recorder.said.find(expected, at);
      EXPECT_NE(at, std::string::npos) << c.name << ": no \"" << expected << "\" in\n" << recorder.said;
    }
    if (c.said.empty()) {
      EXPECT_EQ(recorder.said, "") << c.name;
    }
  }
}

}  // namespace
