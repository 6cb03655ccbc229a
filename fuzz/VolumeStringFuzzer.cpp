// The volume restart string reader through the text constructor, checked
// against the plain reading, and the writer's output read back: a valid
// object with records survives the round trip exactly. Part of the time
// the log listens, and must show the text whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "reference/Reference.h"
#include "restart/ZNJxRestart.h"

namespace ref = jxrestart::reference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  ListeningLog log(size > 0 && data[size - 1] % 4 == 0);
  ZNJxRestart table(input.c_str());

  ref::RecordMap expected;
  const bool read = std::strlen(input.c_str()) > 5;
  const bool valid = read && ref::ParseVolumes(input, &expected);
  FUZZ_CHECK(table.isValid == valid);
  if (log.listening() && read) {
    FUZZ_CHECK(log.lines()[0] == "ZNJxRestart::ParseRestartString: Restart String = " + std::string(input.c_str()));
  }
  FUZZ_CHECK(ref::SameRecords(table.volumeInfoMap, expected));
  for (const auto& entry : table.volumeInfoMap) FUZZ_CHECK(entry.first == entry.second.srcVolId);

  std::string text = "untouched";
  const bool written = table.GetCurrentRestartString(text);
  FUZZ_CHECK(written == (valid && !expected.empty()));
  if (!written) {
    FUZZ_CHECK(text == "untouched");
    return 0;
  }
  FUZZ_CHECK(text == ref::RenderVolumes(expected));
  ZNJxRestart copy(text.c_str());
  FUZZ_CHECK(copy.isValid);
  FUZZ_CHECK(ref::SameRecords(copy.volumeInfoMap, table.volumeInfoMap));
  return 0;
}
