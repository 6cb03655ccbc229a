// The library's rendering and parsing against the plain implementation in
// reference/Reference.h (formatted printing into a scratch buffer,
// strtoll on std::string copies, plain map inserts), in one run; each part
// of the library that is cleverer than the plain modern form against that
// form (a part stays only while it pays); and what the host log costs an
// update storm. Prints tables of medians: library ns/item, baseline
// ns/item, their ratio and the library's MB/s.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "host/ZnLogSink.h"
#include "reference/Reference.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"
#include "restart/internal/Decimal.h"
#include "restart/internal/MapStore.h"
#include "restart/internal/VolumeItem.h"

namespace ref = jxrestart::reference;

namespace {

const int64_t kSizes[] = {10, 1000, 100000, 1000000};

// Inputs are made once per size and kept, so every case of a size reads
// the same bytes.
ref::IdMap NumericMap(int64_t n) {
  ref::IdMap map;
  std::mt19937 random(1);
  for (int32_t i = 0; i < n; ++i) map.emplace_hint(map.end(), i * 3 + 1, static_cast<int32_t>(random() % 1000000000));
  return map;
}

// Names of 16 to 64 bytes. `inKeyOrder`: the map is filled in key order,
// as from a sorted volume list, so its nodes and names lie in memory in the
// order they are written; otherwise in random order, so each item of a
// large map costs cache misses (node and name), whoever writes it.
ref::NameMap NameMapOf(int64_t n, bool inKeyOrder) {
  std::vector<std::string> names;
  std::mt19937 random(2);
  for (int64_t i = 0; i < n; ++i) {
    std::string name(16 + random() % 49, ' ');
    for (char& c : name) c = static_cast<char>('a' + random() % 26);
    names.push_back(std::move(name));
  }
  if (inKeyOrder) std::sort(names.begin(), names.end());
  ref::NameMap map;
  for (const auto& name : names) map.emplace(name, static_cast<int32_t>(random() % 100000));  // fresh copies
  return map;
}

ref::RecordMap RecordsOf(int64_t n) {
  ref::RecordMap map;
  std::mt19937_64 random(3);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t src = i * 2 - static_cast<int32_t>(n);
    map.emplace_hint(map.end(), src,
                     _JxRestartVolumeInfo{static_cast<uint8_t>(random()), src, static_cast<int32_t>(random()),
                                          random() >> (random() % 64)});
  }
  return map;
}

std::string ShuffledVolumes(const ref::RecordMap& records) {
  std::vector<std::string> items;
  for (const auto& entry : records) items.push_back(ref::RenderVolumes({entry}));
  std::shuffle(items.begin(), items.end(), std::mt19937(4));
  std::string text;
  for (const auto& item : items) text += item;
  return text;
}

// `n` items and `bytes` of text per run, `runs` runs per iteration.
void Finish(benchmark::State& state, int64_t n, size_t bytes, int64_t runs = 1) {
  state.SetItemsProcessed(state.iterations() * runs * n);
  state.SetBytesProcessed(state.iterations() * runs * static_cast<int64_t>(bytes));
}

// 1. BuildJobRestartString
// Times `render(out)`, the baseline's rendering into a kept string, after
// one untimed run.
template <class Render>
void TimeBaselineRenders(benchmark::State& state, Render render) {
  std::string out;
  render(out);
  for (auto _ : state) {
    render(out);
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, state.range(0), out.size());
}

