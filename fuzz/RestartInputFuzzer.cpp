// The tracker's restart input parser on any text, into an empty map and
// into one that already holds entries, checked against the plain reading;
// part of the time with the log listening, which must show the text whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "reference/Reference.h"
#include "restart/JxRestartability.h"

namespace ref = jxrestart::reference;

namespace {

void Check(const std::string& input, const ref::IdMap& before, bool listen) {
  JxRestartability tracker;
  ListeningLog log(listen);
  tracker.volumeOffsetMap = before;
  tracker.volumeNameOffsetMap = {{"names stay", 7}};
  ref::IdMap expected = before;
  ref::ParseRestartInput(input, &expected);

  std::string text = input;  // the parser takes a writable text
  const bool ok = tracker.ParseRestartInputFromJM(&text[0]);
  FUZZ_CHECK(text == input);
  FUZZ_CHECK(tracker.volumeOffsetMap == expected);
  FUZZ_CHECK(ok == !expected.empty());
  FUZZ_CHECK(tracker.restartString == (ok ? ref::RenderJob(expected) : std::string()));
  FUZZ_CHECK((tracker.volumeNameOffsetMap == ref::NameMap{{"names stay", 7}}));
  if (log.listening()) {
    FUZZ_CHECK(!log.lines().empty());
    FUZZ_CHECK(log.lines()[0] ==
               "JxRestartability::ParseRestartInputFromJM: Input from JM = " + text.substr(0, text.find('\0')));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const bool listen = size > 0 && data[size - 1] % 4 == 0;
  Check(input, {}, listen);
  Check(input, {{-3, 1}, {0, 0}, {3, 30}, {17, -1}, {INT32_MAX, INT32_MIN}}, listen);
  return 0;
}
