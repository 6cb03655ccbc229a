// "log": the restart texts of job logs, read line by line. Memory is bounded
// by the longest line and the number of volumes, never by the log's size.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/LogReader.h"
#include "tools/jxrestart/Reading.h"
#include "tools/jxrestart/Table.h"

namespace jxrestart {
namespace tool {

namespace {

// At most this many deviations are printed for a whole log; the rest are
// counted.
constexpr size_t kShownInLog = 50;

struct Place {
  std::string file;
  size_t line = 0;
  size_t column = 0;  // of the text's first byte
  std::string Name() const { return file + ":" + std::to_string(line); }
};

// The last text of one kind, and how many the log holds.
struct Last {
  size_t count = 0;
  std::string text;
  Place place;
};

std::string Plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

class LogReport {
 public:
  explicit LogReport(const Invocation& invocation) : invocation_(invocation) {}

  void Add(const Place& place, const FoundText& found) {
    const int kind = static_cast<int>(found.kind);
    Last& last = last_[kind];
    ++last.count;
    last.text = found.text;
    last.place = place;
    const LogState state = StateOf(found);
    Report(place, state.deviations);
    if (state.read) (found.kind == TextKind::kVolumes ? sources_ : volumes_).Add(state.offsets);
    if (invocation_.json) {
      PrintJson(place, found, state);
    } else if (invocation_.all) {
      std::cout << place.Name() << ": " << KindName(found.kind) << ": " << Rendered(found) << '\n';
    }
  }

  // Prints the summary; returns the exit status.
  int Finish(size_t lines) {
    const size_t found = last_[0].count + last_[1].count + last_[2].count;
    if (deviations_ > shown_) Fail(0, Plural(deviations_ - shown_, "more deviation", "more deviations") + " not shown");
    if (found == 0) return Fail(kExitInvalid, "no restart string found in " + Plural(lines, "line", "lines"));
    if (!invocation_.json && !invocation_.all) PrintSummary(lines);
    if (deviations_ == 0) return kExitOk;
    Fail(0, Plural(deviations_, "deviation", "deviations") +
                (invocation_.lenient ? "; accepted as the library reads them (--lenient)"
                                     : "; the states are shown as the library reads them (--lenient accepts them)"));
    return invocation_.lenient ? kExitOk : kExitInvalid;
  }

 private:
  void Report(const Place& place, const Deviations& deviations) {
    deviations_ += deviations.count();
    for (const Deviation& d : deviations.kept()) {
      if (shown_ == kShownInLog) break;
      ++shown_;
      Fail(0, place.Name() + ":" + std::to_string(place.column + d.offset) + ": " + d.problem + "; " + d.effect);
    }
  }

  // The text as the library renders it, or why it renders nothing.
  static std::string Rendered(const FoundText& found) {
    if (found.kind == TextKind::kVolumes) {
      const VolumeState state = ReadVolumes(found.text);
      return state.restartString.empty() ? "(the library refuses it)" : state.restartString;
    }
    JobState state;
    return ReadJob(found.text, &state) ? state.restartString : "(no volume)";
  }

  void PrintJson(const Place& place, const FoundText& found, const LogState& state) const {
    Json json{{"file", place.file},
              {"line", place.line},
              {"column", place.column},
              {"kind", KindName(found.kind)},
              {"text", found.text},
              {"wellFormed", state.deviations.empty()},
              {"deviations", DeviationsJson(state.deviations, place.line, place.column)}};
    if (found.kind == TextKind::kVolumes) {
      const VolumeState library = ReadVolumes(found.text);
      json["records"] = library.valid ? RecordsJson(library.records) : Json::array();
      json["restartString"] = library.restartString.empty() ? Json() : Json(library.restartString);
    } else {
      JobState library;
      const bool read = ReadJob(found.text, &library);
      json["volumes"] = VolumesJson(library.offsets);
      json["restartString"] = read ? Json(library.restartString) : Json();
    }
    std::cout << json.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  }

  void PrintLast(TextKind kind, const char* counted) const {
    const Last& last = last_[static_cast<int>(kind)];
    if (last.count == 0) return;
    std::cout << "\nlast " << KindName(kind) << " (" << last.place.Name() << ", " << counted << "):\n"
              << Rendered({kind, last.text, 0}) << '\n';
  }

  void PrintSummary(size_t lines) const {
    const size_t jobs = last_[static_cast<int>(TextKind::kJob)].count;
    const size_t inputs = last_[static_cast<int>(TextKind::kInput)].count;
    const size_t volumes = last_[static_cast<int>(TextKind::kVolumes)].count;
    std::cout << Plural(lines, "line", "lines") << ": " << Plural(jobs, "job restart string", "job restart strings")
              << ", " << Plural(inputs, "restart input", "restart inputs") << " ("
              << Plural(inputs, "restart", "restarts") << "), "
              << Plural(volumes, "volume restart string", "volume restart strings") << '\n';
    PrintLast(TextKind::kJob, Plural(jobs, "state", "states").c_str());
    PrintLast(TextKind::kInput, Plural(inputs, "restart", "restarts").c_str());
    PrintLast(TextKind::kVolumes, Plural(volumes, "state", "states").c_str());
    PrintProgress(volumes_, {"volume", "first offset", "last offset"});
    PrintProgress(sources_, {"source", "first offset", "last offset"});
  }

  static void PrintProgress(const Progress& progress, std::vector<std::string> header) {
    if (progress.empty()) return;
    std::cout << '\n';
    Table table(std::move(header));
    for (const Progress::Entry& e : progress.Sorted()) {
      table.Add({std::to_string(e.key), std::to_string(e.first), std::to_string(e.last)});
    }
    table.Print(std::cout);
  }

  const Invocation& invocation_;
  Last last_[3];      // by TextKind: job, input, volumes
  Progress volumes_;  // over job restart strings and restart inputs
  Progress sources_;  // over volume restart strings
  size_t deviations_ = 0;
  size_t shown_ = 0;
};

// Reads `file` line by line into `report`. Returns errno's value on
// failure, 0 on success.
int ReadLog(std::FILE* file, const std::string& name, LogReport* report, size_t* lines) {
  char* line = nullptr;
  size_t capacity = 0;
  std::vector<FoundText> found;
  Place place;
  place.file = name;
  for (ssize_t length; (length = ::getline(&line, &capacity, file)) >= 0;) {
    ++place.line;
    size_t size = static_cast<size_t>(length);
    if (size > 0 && line[size - 1] == '\n') --size;
    found.clear();
    FindTexts(line, size, &found);
    for (const FoundText& text : found) {
      place.column = text.column;
      report->Add(place, text);
    }
  }
  const int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
  std::free(line);
  *lines += place.line;
  return error;
}

}  // namespace

int Log(const Invocation& invocation, const std::vector<Text>&) {
  std::vector<Source> sources = invocation.sources;
  if (sources.empty()) sources.push_back({Source::kStdin, ""});
  LogReport report(invocation);
  size_t lines = 0;
  for (const Source& source : sources) {
    const bool isStdin = source.kind == Source::kStdin;
    const std::string name = isStdin ? "standard input" : source.value;
    std::FILE* file = isStdin ? stdin : std::fopen(source.value.c_str(), "rb");
    const int error = file == nullptr ? errno : ReadLog(file, name, &report, &lines);
    if (file != nullptr && !isStdin) std::fclose(file);
    if (error != 0) return Fail(kExitTrouble, name + ": " + std::strerror(error));
  }
  return report.Finish(lines);
}

}  // namespace tool
}  // namespace jxrestart
