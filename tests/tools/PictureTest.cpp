// `jxrestart log --svg`, read back for what it says: each document is
// parsed as XML, and its points, restart marks, shaded bands, bars and
// deviations are read from their data- attributes and held to the log.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace {

using jxrestart::testing::ProgramResult;
using jxrestart::testing::RunProgram;

std::string Folder() {
  static const std::string folder = [] {
    std::string path = ::testing::TempDir() + "/jxrestart-picture.XXXXXX";
    return std::string(::mkdtemp(&path[0]) ? path : "/tmp");
  }();
  return folder;
}

// The document as XML, and the values of one attribute of the elements an
// XPath expression finds, joined with spaces.
class Document {
 public:
  explicit Document(const std::string& text)
      : doc_(xmlReadMemory(text.data(), static_cast<int>(text.size()), "picture.svg", nullptr, XML_PARSE_NONET)) {}
  ~Document() { xmlFreeDoc(doc_); }
  bool parsed() const { return doc_ != nullptr; }

  std::string Values(const std::string& path, const char* attribute) const {
    xmlXPathContextPtr context = xmlXPathNewContext(doc_);
    xmlXPathRegisterNs(context, BAD_CAST "s", BAD_CAST "http://www.w3.org/2000/svg");
    xmlXPathObjectPtr found = xmlXPathEvalExpression(BAD_CAST path.c_str(), context);
    std::string values;
    for (int i = 0; found != nullptr && found->nodesetval != nullptr && i < found->nodesetval->nodeNr; ++i) {
      xmlChar* value = xmlGetProp(found->nodesetval->nodeTab[i], BAD_CAST attribute);
      values += (values.empty() ? "" : " ") + std::string(value ? reinterpret_cast<char*>(value) : "-");
      xmlFree(value);
    }
    xmlXPathFreeObject(found);
    xmlXPathFreeContext(context);
    return values;
  }
  size_t Count(const std::string& path) const {
    const std::string values = Values(path, "class");
    return values.empty() ? 0 : static_cast<size_t>(std::count(values.begin(), values.end(), ' ')) + 1;
  }

 private:
  xmlDocPtr doc_;
};

struct PictureCase {
  const char* name;
  std::string log;
  std::string sums;        // data-sum of each state drawn
  std::string restarts;    // data-saved:data-recopied of each restart mark
  std::string bands;       // data-from:data-to of each shaded band
  std::string bars;        // data-volume=data-offset of each bar
  std::string barRestarts; // data-restarts of each bar
  std::string deviating;   // data-volume of each volume listed as deviating
  size_t deviations;       // entries in the caption
};

std::string Pairs(const Document& d, const std::string& path, const char* a, const char* b, char glue) {
  std::string out;
  std::string first = d.Values(path, a), second = d.Values(path, b);
  for (size_t i = 0, j = 0; i < first.size() || j < second.size();) {
    const size_t ie = std::min(first.find(' ', i), first.size()), je = std::min(second.find(' ', j), second.size());
    out += (out.empty() ? "" : " ") + first.substr(i, ie - i) + glue + second.substr(j, je - j);
    i = ie + 1, j = je + 1;
  }
  return out;
}

const std::string kInput = "JxRestartability::ParseRestartInputFromJM: Input from JM = ";

const PictureCase kCases[] = {
    {"a job restarted from less than it had reached",
     "-Restart 1|1@2|1@\n-Restart 1|4@2|4@\n" + kInput + "1|2@2|2@\n-Restart 1|5@2|5@\n",
     "2 8 4 10", "4:4", "4:8", "1=5 2=5", "1 1", "", 0},
    {"one state", "-Restart 7|3@\n", "3", "", "", "7=3", "0", "", 0},
    {"only restart inputs", kInput + "1|2@\n" + kInput + "1|2@\n", "2 2", "2:0 2:0", "", "1=2", "2", "", 0},
    {"a volume that goes back with no restart",
     "-Restart 1|5@2|5@\n-Restart 1|6@2|3@\n", "10 9", "", "", "1=6 2=3", "0 0", "2", 1},
    {"volume records: bytes, offsets near 2^63",
     "0|1|1001|9223372036854775000$0|2|1002|9223372036854775000$\n", "18446744073709550000", "", "",
     "1=9223372036854775000 2=9223372036854775000", "0 0", "", 0},
    {"negative offsets", "-Restart 1|-5@2|-7@\n", "-12", "", "", "1=-5 2=-7", "0 0", "", 0},
    {"no job", "nothing here\n", "", "", "", "", "", "", 0},
};