// The builders run once before they are timed: a job rebuilds its string
// again and again, into the buffer of the last build, on both sides.
void BuildNumericLibrary(benchmark::State& state) {
  JxRestartability tracker;
  tracker.volumeOffsetMap = NumericMap(state.range(0));
  tracker.BuildJobRestartString();
  for (auto _ : state) benchmark::DoNotOptimize(tracker.BuildJobRestartString());
  Finish(state, state.range(0), tracker.restartString.size());
}
void BuildNumericBaseline(benchmark::State& state) {
  const ref::IdMap map = NumericMap(state.range(0));
  TimeBaselineRenders(state, [&](std::string& out) { ref::RenderJob(map, out); });
}
template <bool kInKeyOrder>
void BuildNamesLibrary(benchmark::State& state) {
  JxRestartability tracker;
  tracker.SetRestartType(1);
  tracker.volumeNameOffsetMap = NameMapOf(state.range(0), kInKeyOrder);
  tracker.BuildJobRestartString();
  for (auto _ : state) benchmark::DoNotOptimize(tracker.BuildJobRestartString());
  Finish(state, state.range(0), tracker.restartString.size());
}
template <bool kInKeyOrder>
void BuildNamesBaseline(benchmark::State& state) {
  const ref::NameMap map = NameMapOf(state.range(0), kInKeyOrder);
  TimeBaselineRenders(state, [&](std::string& out) { ref::RenderJob(map, out); });
}

