#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/jxrestart/Command.h"

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

// "echo TEXT |" and files end their text with a line end that is not part
// of the restart string (and would push a 5-byte text over the threshold).
void DropLineEnd(std::string* bytes) {
  if (!bytes->empty() && bytes->back() == '\n') bytes->pop_back();
  if (!bytes->empty() && bytes->back() == '\r') bytes->pop_back();
}

}  // namespace

int Fail(int status, const std::string& message) {
  std::cerr << "jxrestart: " << message << '\n';
  return status;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    }
  }
  return out;
}

void WarnAboutNul(const Text& text) {
  if (text.bytes.find('\0') != std::string::npos) {
    Fail(0, text.name + ": holds a NUL byte; only the text before it is read");
  }
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
      DropLineEnd(&text.bytes);
    }
    texts->push_back(std::move(text));
  }
  return true;
}

}  // namespace tool
}  // namespace jxrestart
