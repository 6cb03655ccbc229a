// Every changing operation and constructor, with its k-th allocation made
// to fail for k = 1, 2, ... until it completes: the exception reaches the
// caller, nothing leaks (the sanitizer build checks), the object stays
// usable, and the state is one the interface promises.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "reference/Reference.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

// The replacement pairs malloc with free; g++ cannot see that through the
// replaced operators.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
// Allocations left before one fails; negative: none fails.
long g_allocationsLeft = -1;
}  // namespace

void* operator new(std::size_t size) {
  if (g_allocationsLeft == 0) {
    g_allocationsLeft = -1;
    throw std::bad_alloc();
  }
  if (g_allocationsLeft > 0) --g_allocationsLeft;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace ref = jxrestart::reference;

// Runs `operation` with allocation k failing, for k = 0, 1, ... until it
// completes; `check` sees each outcome. Returns how many allocations the
// operation made.
long FailEachAllocation(const std::function<void()>& setUp, const std::function<void()>& operation,
                        const std::function<void(bool threw)>& check) {
  for (long k = 0; k < 100000; ++k) {
    setUp();
    bool threw = false;
    g_allocationsLeft = k;
    try {
      operation();
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    g_allocationsLeft = -1;
    check(threw);
    if (!threw) return k;
  }
  ADD_FAILURE() << "the operation never completed";
  return -1;
}

std::string Render(const JxRestartability& t) {
  return t.restartType == 0 ? ref::RenderJob(t.volumeOffsetMap) : ref::RenderJob(t.volumeNameOffsetMap);
}

// Every entry of `after` is one of `before` or one of the operation's own;
// every entry of `before` that the operation does not name is still there.
template <class Map>
void ExpectMerged(const Map& before, const Map& added, const Map& after) {
  for (const auto& entry : after) {
    const bool old = before.count(entry.first) && before.at(entry.first) == entry.second;
    const bool fresh = added.count(entry.first) && added.at(entry.first) == entry.second;
    EXPECT_TRUE(old || fresh) << "entry " << entry.first << " is half-written";
  }
  for (const auto& entry : before) {
    if (!added.count(entry.first)) {
      EXPECT_EQ(after.count(entry.first), 1u) << "entry lost";
    }
  }
}

// The tracker as it is, final so that holding it by value in a wrapper
// raises no question about its non-virtual destructor.
class Tracker final : public JxRestartability {};

struct TrackerCase {
  const char* name;
  int32_t type;
  std::function<bool(JxRestartability&)> operation;
  ref::IdMap addsIds;
  ref::NameMap addsNames;
};

std::vector<RecoveryVolData_t> ManyIds() {
  std::vector<RecoveryVolData_t> ids;
  for (int32_t i = 1; i <= 40; ++i) ids.push_back({i * 7 % 41});
  return ids;
}

std::vector<std::string> ManyNames() {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back("volume-name-long-enough-to-allocate-" + std::to_string(i));
  return names;
}

template <class Items, class Key>
std::map<Key, int32_t> AtZero(const Items& items, Key (*keyOf)(const typename Items::value_type&)) {
  std::map<Key, int32_t> map;
  for (const auto& item : items) map[keyOf(item)] = 0;
  return map;
}

int32_t IdOf(const RecoveryVolData_t& v) { return v.volId; }
std::string NameOf(const std::string& s) { return s; }

TEST(AllocationFailure, TrackerOperationsLeaveAPromisedState) {
  std::string input;
  ref::IdMap parsed;
  for (int i = 1; i <= 60; ++i) input += std::to_string(i * 13) + "|" + std::to_string(i) + "@";
  ref::ParseRestartInput(input, &parsed);
  const std::string longName(3000, 'n');
  const TrackerCase kCases[] = {
      {"populate ids",
       0,
       [](JxRestartability& t) { return t.PopulateVolumeOffsetMap(ManyIds()); },
       AtZero(ManyIds(), IdOf),
       {}},
      {"populate names",
       1,
       [](JxRestartability& t) { return t.PopulateVolumeOffsetMap(ManyNames()); },
       {},
       AtZero(ManyNames(), NameOf)},
      {"insert id", 0, [](JxRestartability& t) { return t.InsertIntoVolumeOffsetMap(500, 5); }, {{500, 5}}, {}},
      {"insert name",
       1,
       [&](JxRestartability& t) { return t.InsertIntoVolumeOffsetMap(longName, 5); },
       {},
       {{longName, 5}}},
      {"update id",
       0,
       [](JxRestartability& t) { return t.UpdateJobRestartInfoMapAndString(2, 99999999); },
       {{2, 99999999}},
       {}},
      {"update name",
       1,
       [](JxRestartability& t) { return t.UpdateJobRestartInfoMapAndString(std::string("b"), 99999999); },
       {},
       {{"b", 99999999}}},
      {"parse", 0, [&](JxRestartability& t) { return t.ParseRestartInputFromJM(&input[0]); }, parsed, {}},
      {"build",
       0,
       [](JxRestartability& t) {
         std::string().swap(t.restartString);  // no buffer to reuse: the build allocates
         return t.BuildJobRestartString();
       },
       {},
       {}},
  };
  for (const TrackerCase& c : kCases) {
    std::optional<Tracker> t;
    ref::IdMap idsBefore;
    ref::NameMap namesBefore;
    std::string stringBefore;
    const bool populates = std::string(c.name).rfind("populate", 0) == 0;
    const long allocations = FailEachAllocation(
        [&] {
          t.emplace();
          t->SetRestartType(c.type);
          if (!populates) {
            t->volumeOffsetMap = {{1, 1}, {2, 2}, {1000, 3}};
            t->volumeNameOffsetMap = {{"a", 1}, {"b", 2}};
            t->BuildJobRestartString();
            std::string(t->restartString).swap(t->restartString);  // a longer string must allocate
          }
          idsBefore = t->volumeOffsetMap;
          namesBefore = t->volumeNameOffsetMap;
          stringBefore = t->restartString;
        },
        [&] { EXPECT_TRUE(c.operation(*t)) << c.name; },
        [&](bool threw) {
          ExpectMerged(idsBefore, c.addsIds, t->volumeOffsetMap);
          ExpectMerged(namesBefore, c.addsNames, t->volumeNameOffsetMap);
          const std::string& s = t->restartString;
          EXPECT_TRUE(s.empty() || s == stringBefore || s == Render(*t)) << c.name << ": " << s;
          if (!threw) {
            EXPECT_EQ(s, Render(*t)) << c.name;
          }
          // Still usable: a change goes through and rebuilds.
          EXPECT_TRUE(c.type == 0 ? t->InsertIntoVolumeOffsetMap(4242, 1)
                                  : t->InsertIntoVolumeOffsetMap(std::string("zz"), 1));
          EXPECT_EQ(t->restartString, Render(*t)) << c.name;
        });
    EXPECT_GT(allocations, 0) << c.name << " allocates, so its failures were exercised";
  }
}

std::vector<_JxRestartVolumeInfo> ManyRecords() {
  std::vector<_JxRestartVolumeInfo> records;
  for (int32_t i = 0; i < 40; ++i) records.push_back({static_cast<uint8_t>(i), i * 7 % 41 - 20, i, ~uint64_t{0} - i});
  return records;
}

ref::RecordMap TableOf(const std::vector<_JxRestartVolumeInfo>& records) {
  ref::RecordMap map;
  for (const auto& r : records) map[r.srcVolId] = r;
  return map;
}

void ExpectRecordsMerged(const ref::RecordMap& before, const ref::RecordMap& added, const ref::RecordMap& after) {
  for (const auto& entry : after) {
    EXPECT_EQ(entry.first, entry.second.srcVolId);
    const bool old = before.count(entry.first) && ref::SameRecord(before.at(entry.first), entry.second);
    const bool fresh = added.count(entry.first) && ref::SameRecord(added.at(entry.first), entry.second);
    EXPECT_TRUE(old || fresh) << "record " << entry.first << " is half-written";
  }
  for (const auto& entry : before) {
    if (!added.count(entry.first)) {
      EXPECT_EQ(after.count(entry.first), 1u) << "record lost";
    }
  }
}

TEST(AllocationFailure, ConstructorsThrowWithoutLeaking) {
  const std::string text = ref::RenderVolumes(TableOf(ManyRecords()));
  std::unique_ptr<ZNJxRestart> made;
  for (int fromText = 0; fromText < 2; ++fromText) {
    const long allocations = FailEachAllocation(
        [&] { made.reset(); },
        [&] { made.reset(fromText ? new ZNJxRestart(text.c_str()) : new ZNJxRestart(ManyRecords())); },
        [&](bool threw) {
          EXPECT_EQ(made == nullptr, threw);
          if (!threw) {
            EXPECT_TRUE(ref::SameRecords(made->volumeInfoMap, TableOf(ManyRecords())));
          }
        });
    EXPECT_GT(allocations, 40);
  }
  FailEachAllocation([] {}, [] { JxRestartability tracker; }, [](bool) {});
}

struct TableCase {
  const char* name;
  std::function<bool(ZNJxRestart&)> operation;
  std::vector<_JxRestartVolumeInfo> adds;
};

TEST(AllocationFailure, RecordTableOperationsLeaveAPromisedState) {
  const std::string text = ref::RenderVolumes(TableOf(ManyRecords()));
  const TableCase kCases[] = {
      {"initialize records", [](ZNJxRestart& z) { return z.InitializeRestartVolInfo(ManyRecords()); }, ManyRecords()},
      {"initialize text", [&](ZNJxRestart& z) { return z.InitializeRestartVolInfo(text.c_str()); }, ManyRecords()},
      {"add",
       [](ZNJxRestart& z) {
         return z.AddVolumeInfo({1, 77, 2, 3});
       },
       {{1, 77, 2, 3}}},
      {"replace",
       [](ZNJxRestart& z) {
         return z.AddVolumeInfo({1, 5, 2, 3});
       },
       {{1, 5, 2, 3}}},
      {"set offset", [](ZNJxRestart& z) { return z.SetOffsetForSrcVolId(5, 1); }, {{9, 5, 9, 1}}},
  };
  for (const TableCase& c : kCases) {
    std::unique_ptr<ZNJxRestart> z;
    const ref::RecordMap before = {{5, {9, 5, 9, 9}}, {-100, {1, -100, 1, 1}}};
    FailEachAllocation(
        [&] {
          z.reset(new ZNJxRestart(std::vector<_JxRestartVolumeInfo>{{9, 5, 9, 9}, {1, -100, 1, 1}}));
        },
        [&] { EXPECT_TRUE(c.operation(*z)) << c.name; },
        [&](bool) {
          ExpectRecordsMerged(before, TableOf(c.adds), z->volumeInfoMap);
          EXPECT_TRUE(z->isValid);
          std::string out;
          EXPECT_TRUE(z->GetCurrentRestartString(out));
          EXPECT_EQ(out, ref::RenderVolumes(z->volumeInfoMap)) << c.name;
        });
  }
}

// Out of order, with a repeat and a record held before the call: the
// reader stores item by item, so a failure leaves exactly the records of
// the items before the one it was storing, and later failures leave longer
// prefixes.
TEST(AllocationFailure, ReaderStoresAPrefixOfTheItemsInTextOrder) {
  std::vector<_JxRestartVolumeInfo> items;
  for (int32_t id = 20; id >= 1; --id) items.push_back({1, id, id, static_cast<uint64_t>(id)});
  items.push_back({2, 10, 0, 100});
  items.push_back({3, 5, 0, 500});
  std::string text;
  for (const auto& item : items) text += ref::RenderVolumes(TableOf({item}));
  const std::vector<_JxRestartVolumeInfo> held = {{9, 5, 9, 9}, {1, -100, 1, 1}};
  std::vector<ref::RecordMap> prefixes(1, TableOf(held));
  for (const auto& item : items) {
    prefixes.push_back(prefixes.back());
    prefixes.back()[item.srcVolId] = item;
  }
  std::unique_ptr<ZNJxRestart> z;
  size_t lastPrefix = 0;
  const long allocations = FailEachAllocation(
      [&] { z.reset(new ZNJxRestart(held)); }, [&] { EXPECT_TRUE(z->InitializeRestartVolInfo(text.c_str())); },
      [&](bool threw) {
        size_t prefix = 0;
        while (prefix < prefixes.size() && !ref::SameRecords(z->volumeInfoMap, prefixes[prefix])) ++prefix;
        ASSERT_LT(prefix, prefixes.size()) << "the table holds no prefix of the items";
        EXPECT_GE(prefix, lastPrefix);
        EXPECT_EQ(prefix == items.size(), !threw);
        lastPrefix = prefix;
      });
  EXPECT_EQ(allocations, 19) << "one node for each source id not held before";
}

TEST(AllocationFailure, WriterLeavesTheCallersStringWholeOrComplete) {
  ZNJxRestart z(ManyRecords());
  std::string out;
  const std::string expected = ref::RenderVolumes(TableOf(ManyRecords()));
  const long allocations =
      FailEachAllocation([&] { out = "previous"; }, [&] { EXPECT_TRUE(z.GetCurrentRestartString(out)); },
                         [&](bool threw) { EXPECT_EQ(out, threw ? "previous" : expected); });
  EXPECT_GT(allocations, 0);
}

}  // namespace
