// jx-copy-demo's command line, sizes and counts; the torture run covers
// the job and its manager.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "examples/copyjob/harness/DemoOptions.h"

namespace {

using copyjob::DemoOptions;

struct OptionsCase {
  std::vector<std::string> args;
  const char* error;  // null: accepted
};

const OptionsCase kCases[] = {
    {{"--volumes", "3", "--size", "1G", "--block=64KiB", "--kill-at", "90"}, nullptr},
    {{"--torture", "40", "--seed", "9", "--round", "39"}, nullptr},
    {{"--volumes", "2x"}, "bad value for --volumes: '2x' (a whole number from 1 to 1000)"},
    {{"--volumes", "0"}, "bad value for --volumes: '0' (a whole number from 1 to 1000)"},
    {{"--size", "1T"},
     "bad value for --size: '1T' (bytes, more than 0, which may end in K, M or G (or KiB, MiB, GiB))"},
    {{"--block", "0"},
     "bad value for --block: '0' (bytes, more than 0, which may end in K, M or G (or KiB, MiB, GiB))"},
    {{"--kill-at", "100"}, "bad value for --kill-at: '100' (a percentage from 1 to 99)"},
    {{"--size"}, "--size needs a value"},
    {{"--frobnicate", "1"}, "unknown option '--frobnicate'"},
    {{"stray"}, "unexpected argument 'stray'"},
    {{"--round", "3"}, "--round 3 needs --torture with more rounds than that"},
    {{"--torture", "9", "--plant", "skip-save"}, nullptr},
    {{"--torture", "9", "--plant", "state-first"}, nullptr},
    {{"--torture", "9", "--plant", "no-sync:disk"},
     "bad value for --plant: 'no-sync:disk' (no-sync-temp, stream-temp, new-name, rename-first, no-sync-folder, "
     "folder-first, in-place, ack-early, skip-save or state-first)"},
    {{"--plant", "no-sync-temp"}, "--plant no-sync-temp needs --torture"},
    {{"--torture", "40", "--plant", "in-place", "--max-failures", "1"}, nullptr},
    {{"--torture", "40", "--max-failures", "0"}, "bad value for --max-failures: '0' (a number of failed rounds from 1)"},
    {{"--max-failures", "1"}, "--max-failures needs --torture"},
    {{"--size", "16G", "--block", "1"},
     "--size 17179869184 in blocks of 1 makes more blocks than a volume may have "
     "(2147483647)"},
};

TEST(DemoOptions, AcceptsOrNamesTheOptionAndValue) {
  for (const OptionsCase& c : kCases) {
    DemoOptions options;
    std::string error;
    EXPECT_EQ(copyjob::ParseDemoOptions(c.args, &options, &error), c.error == nullptr) << c.args[0];
    EXPECT_EQ(error, c.error ? c.error : "") << c.args[0];
  }
  DemoOptions options;
  std::string error;
  ASSERT_TRUE(copyjob::ParseDemoOptions(kCases[0].args, &options, &error));
  EXPECT_EQ(options.volumes, 3);
  EXPECT_EQ(options.size, uint64_t{1} << 30);
  EXPECT_EQ(options.block, uint64_t{64} << 10);
  EXPECT_EQ(options.killAt, 90);
}

TEST(DemoOptions, SizesReadAndWrittenInTheUnitThatFits) {
  const struct {
    const char* text;
    uint64_t bytes;  // 0: refused
  } kSizes[] = {{"300001", 300001}, {"64K", 65536}, {"1M", 1 << 20},    {"2GiB", uint64_t{2} << 30}, {"", 0},
                {"K", 0},           {"1.5M", 0},    {"17179869184G", 0}};
  for (const auto& c : kSizes) {
    uint64_t bytes = 0;
    EXPECT_EQ(copyjob::ParseSize(c.text, &bytes), c.bytes != 0) << c.text;
    EXPECT_EQ(c.bytes == 0 ? 0 : bytes, c.bytes) << c.text;
  }
  EXPECT_EQ(copyjob::FormatSize(0), "0 B");
  EXPECT_EQ(copyjob::FormatSize(1023), "1023 B");
  EXPECT_EQ(copyjob::FormatSize(1024), "1.0 KiB");
  EXPECT_EQ(copyjob::FormatSize(12800 << 10), "12.5 MiB");
  EXPECT_EQ(copyjob::FormatSize(uint64_t{3} << 30), "3.0 GiB");
  EXPECT_EQ(copyjob::Count(1, "volume", "volumes"), "1 volume");
  EXPECT_EQ(copyjob::Count(0, "volume", "volumes"), "0 volumes");
}

}  // namespace