TEST(Picture, SaysWhatTheHistorySays) {
  for (const PictureCase& c : kCases) {
    const std::string log = Folder() + "/picture.log", svg = Folder() + "/picture.svg";
    std::ofstream(log, std::ios::binary) << c.log;
    const ProgramResult result = RunProgram(JXRESTART_TOOL, {"log", "--svg", svg, log});
    std::ifstream in(svg, std::ios::binary);
    const Document d(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_TRUE(d.parsed()) << c.name;
    EXPECT_EQ(d.Values("//s:circle[@class='state']", "data-sum"), c.sums) << c.name;
    EXPECT_EQ(Pairs(d, "//s:line[@class='restart']", "data-saved", "data-recopied", ':'), c.restarts) << c.name;
    EXPECT_EQ(Pairs(d, "//s:rect[@class='recopied']", "data-from", "data-to", ':'), c.bands) << c.name;
    EXPECT_EQ(Pairs(d, "//s:rect[@class='volume']", "data-volume", "data-offset", '='), c.bars) << c.name;
    EXPECT_EQ(d.Values("//s:rect[@class='volume']", "data-restarts"), c.barRestarts) << c.name;
    // The bars' heading names what they are: a job's volumes, or the records' sources.
    const std::string family = d.Values("//s:g[@class='job']", "data-family");
    const std::string heading = family == "volumes" ? "sources" : "volumes";
    EXPECT_EQ(d.Count("//s:text[starts-with(., '" + heading + " at the last state')]"), c.sums.empty() ? 0u : 1u)
        << c.name;
    EXPECT_EQ(d.Values("//s:text[@class='deviating']", "data-volume"), c.deviating) << c.name;
    EXPECT_EQ(d.Count("//s:text[@class='deviation']"), c.deviations) << c.name << result.err;
    EXPECT_EQ(d.Count("//s:text[@class='nothing']"), c.sums.empty() ? 1u : 0u) << c.name;
  }
}

// Where every line says when, the states stand at their times, in each
// form of log that says it: a stamp at the start of the line, a journal
// entry's __REALTIME_TIMESTAMP (as JSON, pretty or not, or as an export),
// a container runtime's record.
TEST(Picture, PutsStatesAtTheirTimes) {
  const std::string stamps[] = {"2026-12-10T12:00:00Z", "2026-12-10T12:00:10Z", "2026-12-10 13:00:40+01:00"};
  const char* const micros[] = {"1796904000000000", "1796904010000000", "1796904040000000"};
  const struct {
    const char* name;
    std::function<std::string(int)> line;  // state i (1 to 3), "-Restart 1|i@", at the i-th time
  } kForms[] = {
      {"plain text", [&](int i) { return stamps[i - 1] + " -Restart 1|" + std::to_string(i) + "@\n"; }},
      {"journal, -o json",
       [&](int i) {
         return std::string("{\"__CURSOR\":\"s=") + std::to_string(i) + "\",\"__REALTIME_TIMESTAMP\":\"" +
                micros[i - 1] + "\",\"MESSAGE\":\"-Restart 1|" + std::to_string(i) + "@\"}\n";
       }},
      {"journal, -o json-pretty",
       [&](int i) {
         return std::string("{\n\t\"MESSAGE\" : \"-Restart 1|") + std::to_string(i) + "@\",\n\t\"__CURSOR\" : \"s=" +
                std::to_string(i) + "\",\n\t\"__REALTIME_TIMESTAMP\" : \"" + micros[i - 1] + "\"\n}\n";
       }},
      {"journal, -o export",
       [&](int i) {
         return "__CURSOR=s=" + std::to_string(i) + "\n__REALTIME_TIMESTAMP=" + micros[i - 1] +
                "\nMESSAGE=-Restart 1|" + std::to_string(i) + "@\n\n";
       }},
      {"docker json-file",
       [&](int i) {
         const char* const times[] = {"2026-12-10T12:00:00.0Z", "2026-12-10T12:00:10.0Z", "2026-12-10T12:00:40.0Z"};
         return std::string("{\"log\":\"-Restart 1|") + std::to_string(i) + "@\\n\",\"stream\":\"stdout\",\"time\":\"" +
                times[i - 1] + "\"}\n";
       }},
      {"CRI", [&](int i) { return "2026-12-10T12:00:" + std::string(i == 1 ? "00" : i == 2 ? "10" : "40") +
                                  ".5Z stdout F -Restart 1|" + std::to_string(i) + "@\n"; }},
  };
  for (const auto& form : kForms) {
    const std::string log = Folder() + "/timed.log", svg = Folder() + "/timed.svg";
    std::ofstream(log, std::ios::binary) << form.line(1) + form.line(2) + form.line(3);
    ASSERT_EQ(RunProgram(JXRESTART_TOOL, {"log", "--svg", svg, log}).status, 0) << form.name;
    std::ifstream in(svg, std::ios::binary);
    const Document d(std::string(std::istreambuf_iterator<char>(in), {}));
    const bool half = std::string(form.name) == "CRI";
    EXPECT_EQ(d.Values("//s:circle[@class='state']", "data-time"),
              half ? "1796904000.5 1796904010.5 1796904040.5" : "1796904000.0 1796904010.0 1796904040.0")
        << form.name;
    EXPECT_EQ(d.Values("//s:circle[@class='state']", "cx"), "110.0 325.0 970.0") << form.name;
    // Sums 1, 2, 3: a third of the plot's 240 points each, up from its axis at 290.
    EXPECT_EQ(d.Values("//s:circle[@class='state']", "cy"), "210.0 130.0 50.0") << form.name;
  }
}

// Names that XML would read as markup are escaped; a job of many volumes
// is drawn in bins, and its document stays small.
TEST(Picture, EscapesNamesAndStaysSmall) {
  std::string many = "-Restart ";
  for (int v = 1; v <= 100000; ++v) many += std::to_string(v) + "|" + std::to_string(v % 97) + "@";
  std::string log;
  for (int state = 0; state < 30; ++state) log += "job <a&\"b'>: " + many + "\n";
  const std::string path = Folder() + "/<a&b>.log", svg = Folder() + "/many.svg";
  std::ofstream(path, std::ios::binary) << log;
  const ProgramResult result = RunProgram(JXRESTART_TOOL, {"log", "--job", "job (<a&\"b'>):", "--svg", svg, path});
  std::ifstream in(svg, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  const Document d(text);
  ASSERT_TRUE(d.parsed());
  EXPECT_EQ(d.Values("//s:g[@class='job']", "data-job"), "<a&\"b'>");
  EXPECT_EQ(d.Count("//s:rect[@class='volume']"), 1000u);
  EXPECT_EQ(d.Values("//s:circle[@class='state']", "data-file").substr(0, path.size()), path);
  EXPECT_LT(text.size(), 2u << 20);
}

// A long history is thinned, and what is left out is said: states the
// drawing cannot tell apart, deviations beyond what it has room for, the
// volumes and deviations past the lists' lengths. A name with a control
// character stays well-formed XML.
TEST(Picture, ThinsALongHistoryAndSaysWhatItLeftOut) {
  std::string first, second;
  for (int state = 0; state < 5000; ++state) {
    // Every other state, one volume goes back with no restart.
    std::string line = "-Restart ";
    for (int v = 1; v <= 30; ++v) {
      const bool back = state % 2 == 1 && v == state / 2 % 30 + 1;
      line += std::to_string(v) + "|" + std::to_string(back ? state - 2 : state) + "@";
    }
    (state < 2500 ? first : second) += line + "\n";
  }
  const std::string a = Folder() + "/long\x01.log", b = Folder() + "/long-2.log", svg = Folder() + "/long.svg";
  std::ofstream(a, std::ios::binary) << first;
  std::ofstream(b, std::ios::binary) << second;
  RunProgram(JXRESTART_TOOL, {"log", "--svg", svg, a, b});
  std::ifstream in(svg, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  const Document d(text);
  ASSERT_TRUE(d.parsed());
  const size_t states = d.Count("//s:circle[@class='state']");
  EXPECT_GT(states, 2000u);
  EXPECT_LE(states, 4001u);
  EXPECT_NE(text.find("more restarts and deviations not drawn"), std::string::npos);
  EXPECT_EQ(d.Count("//s:text[@class='deviating']"), 20u);
  EXPECT_EQ(d.Count("//s:text[@class='more']"), 2u);  // volumes, and the report's deviations
  EXPECT_EQ(d.Count("//s:text[@class='file']"), 2u);
  EXPECT_NE(text.find("long?.log"), std::string::npos);
  EXPECT_LT(text.size(), 2u << 20);
}

// --svg - writes the picture alone on standard output, the text report on
// standard error; a path that cannot be written is exit 2 with the report
// printed; --svg twice is a usage error.
TEST(Picture, GoesWhereItIsSentOrSaysWhyNot) {
  const std::string log = Folder() + "/where.log";
  std::ofstream(log) << "-Restart 1|1@\n";
  const ProgramResult out = RunProgram(JXRESTART_TOOL, {"log", "--svg", "-", log});
  EXPECT_EQ(out.status, 0);
  EXPECT_TRUE(Document(out.out).parsed());
  EXPECT_NE(out.err.find("1 job state"), std::string::npos) << out.err;
  const ProgramResult unwritable = RunProgram(JXRESTART_TOOL, {"log", "--svg", Folder() + "/none/x.svg", log});
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_NE(unwritable.out.find("1 job state"), std::string::npos);
  EXPECT_NE(unwritable.err.find("none/x.svg: No such file or directory"), std::string::npos) << unwritable.err;
  const ProgramResult twice = RunProgram(JXRESTART_TOOL, {"log", "--svg", "a", "--svg", "b", log});
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("--svg is given twice"), std::string::npos);
}

// A real renderer draws it without an error.
TEST(Picture, RendersInAnSvgRenderer) {
  if (std::system("command -v rsvg-convert >/dev/null") != 0) GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
  const std::string log = Folder() + "/render.log", svg = Folder() + "/render.svg";
  std::ofstream(log) << kCases[0].log;
  ASSERT_EQ(RunProgram(JXRESTART_TOOL, {"log", "--svg", svg, log}).status, 0);
  const ProgramResult rendered = RunProgram("/bin/sh", {"-c", "rsvg-convert \"$0\" -o \"$0.png\"", svg});
  EXPECT_EQ(rendered.status, 0) << rendered.err;
}

}  // namespace
