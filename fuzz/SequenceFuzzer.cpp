// Runs of tracker and record-table operations decoded from the input, with
// the promises of the interface checked after every step: a refusal changes
// nothing, an operation never touches the other restart type's map, a
// successful change leaves the job restart string rendering the map and a
// failed rebuild leaves it empty, out-parameters are written only on
// success, the record table's validity never changes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "reference/Reference.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

namespace ref = jxrestart::reference;

namespace {

// Hands out the input's bytes as the operations' arguments; zeros once
// they run out.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), left_(size) {}

  bool Empty() const { return left_ == 0; }
  uint8_t Byte() {
    if (left_ == 0) return 0;
    --left_;
    return *data_++;
  }

  // Mostly the values at the edges of the rules, sometimes any 32 bits.
  int32_t Int() {
    static const int32_t kEdges[] = {0, 1, 2, 3, -1, -2, 7, 17, INT32_MAX, INT32_MIN, 100};
    const uint8_t pick = Byte();
    if (pick < 224) return kEdges[pick % (sizeof kEdges / sizeof kEdges[0])];
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return static_cast<int32_t>(value);
  }

  uint64_t Offset() {
    uint64_t value = 0;
    for (int i = Byte() % 9; i > 0; --i) value = value << 8 | Byte();
    return value;
  }

  std::string Text(size_t longest = 24) {
    std::string text;
    for (size_t n = Byte() % (longest + 1); n > 0 && !Empty(); --n) text.push_back(static_cast<char>(Byte()));
    return text;
  }

  _JxRestartVolumeInfo Record() { return {Byte(), Int() % 8, Int(), Offset()}; }

  std::vector<_JxRestartVolumeInfo> Records() {
    std::vector<_JxRestartVolumeInfo> records(Byte() % 4);
    for (auto& r : records) r = Record();
    return records;
  }

 private:
  const uint8_t* data_;
  size_t left_;
};

// A tracker whose rebuild can be made to fail, and that counts rebuilds.
class Tracker : public JxRestartability {
 public:
  bool BuildJobRestartString() override {
    ++builds;
    if (failBuilds) {
      restartString.clear();
      return false;
    }
    return JxRestartability::BuildJobRestartString();
  }
  int builds = 0;
  bool failBuilds = false;
};

constexpr int32_t kSentinel = 0x5a5a5a5a;

struct TrackerState {
  ref::IdMap ids;
  ref::NameMap names;
  std::string restartString;
  int32_t type;
  bool operator==(const TrackerState& o) const {
    return ids == o.ids && names == o.names && restartString == o.restartString && type == o.type;
  }
};

TrackerState StateOf(const Tracker& t) {
  return {t.volumeOffsetMap, t.volumeNameOffsetMap, t.restartString, t.restartType};
}

std::string Name(Input& in) { return in.Text(6); }

void TrackerStep(Tracker& t, Input& in) {
  const TrackerState before = StateOf(t);
  const int builds = t.builds;
  int32_t out = kSentinel;
  bool changing = true;
  bool result = false;
  const int op = in.Byte() % 13;
  switch (op) {
    case 0: {
      const int32_t type = in.Int() % 3;
      result = t.SetRestartType(type);
      FUZZ_CHECK(result == (type == 0 || type == 1));
      FUZZ_CHECK(t.restartType == (result ? type : before.type));
      changing = false;
      break;
    }
    case 1: {
      std::vector<RecoveryVolData_t> ids(in.Byte() % 4);
      for (auto& id : ids) id.volId = in.Int() % 8;
      result = t.PopulateVolumeOffsetMap(ids);
      break;
    }
    case 2: {
      std::vector<std::string> names(in.Byte() % 4);
      for (auto& name : names) name = Name(in);
      result = t.PopulateVolumeOffsetMap(names);
      break;
    }
    case 3:
      result = t.UpdateJobRestartInfoMapAndString(in.Int() % 8, in.Int());
      break;
    case 4:
      result = t.UpdateJobRestartInfoMapAndString(Name(in), in.Int());
      break;
    case 5: {
      const int32_t id = in.Int() % 8;
      result = t.GetBMOffsetFromVolId(id, &out);
      FUZZ_CHECK(out == (result ? t.volumeOffsetMap.at(id) : kSentinel));
      changing = false;
      break;
    }
    case 6: {
      const std::string name = Name(in);
      result = t.GetBMOffsetFromVolId(name, &out);
      FUZZ_CHECK(out == (result ? t.volumeNameOffsetMap.at(name) : kSentinel));
      changing = false;
      break;
    }
    case 7:
      result = t.InsertIntoVolumeOffsetMap(in.Int() % 8, in.Int());
      break;
    case 8:
      result = t.InsertIntoVolumeOffsetMap(Name(in), in.Int());
      break;
    case 9:
      FUZZ_CHECK(!t.FigureOutSNRIdFromVolName(Name(in), &out) && out == kSentinel);
      changing = false;
      break;
    case 10:
      result = t.BuildJobRestartString();
      changing = false;
      break;
    case 11: {
      std::string input = in.Text();
      const std::string copy = input;
      result = t.ParseRestartInputFromJM(in.Byte() % 16 == 0 ? nullptr : &input[0]);
      FUZZ_CHECK(input == copy);
      if (before.type == 0 && t.builds != builds) {  // read: compare with the plain reading
        ref::IdMap expected = before.ids;
        ref::ParseRestartInput(copy, &expected);
        FUZZ_CHECK(t.volumeOffsetMap == expected);
      }
      break;
    }
    default:
      t.failBuilds = !t.failBuilds;
      return;
  }
  const bool rebuilt = t.builds != builds;
  const TrackerState after = StateOf(t);
  if (op != 0) FUZZ_CHECK(after.type == before.type);
  FUZZ_CHECK(before.type == 0 ? after.names == before.names : after.ids == before.ids);
  if (!result && !rebuilt) FUZZ_CHECK(after == before);  // refused: nothing changed
  if (!changing && op != 10) FUZZ_CHECK(!rebuilt && after.ids == before.ids && after.names == before.names);
  if (changing && result) FUZZ_CHECK(rebuilt);
  if (rebuilt && !result) FUZZ_CHECK(after.restartString.empty());
  if (rebuilt && result) {
    FUZZ_CHECK(after.restartString == (after.type == 0 ? ref::RenderJob(after.ids) : ref::RenderJob(after.names)));
  }
}

