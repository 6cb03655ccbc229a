#include "tools/jxrestart/LibraryLog.h"

#include <iostream>

namespace jxrestart {
namespace tool {

namespace {
bool g_toStandardError = false;
bool g_keep = false;
std::string& Last() {
  static std::string last;
  return last;
}
}  // namespace

void EnableLibraryLog() { g_toStandardError = true; }
void KeepLastLibraryLine() { g_keep = true; }
bool LibraryLinesWanted() { return g_toStandardError || g_keep; }

void TakeLibraryLine(const char* tag, const std::string& message) {
  if (g_keep) Last() = message;
  if (g_toStandardError) std::cerr << tag << ": " << message << '\n';
}

const std::string& LastLibraryMessage() { return Last(); }

}  // namespace tool
}  // namespace jxrestart
