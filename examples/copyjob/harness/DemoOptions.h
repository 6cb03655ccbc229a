// The command line of jx-copy-demo, and the sizes and counts it prints.
#ifndef EXAMPLES_COPYJOB_HARNESS_DEMOOPTIONS_H_
#define EXAMPLES_COPYJOB_HARNESS_DEMOOPTIONS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace copyjob {

struct DemoOptions {
  int volumes = 4;
  uint64_t size = 32 << 20;
  uint64_t block = 1 << 20;
  int killAt = 50;    // percent of the data saved when the job is killed
  std::string keep;   // a folder to keep instead of a temporary one
  long torture = 0;   // rounds of the torture run; 0: the demo
  uint64_t seed = 0;  // of the torture run; 0 in the options: from the clock
  long round = -1;    // run only this round of the torture run
  long maxFailures = 0;  // end the torture run after this many failed rounds; 0: never
  std::string plant;  // a fault to plant in the torture run, to see it caught
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program's name. Returns false with a
// message that names the option and the value at fault.
bool ParseDemoOptions(const std::vector<std::string>& args, DemoOptions* options, std::string* error);

// "300001", "64K", "1M", "2G", also "64KiB", "1MiB", "2GiB": bytes. False
// for anything else, and for a size beyond 64 bits.
bool ParseSize(const std::string& text, uint64_t* bytes);

// In the unit that fits: "0 B", "512 B", "1.0 KiB", "12.5 MiB", "2.0 GiB".
std::string FormatSize(uint64_t bytes);

// "1 volume", "4 volumes".
std::string Count(uint64_t n, const char* one, const char* many);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_HARNESS_DEMOOPTIONS_H_