// The record table, with the validity its constructor gave it.
struct Table {
  std::unique_ptr<ZNJxRestart> object;
  bool valid = false;
};

void MakeTable(Table& table, Input& in) {
  if (in.Byte() % 2) {
    const std::string text = in.Text(40);
    table.object.reset(new ZNJxRestart(text.c_str()));
  } else {
    table.object.reset(new ZNJxRestart(in.Records()));
  }
  table.valid = table.object->isValid;
}

void TableStep(Table& table, Input& in) {
  ZNJxRestart& z = *table.object;
  const ref::RecordMap before = z.volumeInfoMap;
  const bool usable = table.valid && !before.empty();
  const int op = in.Byte() % 12;
  const int32_t id = in.Int() % 8;
  const bool found = usable && before.count(id) == 1;
  ref::RecordMap expected = before;
  bool result = false;
  switch (op) {
    case 0: {
      uint64_t offset = 0x5a5a;
      result = z.GetOffsetForSrcVolId(id, offset);
      FUZZ_CHECK(offset == (found ? before.at(id).offset : 0x5a5a));
      break;
    }
    case 1: {
      int32_t dest = kSentinel;
      result = z.GetDestVolIdForSrcVolId(id, dest);
      FUZZ_CHECK(dest == (found ? before.at(id).destVolId : kSentinel));
      break;
    }
    case 2: {
      _JxCopyType type = static_cast<_JxCopyType>(kSentinel);
      result = z.GetCopyTypeForSrcVolId(id, type);
      FUZZ_CHECK(type == (found ? before.at(id).copyType : kSentinel));
      break;
    }
    case 3: {
      const uint64_t offset = in.Offset();
      result = z.SetOffsetForSrcVolId(id, offset);
      if (found) expected[id].offset = offset;
      break;
    }
    case 4: {
      const int32_t dest = in.Int();
      result = z.SetDestVolIdForSrcVolId(id, dest);
      if (found) expected[id].destVolId = dest;
      break;
    }
    case 5: {
      const int32_t type = in.Int();
      result = z.SetCopyTypeForSrcVolId(id, static_cast<_JxCopyType>(type));
      if (found) expected[id].copyType = static_cast<uint8_t>(type);
      break;
    }
    case 6: {
      const _JxRestartVolumeInfo record = in.Record();
      result = z.AddVolumeInfo(record);
      FUZZ_CHECK(result == usable);
      if (usable) expected[record.srcVolId] = record;
      break;
    }
    case 7: {
      const auto records = in.Records();
      result = z.InitializeRestartVolInfo(records);
      FUZZ_CHECK(result == !records.empty());
      for (const auto& r : records) expected[r.srcVolId] = r;
      break;
    }
    case 8:
    case 9: {
      const std::string text = in.Text(40);
      result = op == 8 ? z.InitializeRestartVolInfo(text.c_str()) : z.ParseRestartString(text.c_str());
      FUZZ_CHECK(result == ref::ParseVolumes(text, &expected));
      break;
    }
    case 10: {
      std::string out = "untouched";
      result = z.GetCurrentRestartString(out);
      FUZZ_CHECK(result == usable);
      FUZZ_CHECK(out == (result ? ref::RenderVolumes(before) : "untouched"));
      break;
    }
    default:
      MakeTable(table, in);
      return;
  }
  if (op <= 5) FUZZ_CHECK(result == found);
  FUZZ_CHECK(z.isValid == table.valid);
  FUZZ_CHECK(ref::SameRecords(z.volumeInfoMap, expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ListeningLog log(size > 0 && data[size - 1] % 4 == 0);
  Input in(data, size);
  Tracker tracker;
  Table table;
  MakeTable(table, in);
  for (int steps = 0; !in.Empty() && steps < 200; ++steps) {
    if (in.Byte() % 2) {
      TrackerStep(tracker, in);
    } else {
      TableStep(table, in);
    }
  }
  return 0;
}
