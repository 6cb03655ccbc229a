// The jxrestart tool's log reader on any log: every text it finds stands
// in its line where it says; every deviation of a state lies inside its
// line; there is one summary per job; and the last state a job's summary
// shows is the library's reading of a state line of the log; its picture
// is a whole document of less than 2 MB.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "tools/jxrestart/log/Log.h"
#include "tools/jxrestart/log/Recognisers.h"

namespace tool = jxrestart::tool;
using Json = nlohmann::json;

namespace {

void CheckTexts(const std::string& log) {
  std::vector<tool::FoundText> found;
  for (size_t start = 0; start <= log.size();) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    found.clear();
    tool::FindTexts(std::string_view(log).substr(start, end - start), &found);
    for (const tool::FoundText& text : found) {
      FUZZ_CHECK(text.column >= 1 && log.compare(start + text.column - 1, text.text.size(), text.text) == 0);
    }
    start = end + 1;
  }
}

// Runs `jxrestart log --json` on the log; returns its JSON lines.
std::vector<Json> LogJson(const std::string& log) {
  static const std::string path = "/tmp/jxrestart-log-fuzz." + std::to_string(::getpid());
  std::ofstream(path, std::ios::binary) << log;
  tool::Invocation invocation;
  invocation.json = true;
  invocation.all = true;
  invocation.sources.push_back({tool::Source::kFile, path});
  invocation.svg = path + ".svg";
  std::ostringstream out, err;
  std::streambuf* cout = std::cout.rdbuf(out.rdbuf());
  std::streambuf* cerr = std::cerr.rdbuf(err.rdbuf());
  tool::Log(invocation);
  std::cout.rdbuf(cout);
  std::cerr.rdbuf(cerr);
  // The picture is a whole document, and a small one.
  std::ifstream drawn(invocation.svg, std::ios::binary);
  const std::string svg((std::istreambuf_iterator<char>(drawn)), std::istreambuf_iterator<char>());
  FUZZ_CHECK(svg.compare(0, 5, "<?xml") == 0 && svg.size() > 7 && svg.compare(svg.size() - 7, 7, "</svg>\n") == 0);
  FUZZ_CHECK(svg.size() < (2u << 20));
  std::vector<Json> lines;
  std::istringstream in(out.str());
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string log(reinterpret_cast<const char*>(data), size);
  CheckTexts(log);
  const std::vector<Json> lines = LogJson(log);
  FUZZ_CHECK(!lines.empty() && lines.back().contains("summary"));
  // The states, each job's summary, then the summary of all.
  size_t states = 0;
  while (states < lines.size() && lines[states].contains("line")) ++states;
  FUZZ_CHECK(states < lines.size() && lines.back()["summary"]["jobs"] == lines.size() - states - 1);
  for (size_t i = 0; i < states; ++i) {
    for (const Json& d : lines[i]["deviations"]) FUZZ_CHECK(d["line"] == lines[i]["line"]);
  }
  for (size_t j = states; j + 1 < lines.size(); ++j) {
    FUZZ_CHECK(lines[j].contains("job"));
    const Json& last = lines[j]["job"]["lastJobRestartString"];
    if (last.is_null()) continue;
    bool shown = false;
    for (size_t i = 0; i < states; ++i) {
      const Json& state = lines[i];
      shown |= state["line"] == last["line"] && state.contains("volumes") && state["restartString"] == last["restartString"];
    }
    FUZZ_CHECK(shown);
  }
  return 0;
}
