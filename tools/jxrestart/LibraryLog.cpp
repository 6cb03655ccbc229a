#include "tools/jxrestart/LibraryLog.h"

#include <iostream>

namespace jxrestart {
namespace tool {

namespace {
bool g_toStandardError = false;
std::string& Last() {
  static std::string last;
  return last;
}
}  // namespace

void EnableLibraryLog() { g_toStandardError = true; }

void TakeLibraryLine(const char* tag, const std::string& message) {
  Last() = message;
  if (g_toStandardError) std::cerr << tag << ": " << message << '\n';
}

const std::string& LastLibraryMessage() { return Last(); }

}  // namespace tool
}  // namespace jxrestart