// Only the parses are timed: making the empty targets before them and
// destroying them after are not (the same on both sides). Small inputs are
// parsed in batches, so the timer's own cost stays out of the figures.
// Returns the batch size.
template <class Target, class Parse>
int64_t TimeParses(benchmark::State& state, Parse parse) {
  const int64_t batch = std::max<int64_t>(1, 100000 / state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    {
      std::vector<std::unique_ptr<Target>> targets;
      for (int64_t i = 0; i < batch; ++i) targets.emplace_back(new Target);
      state.ResumeTiming();
      for (auto& target : targets) parse(*target);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  return batch;
}

// The tracker as it is; final, so that it can be held and destroyed by
// unique_ptr without a question about its non-virtual destructor.
class Tracker final : public JxRestartability {};

// 2. ParseRestartInputFromJM into an empty tracker, with its rebuild.
void ParseLibrary(benchmark::State& state) {
  const std::string input = ref::RenderJob(NumericMap(state.range(0))).substr(9);
  std::string text = input;
  const int64_t batch = TimeParses<Tracker>(
      state, [&](Tracker& tracker) { benchmark::DoNotOptimize(tracker.ParseRestartInputFromJM(&text[0])); });
  Finish(state, state.range(0), input.size(), batch);
}
struct ParsedJob {
  ref::IdMap map;
  std::string restartString;
};
void ParseBaseline(benchmark::State& state) {
  const std::string input = ref::RenderJob(NumericMap(state.range(0))).substr(9);
  const int64_t batch = TimeParses<ParsedJob>(state, [&](ParsedJob& job) {
    ref::ParseRestartInput(input, &job.map);
    ref::RenderJob(job.map, job.restartString);  // a new tracker's first build, as on the library's side
    benchmark::DoNotOptimize(job.restartString.data());
  });
  Finish(state, state.range(0), input.size(), batch);
}

// 3. The ZNJxRestart text constructor, ascending and shuffled.
std::string VolumeText(int64_t n, bool shuffled) {
  const ref::RecordMap records = RecordsOf(n);
  return shuffled ? ShuffledVolumes(records) : ref::RenderVolumes(records);
}
// The text constructor, with the table it makes; the empty placeholder made
// beforehand is not timed.
struct Table {
  std::unique_ptr<ZNJxRestart> table;
};
template <bool kShuffled>
void ReadVolumesLibrary(benchmark::State& state) {
  const std::string text = VolumeText(state.range(0), kShuffled);
  const int64_t batch = TimeParses<Table>(state, [&](Table& t) {
    t.table.reset(new ZNJxRestart(text.c_str()));
    benchmark::DoNotOptimize(t.table->isValid);
  });
  Finish(state, state.range(0), text.size(), batch);
}
template <bool kShuffled>
void ReadVolumesBaseline(benchmark::State& state) {
  const std::string text = VolumeText(state.range(0), kShuffled);
  const int64_t batch = TimeParses<ref::RecordMap>(
      state, [&](ref::RecordMap& map) { benchmark::DoNotOptimize(ref::ParseVolumes(text, &map)); });
  Finish(state, state.range(0), text.size(), batch);
}

// 4. GetCurrentRestartString
void WriteVolumesLibrary(benchmark::State& state) {
  const ref::RecordMap records = RecordsOf(state.range(0));
  ZNJxRestart table(ref::RenderVolumes(records).c_str());
  std::string out;
  table.GetCurrentRestartString(out);  // as a caller that keeps its string
  for (auto _ : state) benchmark::DoNotOptimize(table.GetCurrentRestartString(out));
  Finish(state, state.range(0), out.size());
}
void WriteVolumesBaseline(benchmark::State& state) {
  const ref::RecordMap records = RecordsOf(state.range(0));
  TimeBaselineRenders(state, [&](std::string& out) { ref::RenderVolumes(records, out); });
}

// The plain modern forms of the clever parts.
using jxrestart::internal::kMaxDecimalLength;
using jxrestart::internal::WriteDecimal;

// The number writer and the in-place appending: std::to_chars per number,
// each item appended to a string whose capacity the last build left.
void BuildIdsToChars(benchmark::State& state) {
  const ref::IdMap map = NumericMap(state.range(0));
  TimeBaselineRenders(state, [&](std::string& out) {
    out.assign("-Restart ");
    for (const auto& entry : map) {
      char item[2 * kMaxDecimalLength + 2];
      char* end = std::to_chars(item, item + kMaxDecimalLength, entry.first).ptr;
      *end++ = '|';
      end = std::to_chars(end, end + kMaxDecimalLength, entry.second).ptr;
      *end++ = '@';
      out.append(item, end);
    }
  });
}
void BuildNamesAppended(benchmark::State& state) {
  const ref::NameMap map = NameMapOf(state.range(0), true);
  TimeBaselineRenders(state, [&](std::string& out) {
    out.assign("-Restart ");
    for (const auto& entry : map) {
      out.append(entry.first.c_str());
      char item[kMaxDecimalLength + 2];
      char* end = item;
      *end++ = '|';
      end = WriteDecimal(end, entry.second);
      *end++ = '@';
      out.append(item, end);
    }
  });
}

char* WriteRecord(char* out, const _JxRestartVolumeInfo& r) {
  char* end = WriteDecimal(out, r.copyType);
  *end++ = '|';
  end = WriteDecimal(end, r.srcVolId);
  *end++ = '|';
  end = WriteDecimal(end, r.destVolId);
  *end++ = '|';
  end = WriteDecimal(end, static_cast<int64_t>(r.offset));
  *end++ = '$';
  return end;
}

// The volume string writer measures the text first and writes it in
// place; the plain form appends each record to a fresh string.
void WriteVolumesAppended(benchmark::State& state) {
  const ref::RecordMap records = RecordsOf(state.range(0));
  TimeBaselineRenders(state, [&](std::string& out) {
    std::string text;
    for (const auto& entry : records) {
      char item[4 * kMaxDecimalLength + 4];
      text.append(item, WriteRecord(item, entry.second));
    }
    out.swap(text);
  });
}

// The number writer is always inlined; the plain form leaves that to the
// compiler. As the library's volume string writer, but with every number
// written by a call.
__attribute__((noinline)) char* WriteDecimalCalled(char* out, int64_t value) { return WriteDecimal(out, value); }
void WriteVolumesCalled(benchmark::State& state) {
  using jxrestart::internal::DecimalLength;
  const ref::RecordMap records = RecordsOf(state.range(0));
  TimeBaselineRenders(state, [&](std::string& out) {
    std::vector<const _JxRestartVolumeInfo*> list;
    list.reserve(records.size());
    size_t length = 0;
    for (const auto& entry : records) {
      const _JxRestartVolumeInfo& r = entry.second;
      list.push_back(&r);
      length += static_cast<size_t>(DecimalLength(r.copyType) + DecimalLength(r.srcVolId) + DecimalLength(r.destVolId) +
                                    DecimalLength(static_cast<int64_t>(r.offset)) + 4);
    }
    out.resize(length);
    char* end = &out[0];
    for (const _JxRestartVolumeInfo* r : list) {
      for (int64_t field : {int64_t{r->copyType}, int64_t{r->srcVolId}, int64_t{r->destVolId}, int64_t(r->offset)}) {
        end = WriteDecimalCalled(end, field);
        *end++ = '|';
      }
      end[-1] = '$';
    }
  });
}

// The decimal reader reads 18 digits before it checks for overflow; the
// plain form checks every digit. Both read the items of an ascending volume
// restart string as the library's reader does, the plain one through a copy
// of its item loop with the plain number reader.
const char* ReadCheckedEveryDigit(const char* text, int64_t* value) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (*p < '0' || *p > '9') {
    *value = 0;
    return text;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return p;
}
bool ReadItemCheckedEveryDigit(const char* p, _JxRestartVolumeInfo* record, const char** end) {
  int64_t fields[4];
  for (int i = 0; i < 4; ++i) {
    p = ReadCheckedEveryDigit(p, &fields[i]);
    if (i == 3) {
      if (*p != '$') p = std::strchr(p, '$');
      if (p == nullptr) return false;
    } else {
      while (*p != '|' && *p != '$' && *p != '\0') ++p;
      if (*p != '|') return false;
      ++p;
    }
  }
  using jxrestart::internal::ToInt32;
  *record = {static_cast<uint8_t>(ToInt32(fields[0])), ToInt32(fields[1]), ToInt32(fields[2]),
             static_cast<uint64_t>(fields[3])};
  *end = p;
  return true;
}
template <bool kChecked>
void ReadAscending(benchmark::State& state) {
  const std::string text = VolumeText(state.range(0), false);
  const int64_t batch = TimeParses<ref::RecordMap>(state, [&](ref::RecordMap& map) {
    const char* next = text.c_str();
    if (kChecked) {
      _JxRestartVolumeInfo record;
      for (const char* end = nullptr; ReadItemCheckedEveryDigit(next, &record, &end); next = end + 1) {
        jxrestart::internal::InsertOrAssign(map, record.srcVolId, record);
      }
    } else {
      jxrestart::internal::VolumeItem item;
      for (; jxrestart::internal::ReadVolumeItem(next, &item) == jxrestart::internal::ItemRead::kRecord;
           next = item.end + 1) {
        const _JxRestartVolumeInfo record = jxrestart::internal::RecordOf(item);
        jxrestart::internal::InsertOrAssign(map, record.srcVolId, record);
      }
    }
  });
  Finish(state, state.range(0), text.size(), batch);
}

// Ascending keys go in at the end with a hint; the plain form searches.
template <bool kPlain>
void StoreAscending(benchmark::State& state) {
  const int64_t batch = TimeParses<ref::IdMap>(state, [&](ref::IdMap& map) {
    for (int32_t key = 0; key < state.range(0); ++key) {
      if (kPlain) {
        map.insert_or_assign(key, key);
      } else {
        jxrestart::internal::InsertOrAssign(map, key, key);
      }
    }
  });
  Finish(state, state.range(0), 0, batch);
}

// 5 and 6. 1,000 volumes, each updated 100 times; one item is one update.
void Storm(benchmark::State& state) {
  const bool sink = state.range(0) == 1;
  size_t lines = 0;
  if (sink) znlib::SetDebugSink([&lines](const char*, const char*) { ++lines; });
  std::vector<RecoveryVolData_t> volumes;
  for (int32_t id = 1; id <= 1000; ++id) volumes.push_back({id});
  for (auto _ : state) {
    JxRestartability tracker;
    tracker.PopulateVolumeOffsetMap(volumes);
    for (int32_t round = 1; round <= 100; ++round) {
      for (int32_t id = 1; id <= 1000; ++id) tracker.UpdateJobRestartInfoMapAndString(id, round * 4096);
    }
  }
  znlib::SetDebugSink(nullptr);
  state.SetItemsProcessed(state.iterations() * 100000);
}

// One silent host-log call, as each rebuild makes it: what silence costs
// each update, measured in place rather than across two programs.
void SilentLogCall(benchmark::State& state) {
  EvEvent log;
  const std::string text(10000, '7');
  for (auto _ : state) log.Debug("JxRestartability::BuildJobRestartString", "The Restart string: %s", text.c_str());
  state.SetItemsProcessed(state.iterations());
}

struct Case {
  const char* name;   // the benchmark's
  const char* label;  // the table's
  void (*library)(benchmark::State&);
  void (*baseline)(benchmark::State&);
};

const int64_t kPlainSizes[] = {1000, 100000};

const Case kPlainCases[] = {
    {"PlainBuildIds", "BuildJobRestartString, to_chars", BuildNumericLibrary, BuildIdsToChars},
    {"PlainBuildNames", "  names appended", BuildNamesLibrary<true>, BuildNamesAppended},
    {"PlainWriteVolumes", "GetCurrentRestartString, appended", WriteVolumesLibrary, WriteVolumesAppended},
    {"PlainWriteInlined", "  number writer not inlined", WriteVolumesLibrary, WriteVolumesCalled},
    {"PlainStoreAscending", "ascending keys, no end hint", StoreAscending<false>, StoreAscending<true>},
    {"PlainReadDigits", "volume string, each digit checked", ReadAscending<false>, ReadAscending<true>},
};

const Case kCases[] = {
    {"BuildIds", "BuildJobRestartString, ids", BuildNumericLibrary, BuildNumericBaseline},
    {"BuildNames", "BuildJobRestartString, names", BuildNamesLibrary<true>, BuildNamesBaseline<true>},
    {"BuildNamesScattered", "  names scattered in memory", BuildNamesLibrary<false>, BuildNamesBaseline<false>},
    {"ParseInput", "ParseRestartInputFromJM", ParseLibrary, ParseBaseline},
    {"ReadVolumesAscending", "ZNJxRestart(text), ascending", ReadVolumesLibrary<false>, ReadVolumesBaseline<false>},
    {"ReadVolumesRandom", "ZNJxRestart(text), random", ReadVolumesLibrary<true>, ReadVolumesBaseline<true>},
    {"WriteVolumes", "GetCurrentRestartString", WriteVolumesLibrary, WriteVolumesBaseline},
};

// Keeps the medians of every run, by benchmark name.
class Collector : public benchmark::ConsoleReporter {
 public:
  struct Result {
    double nsPerItem;
    double bytesPerSecond;
  };
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      const double items = run.counters.count("items_per_second") ? double(run.counters.at("items_per_second")) : 0;
      const double bytes = run.counters.count("bytes_per_second") ? double(run.counters.at("bytes_per_second")) : 0;
      const std::string& args = run.run_name.args;
      results[run.run_name.function_name + (args.empty() ? "" : "/" + args)] = {items > 0 ? 1e9 / items : 0, bytes};
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, Result> results;
};

std::string Name(const std::string& base, const char* side, int64_t n) {
  return base + "/" + side + "/" + std::to_string(n);
}

// The storm with the host log's call compiled out: the same benchmark in
// the program built with an empty EvDebug::Debug, which takes the host
// library's place.
double StormWithoutLogCall(const char* self) {
  std::string program = self;
  program += "NoLog";
  const std::string command =
      program + " --benchmark_filter='^Storm/nolog' --benchmark_repetitions=5 --benchmark_format=json 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return 0;
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  ::pclose(pipe);
  const auto json = nlohmann::json::parse(output, nullptr, false);
  if (json.is_discarded()) return 0;
  for (const auto& run : json["benchmarks"]) {
    if (run.value("aggregate_name", "") == "median") return 1e9 / run["items_per_second"].get<double>();
  }
  return 0;
}

template <size_t kCaseCount, size_t kSizeCount>
void PrintCases(const Collector& collector, const Case (&cases)[kCaseCount], const int64_t (&sizes)[kSizeCount],
                const char* baseline) {
  std::printf("\n%-31s %9s %12s %12s %8s %9s\n", "case", "n", "library ns", baseline, "ratio", "MB/s");
  for (const Case& c : cases) {
    for (int64_t n : sizes) {
      auto lib = collector.results.find(Name(c.name, "library", n));
      auto base = collector.results.find(Name(c.name, "baseline", n));
      if (lib == collector.results.end() || base == collector.results.end()) continue;
      std::printf("%-31s %9lld %12.1f %12.1f %7.1fx %9.0f\n", c.label, static_cast<long long>(n), lib->second.nsPerItem,
                  base->second.nsPerItem, base->second.nsPerItem / lib->second.nsPerItem,
                  lib->second.bytesPerSecond / 1e6);
    }
  }
}

void PrintTable(const Collector& collector, const char* self) {
  PrintCases(collector, kCases, kSizes, "baseline ns");
  std::printf("\nthe clever parts against their plain modern form:");
  PrintCases(collector, kPlainCases, kPlainSizes, "plain ns");
  auto silent = collector.results.find("Storm/silent/0");
  auto sink = collector.results.find("Storm/sink/1");
  if (silent == collector.results.end() || sink == collector.results.end()) return;
  const double noCall = StormWithoutLogCall(self);
  std::printf("\nupdate storm, 1,000 volumes x 100 updates, ns per update:\n");
  std::printf("  host log silent      %8.1f\n", silent->second.nsPerItem);
  std::printf("  sink installed       %8.1f  (%+.1f%% against silent)\n", sink->second.nsPerItem,
              100 * (sink->second.nsPerItem / silent->second.nsPerItem - 1));
  if (noCall > 0) {
    std::printf("  no log call at all   %8.1f  (silent against none: %+.1f%%, within this machine's noise)\n", noCall,
                100 * (silent->second.nsPerItem / noCall - 1));
  }
  auto call = collector.results.find("SilentLogCall");
  if (call != collector.results.end()) {
    std::printf("  one silent log call  %8.1f  (one per update: %.2f%% of an update)\n", call->second.nsPerItem,
                100 * call->second.nsPerItem / silent->second.nsPerItem);
  }
}

#if defined(JXRESTART_BENCH_NO_LOG)
constexpr bool kNoLogCall = true;  // this program's EvDebug::Debug is empty
#else
constexpr bool kNoLogCall = false;
#endif

template <size_t kCaseCount, size_t kSizeCount>
void RegisterCases(const Case (&cases)[kCaseCount], const int64_t (&sizes)[kSizeCount]) {
  for (const Case& c : cases) {
    for (const char* side : {"library", "baseline"}) {
      auto* b = benchmark::RegisterBenchmark((std::string(c.name) + "/" + side).c_str(),
                                             side[0] == 'l' ? c.library : c.baseline);
      for (int64_t n : sizes) b->Arg(n);
      b->Unit(benchmark::kMicrosecond)->MinTime(0.05);
    }
  }
}

void Register() {
  if (kNoLogCall) {
    benchmark::RegisterBenchmark("Storm/nolog", Storm)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);
    return;
  }
  RegisterCases(kCases, kSizes);
  RegisterCases(kPlainCases, kPlainSizes);
  benchmark::RegisterBenchmark("Storm/silent", Storm)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);
  benchmark::RegisterBenchmark("Storm/sink", Storm)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
  benchmark::RegisterBenchmark("SilentLogCall", SilentLogCall);
}

}  // namespace

int main(int argc, char** argv) {
  // Memory that one repetition frees is kept for the next instead of going
  // back to the kernel: on this machine a page fault costs microseconds,
  // and refaulting the same heap each time would time the kernel, not the
  // code, on both sides alike.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  Register();
  bool quick = false;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--quick") {
      quick = true;  // one repetition, for CI: proves it runs, measures nothing
      continue;
    }
    args.push_back(argv[i]);
  }
  // Repetitions of all cases are interleaved in random order, so a noisy
  // spell of this shared machine falls on library and baseline alike.
  std::string repetitions = quick ? "--benchmark_repetitions=1" : "--benchmark_repetitions=7";
  std::string aggregatesOnly = "--benchmark_report_aggregates_only=true";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {&repetitions[0], &aggregatesOnly[0], &interleave[0]});
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (kNoLogCall) {
    benchmark::RunSpecifiedBenchmarks();  // read as JSON by the main program
  } else {
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    if (!quick) PrintTable(collector, argv[0]);
  }
  benchmark::Shutdown();
  return 0;
}
