// log: a pipeline of parts. Each file is a source of blocks of lines
// (Source.h), read by the engine (Engine.h), each line's texts found by
// the recognisers (Recognisers.h) and read strictly, then taken in order
// into the history of jobs (History.h), whose report is printed
// (Report.h). Memory is bounded by the longest line and the number of
// volumes, never by the size of the logs.
#include "tools/jxrestart/log/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "tools/jxrestart/Texts.h"
#include "tools/jxrestart/log/Engine.h"
#include "tools/jxrestart/log/Report.h"

namespace jxrestart {
namespace tool {

namespace {

// Reads one source into the history, or says why it cannot.
void ReadSource(const Source& source, const Invocation& invocation, const JobPattern& pattern, History* history,
                Report* report) {
  const bool isStdin = source.kind == Source::kStdin;
  const std::string name = isStdin ? "standard input" : source.value;
  const int fd = isStdin ? STDIN_FILENO : ::open(source.value.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return report->Unreadable(name, std::strerror(errno));
  LogSource lines(fd);
  const size_t linesBefore = history->lines();
  if (lines.leadingNuls() > 0) {
    Warn(name + ": begins with " + Plural(lines.leadingNuls(), "NUL byte", "NUL bytes") +
         " (a live log truncated while its writer went on?), skipped; the lines after them are read");
  }
  if (!invocation.binary && lines.LooksBinary()) {
    report->Unreadable(name, "binary file (NUL bytes near its start), skipped (--binary reads it)");
  } else {
    history->StartFile(name);
    const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    const bool whole = ReadLines(&lines, pattern, threads, [history](LineTexts* t, size_t n) { history->Take(t, n); });
    history->EndFile();
    if (!whole) {
      report->Unreadable(name, "cut to " + std::to_string(lines.ValidUpTo()) +
                                   " bytes while it was read (a log rotated by truncating it?); the lines "
                                   "before the cut were read");
    }
  }
  if (!lines.error().empty()) {
    report->Unreadable(name, lines.error() + (history->lines() > linesBefore ? "; the lines before were read" : ""));
  }
  if (!isStdin) ::close(fd);
}

// Writes the picture to `path` ("-": standard output); a failure is
// reported and makes the status 2, the text report printed all the same.
int WritePicture(const std::string& path, const std::string& picture, int status) {
  if (path == "-") {
    std::cout << picture;
    return status;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!(out << picture) || !out.flush()) return Fail(kExitTrouble, path + ": " + std::strerror(errno));
  return status;
}

}  // namespace

int Log(const Invocation& invocation) {
  JobPattern pattern;
  if (!invocation.job.empty()) {
    const std::string error = pattern.Compile(invocation.job);
    if (!error.empty()) return Fail(kExitTrouble, error);
  }
  // Rotated logs given together are read oldest first.
  std::vector<std::string> files;
  for (const Source& s : invocation.sources) {
    if (s.kind == Source::kFile) files.push_back(s.value);
  }
  const std::vector<std::string> gaps = OrderRotated(&files);
  Report report(invocation);
  for (const std::string& gap : gaps) report.Missing(gap + " (a rotated file not given, or lost?)");
  History history(pattern.active(), pattern.named(), &report);
  report.Watch(&history);
  // With the picture on standard output, the text report goes to standard error.
  std::streambuf* const output = invocation.svg == "-" ? std::cout.rdbuf(std::cerr.rdbuf()) : nullptr;
  size_t next = 0;
  for (const Source& source : invocation.sources) {
    ReadSource(source.kind == Source::kFile ? Source{Source::kFile, files[next++]} : source, invocation, pattern,
               &history, &report);
  }
  const int status = report.Finish(&history);
  if (output != nullptr) std::cout.rdbuf(output);
  return invocation.svg.empty() ? status : WritePicture(invocation.svg, report.picture(), status);
}

}  // namespace tool
}  // namespace jxrestart
