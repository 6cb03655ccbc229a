// Heap bytes per tracked volume at n = 1,000,000 for both classes, and the
// peak of the largest parses, counted through operator new.
#include <cstdio>
#include <string>

#include "bench/HeapCounter.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

namespace {

using jxrestart::bench::HeapInUse;
using jxrestart::bench::PeakInUse;
using jxrestart::bench::ResetPeak;

constexpr int kVolumes = 1000000;

std::string JobInput() {
  std::string text;
  for (int i = 1; i <= kVolumes; ++i)
    text += std::to_string(i * 3) + "|" + std::to_string(int64_t{i} * 4096 % 1000000007) + "@";
  return text;
}

std::string VolumeText() {
  std::string text;
  for (int i = 0; i < kVolumes; ++i) {
    text += std::to_string(i % 256) + "|" + std::to_string(i * 2 - kVolumes) + "|" + std::to_string(i) + "|" +
            std::to_string(int64_t{i} * 1048576) + "$";
  }
  return text;
}

void Report(const char* what, size_t base, size_t after, size_t peak, size_t input, size_t text) {
  std::printf("%-17s %6.1f bytes per volume (%5.1f with its text), peak %6.1f MB above its %5.1f MB input\n", what,
              double(after - base - text) / kVolumes, double(after - base) / kVolumes, double(peak - base) / 1e6,
              double(input) / 1e6);
}

}  // namespace

int main() {
  std::printf("heap at n = 1,000,000 volumes (glibc malloc, usable sizes):\n");
  {
    std::string input = JobInput();
    const size_t base = HeapInUse();
    ResetPeak();
    JxRestartability tracker;
    tracker.ParseRestartInputFromJM(&input[0]);
    Report("JxRestartability", base, HeapInUse(), PeakInUse(), input.size(), tracker.restartString.capacity() + 1);
  }
  {
    const std::string input = VolumeText();
    const size_t base = HeapInUse();
    ResetPeak();
    ZNJxRestart table(input.c_str());
    Report("ZNJxRestart", base, HeapInUse(), PeakInUse(), input.size(), 0);
  }
  return 0;
}
