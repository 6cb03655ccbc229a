// Reading the texts a command is given, and reporting on them.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/jxrestart/Command.h"
#include "tools/jxrestart/Json.h"

namespace jxrestart {
namespace tool {

namespace {

// Reads all of `file`; returns errno's value on failure, 0 on success.
int ReadAll(std::FILE* file, std::string* bytes) {
  char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes->append(buffer, got);
  return std::ferror(file) ? (errno ? errno : EIO) : 0;
}

bool IsBlank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

// Keeps the one non-empty line of `bytes` without its line end ("\n" or
// "\r\n"); returns how many non-empty lines there were.
size_t KeepOneLine(std::string* bytes) {
  size_t lines = 0;
  std::string kept;
  for (size_t start = 0; start <= bytes->size();) {
    size_t end = bytes->find('\n', start);
    if (end == std::string::npos) end = bytes->size();
    std::string line = bytes->substr(start, end - start);
    if (end < bytes->size() && !line.empty() && line.back() == '\r') line.pop_back();
    if (!IsBlank(line) && lines++ == 0) kept = std::move(line);
    start = end + 1;
  }
  if (lines <= 1 && bytes->find('\n') != std::string::npos) bytes->swap(kept);
  return lines;
}

}  // namespace

int Fail(int status, const std::string& message) {
  std::cerr << "jxrestart: " << message << '\n';
  return status;
}

bool ReadTexts(const std::vector<Source>& sources, std::vector<Text>* texts) {
  for (const Source& source : sources) {
    Text text;
    if (source.kind == Source::kArgument) {
      text = {"text", source.value};
    } else {
      const bool isStdin = source.kind == Source::kStdin;
      text.name = isStdin ? "standard input" : source.value;
      std::FILE* file = isStdin ? stdin : std::fopen(source.value.c_str(), "rb");
      const int error = file == nullptr ? errno : ReadAll(file, &text.bytes);
      if (file != nullptr && !isStdin) std::fclose(file);
      if (error != 0) {
        Fail(kExitTrouble, text.name + ": " + std::strerror(error));
        return false;
      }
    }
    const size_t lines = KeepOneLine(&text.bytes);
    if (lines > 1) {
      Fail(kExitTrouble, text.name + ": holds " + std::to_string(lines) +
                             " lines, and this command reads one text (for a job log or a state file, use "
                             "'jxrestart log')");
      return false;
    }
    texts->push_back(std::move(text));
  }
  return true;
}

void ReportDeviations(const std::string& name, const Deviations& deviations) {
  size_t shown = 0;
  for (const Deviation& d : deviations.kept()) {
    if (shown++ == kShownDeviations) break;
    Fail(0, name + ": byte " + std::to_string(d.offset + 1) + ": " + d.problem + "; " + d.effect);
  }
  if (deviations.count() > kShownDeviations) {
    Fail(0, name + ": " + std::to_string(deviations.count() - kShownDeviations) + " more deviations");
  }
}

int ReportCheck(const Invocation& invocation, const Text& text, const char* kind, const Deviations& deviations) {
  const bool wellFormed = deviations.empty();
  if (invocation.json) {
    std::cout << Json{{"kind", kind}, {"wellFormed", wellFormed}, {"deviations", DeviationsJson(deviations)}}.dump(2)
              << '\n';
  } else {
    ReportDeviations(text.name, deviations);
    if (!wellFormed) Fail(0, text.name + ": not a well-formed " + kind);
  }
  return wellFormed ? kExitOk : kExitInvalid;
}

int StatusFor(const Invocation& invocation, const std::string& name, const Deviations& deviations, int strict) {
  if (deviations.empty()) return kExitOk;
  Fail(0, name + (invocation.lenient ? ": not well formed; accepted as the library reads it (--lenient)"
                                     : ": not well formed (--lenient accepts what the library accepts)"));
  return invocation.lenient ? kExitOk : strict;
}

bool WrongKind(const Text& text, bool forJob, const char* action) {
  const TextKind kind = KindOf(text.bytes);
  const bool volumes = kind == TextKind::kVolumes;
  if (kind == TextKind::kUnknown || volumes != forJob) return false;
  Fail(kExitTrouble, text.name + ": this is a " + KindName(kind) + "; use 'jxrestart " +
                         (volumes ? "volumes " : "job ") + action + "'");
  return true;
}

}  // namespace tool
}  // namespace jxrestart
