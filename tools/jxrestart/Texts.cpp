// Reading the texts a command is given, and reporting on them.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/jxrestart/Texts.h"

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

// The lines of `bytes` that are not blank, without their line ends.
std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  for (size_t start = 0; start <= bytes.size();) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (end < bytes.size() && !line.empty() && line.back() == '\r') line.pop_back();
    if (!IsBlank(line)) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

int Fail(int status, const std::string& message) {
  Warn(message);
  return status;
}

void Warn(const std::string& message) { std::cerr << "jxrestart: " << message << '\n'; }

std::string Plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool ReadText(const Source& source, bool stateFiles, Text* text) {
  if (source.kind == Source::kArgument) {
    *text = {"text", source.value, "", false, true};
  } else {
    const bool isStdin = source.kind == Source::kStdin;
    text->name = isStdin ? "standard input" : source.value;
    if (isStdin && ::isatty(STDIN_FILENO)) Warn("reading standard input; end it with Ctrl-D");
    std::FILE* file = isStdin ? stdin : std::fopen(source.value.c_str(), "rb");
    const int error = file == nullptr ? errno : ReadAll(file, &text->bytes);
    if (file != nullptr && !isStdin) std::fclose(file);
    if (error != 0) {
      Fail(kExitTrouble, text->name + ": " + std::strerror(error));
      return false;
    }
  }
  // A byte-order mark, as some editors write one, is read past as log reads it.
  if (text->bytes.compare(0, 3, "\xef\xbb\xbf") == 0) text->bytes.erase(0, 3);
  if (text->bytes.find('\n') == std::string::npos) return true;
  std::vector<std::string> lines = Lines(text->bytes);
  const bool stateFile = stateFiles && lines.size() == 2 && FamilyOf(KindOf(lines[0])) == Family::kJob &&
                         KindOf(lines[1]) == TextKind::kVolumes;
  if (lines.size() > 1 && !stateFile) {
    Fail(kExitTrouble,
         text->name + ": holds " + std::to_string(lines.size()) + " lines, and this command reads one text" +
             (stateFiles ? " or a state file (a job restart string, then a volume restart string)" : "") +
             " (for a job log, use 'jxrestart log')");
    return false;
  }
  // A state file is written whole, its last line ended: one that is not was
  // torn while it was written.
  if (stateFile && text->bytes.back() != '\n') {
    Fail(kExitTrouble, text->name + ": the state file stops at byte " + std::to_string(text->bytes.size()) +
                           " with no line end (torn while it was written?)");
    return false;
  }
  text->bytes = lines.empty() ? std::string() : std::move(lines[0]);
  text->stateFile = stateFile;
  if (stateFile) text->second = std::move(lines[1]);
  return true;
}

void ReportDeviations(const std::string& name, const Deviations& deviations) {
  for (const Deviation& d : deviations.kept()) {
    Warn(name + ": byte " + std::to_string(d.offset + 1) + ": " + d.problem + "; " + d.effect);
  }
  const size_t more = deviations.count() - deviations.kept().size();
  if (more > 0) Warn(name + ": " + Plural(more, "more deviation", "more deviations"));
}

int StatusFor(const Invocation& invocation, const std::string& name, const Deviations& deviations, int strict) {
  if (deviations.empty()) return kExitOk;
  Warn(name + (invocation.lenient ? ": not well formed; accepted as the library reads it (--lenient)"
                                     : ": not well formed (--lenient accepts what the library accepts)"));
  return invocation.lenient ? kExitOk : strict;
}

int NotOneText(const Text& text, const std::string& command) {
  if (text.bytes.find_first_not_of(' ') == std::string::npos) {
    return Fail(kExitTrouble, text.name + ": the text is " + (text.bytes.empty() ? "empty" : "only spaces"));
  }
  const bool items = text.bytes.find(TerminatorOf(Family::kJob)) != std::string::npos;
  const bool records = text.bytes.find(TerminatorOf(Family::kVolumes)) != std::string::npos;
  if (items && records) {
    return Fail(kExitTrouble, text.name +
                                  ": holds a job restart string and a volume restart string (a line of a job log?); "
                                  "'jxrestart log -' reads such lines");
  }
  return Fail(kExitTrouble, text.name +
                                ": neither a job restart string ('-Restart ', items closed by '@') nor a volume "
                                "restart string (records closed by '$'); use 'jxrestart job " +
                                command + "' or 'jxrestart volumes " + command + "'");
}

bool WrongKind(const Text& text, Family family, const char* action) {
  const TextKind kind = KindOf(text.bytes);
  if (kind == TextKind::kUnknown || FamilyOf(kind) == family) return false;
  Fail(kExitTrouble, text.name + ": this is a " + KindName(kind) + "; use 'jxrestart " +
                         (kind == TextKind::kVolumes ? "volumes " : "job ") + action + "'");
  return true;
}

void HintQuoting(const Text& text, Family family, const StrictReading& strict) {
  if (!text.typed || family != Family::kVolumes || strict.wellFormed()) return;
  bool eaten = false;
  for (const Deviation& d : strict.deviations.kept()) {
    eaten |= d.problem.rfind("a record with more than four fields", 0) == 0;
  }
  for (const char* shell : {"bash", "zsh", "dash", "ksh", "sh"}) {
    for (size_t at = text.bytes.find(shell); at != std::string::npos && !eaten; at = text.bytes.find(shell, at + 1)) {
      eaten = at > 0 && text.bytes[at - 1] >= '0' && text.bytes[at - 1] <= '9';
    }
  }
  if (eaten) {
    Warn(text.name +
                ": typed in double quotes? The shell takes each '$' and the character after it (\"$1\" is empty, "
                "\"$0\" the shell's name): put a volume restart string in single quotes");
  }
}

}  // namespace tool
}  // namespace jxrestart
