#include "tools/jxrestart/Check.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "restart/internal/RestartInput.h"
#include "restart/internal/TextFormat.h"
#include "restart/internal/VolumeItem.h"

namespace jxrestart {
namespace tool {

namespace in = jxrestart::internal;

const char* KindName(TextKind kind) {
  switch (kind) {
    case TextKind::kJob:
      return "job restart string";
    case TextKind::kInput:
      return "restart input";
    case TextKind::kVolumes:
      return "volume restart string";
    case TextKind::kUnknown:
      break;
  }
  return "text";
}

namespace {

constexpr size_t kPrefixLength = sizeof in::kJobRestartPrefix - 1;

bool HasPrefix(const char* text) { return std::strncmp(text, in::kJobRestartPrefix, kPrefixLength) == 0; }

std::string Number(int64_t value) { return std::to_string(value); }

}  // namespace

const char* JobItems(const char* text) {
  const char* start = in::SkipLeadingSpaces(text);
  return HasPrefix(start) ? start + kPrefixLength : text;
}

TextKind KindOf(const std::string& text) {
  const char* start = in::SkipLeadingSpaces(text.c_str());
  if (HasPrefix(start)) return TextKind::kJob;
  const bool items = text.find(in::kItemTerminator) != std::string::npos;
  const bool records = text.find(in::kRecordTerminator) != std::string::npos;
  if (records && !items) return TextKind::kVolumes;
  if (items && !records) return TextKind::kInput;
  return TextKind::kUnknown;
}

void Deviations::Add(size_t offset, std::string problem, std::string effect) {
  if (count_++ < kKept) kept_.push_back({offset, std::move(problem), std::move(effect)});
}

void Deviations::Sort() {
  std::stable_sort(kept_.begin(), kept_.end(),
                   [](const Deviation& a, const Deviation& b) { return a.offset < b.offset; });
}

std::string Printable(const char* begin, const char* end, size_t longest) {
  std::string out;
  const size_t length = static_cast<size_t>(end - begin);
  for (const char* p = begin; p != begin + std::min(length, longest); ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
      out.push_back(static_cast<char>(c));
    } else {
      static const char kHex[] = "0123456789abcdef";
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    }
  }
  if (length > longest) out += "...";
  return out;
}

namespace {

// Reads [begin, end) as a number as the library writes it: "0", or an
// optional '-' and digits without a leading zero; never "-0", "+", spaces
// or anything after it. Returns false for anything else, and for a number
// beyond 64 bits.
bool ReadPlainDecimal(const char* begin, const char* end, int64_t* value) {
  const bool negative = begin != end && *begin == '-';
  const char* p = begin + (negative ? 1 : 0);
  if (p == end || (*p == '0' && (end - p > 1 || negative))) return false;
  constexpr ptrdiff_t kMostDigits = 19;  // 19 digits fit in 64 bits unsigned
  if (end - p > kMostDigits) return false;
  uint64_t magnitude = 0;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
    if (digit > 9) return false;
    magnitude = magnitude * 10 + digit;
  }
  if (magnitude > (negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1)) return false;
  *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

// Whether [begin, end) is digits as the library writes them, whatever
// their size.
bool IsPlainDigits(const char* begin, const char* end) {
  const char* digits = begin + (begin != end && *begin == '-' ? 1 : 0);
  if (digits == end || (*digits == '0' && (end - digits > 1 || digits != begin))) return false;
  return std::all_of(digits, end, [](char c) { return c >= '0' && c <= '9'; });
}

using Field = in::NumberToken;

// Checks that `field` is a plain decimal from `min` to `max`, storing it in
// *value. Otherwise adds the deviation, with what the library reads
// instead (`readAs`), and returns false.
__attribute__((noinline)) void ReportNumber(const char* base, const Field& f, const char* what, int64_t min,
                                            int64_t max, int64_t readAs, Deviations* d);

inline bool CheckNumber(const char* base, const Field& f, const char* what, int64_t min, int64_t max, int64_t readAs,
                        Deviations* d, int64_t* value) {
  if (ReadPlainDecimal(f.begin, f.end, value) && *value >= min && *value <= max) return true;
  ReportNumber(base, f, what, min, max, readAs, d);
  return false;
}

void ReportNumber(const char* base, const Field& f, const char* what, int64_t min, int64_t max, int64_t readAs,
                  Deviations* d) {
  const size_t at = static_cast<size_t>(f.begin - base);
  const std::string named = std::string(what) + " " + Quote(f.begin, f.end);
  if (IsPlainDigits(f.begin, f.end)) {
    d->Add(at, named + " is out of range (" + Number(min) + " to " + Number(max) + ")", "it becomes " + Number(readAs));
  } else if (f.begin == f.end) {
    d->Add(at, std::string("empty ") + what, "it reads as " + Number(readAs));
  } else if (f.numberEnd == f.begin) {
    d->Add(at, named + " is not a number", "it reads as " + Number(readAs));
  } else if (std::memchr(f.numberEnd, in::kFieldSeparator, static_cast<size_t>(f.end - f.numberEnd)) != nullptr &&
             *f.end == in::kRecordTerminator) {
    d->Add(static_cast<size_t>(f.numberEnd - base), "a record with more than four fields: " + Quote(f.numberEnd, f.end),
           "the fields after the fourth are ignored");
  } else if (f.numberEnd != f.end) {
    d->Add(static_cast<size_t>(f.numberEnd - base), named + " has text after its number",
           "the text is ignored: it reads as " + Number(readAs));
  } else {
    d->Add(at, named + " is not written as the library writes numbers", "it reads as " + Number(readAs));
  }
}

// Reports each key given again, at its later place.
struct Keyed {
  int64_t key;
  size_t offset;
};
void ReportRepeats(const std::vector<Keyed>& keyed, const std::string& what, const char* effect, Deviations* d) {
  const bool ascending = std::adjacent_find(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
                           return a.key >= b.key;
                         }) == keyed.end();
  if (ascending) return;  // the usual case, as the library writes its texts
  std::unordered_map<int64_t, size_t> first;
  for (const Keyed& k : keyed) {
    auto seen = first.emplace(k.key, k.offset);
    if (!seen.second) {
      d->Add(k.offset,
             what + " " + Number(k.key) + " is given again (first at byte " + Number(seen.first->second + 1) + ")",
             effect);
    }
  }
}

void CheckNul(const std::string& text, Deviations* d) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    d->Add(nul, "a NUL byte", "the library's text ends here: what follows is never read");
  }
}

// Only a text the library reads can begin with spaces that it skips.
void CheckLeadingSpaces(const char* base, Deviations* d) {
  if (*base == in::kLeadingSpace) d->Add(0, "the text begins with spaces", "they are skipped");
}

// Follows the library's reading of a restart input token by token.
class JobChecker {
 public:
  JobChecker(const char* base, JobReading* check) : base_(base), check_(check) {}

  void Stored(const in::InputToken& key, const in::InputToken& offset) {
    Deviations& d = check_->deviations;
    auto pair = [&] { return "volume " + Number(key.value()) + " at offset " + Number(offset.value()); };
    bool good = true;
    if (offset.begin < key.begin) {
      good = false;
      d.Add(At(offset.begin), "offset " + Quote(offset.begin, offset.end) + " comes before its volume id",
            "the item is stored all the same: " + pair());
    }
    if (*offset.end != in::kItemTerminator) {
      good = false;
      d.Add(At(offset.end), "the last item has no closing '@'", "it is stored all the same: " + pair());
      if (key.value() == 0) {
        d.Add(At(key.begin), "volume 0 in the item with no closing '@'",
              "it is stored, but the rebuilt string closes it with '@', so a job restarted from that drops it");
      }
    }
    int64_t id = 0;
    int64_t at = 0;
    good &= CheckNumber(base_, key, "volume id", INT32_MIN, INT32_MAX, key.value(), &d, &id);
    good &= CheckNumber(base_, offset, "offset", INT32_MIN, INT32_MAX, offset.value(), &d, &at);
    stored_.push_back({key.value(), At(key.begin)});
    if (good) check_->items.emplace_back(static_cast<int32_t>(id), static_cast<int32_t>(at));
  }

  void Dropped(const in::InputToken& key, const in::InputToken&) {
    const bool zero = key.end == key.begin + 1 && *key.begin == '0';
    check_->deviations.Add(At(key.begin),
                           zero ? "volume id 0" : "volume id " + Quote(key.begin, key.end) + " reads as 0",
                           "the item is dropped");
    ++dropped_;
  }

  void Unused(const in::InputToken& token) {
    const std::string text = Quote(token.begin, token.end);
    if (*token.end == '\0') {
      check_->deviations.Add(At(token.begin), "text after the last item: " + text, "it is never read");
    } else if (*token.end == in::kKeySeparator) {
      check_->deviations.Add(At(token.begin), "volume id " + text + " has no offset after it", "it is ignored");
    } else {
      check_->deviations.Add(At(token.begin), "offset " + text + " has no volume id before it", "it is ignored");
    }
  }

  void Finish(const char* items) {
    if (stored_.empty() && dropped_ == 0) {
      check_->deviations.Add(At(items), "no item", "a restarted job gets no volume from this text");
    }
    ReportRepeats(stored_, "volume", "the later offset replaces the earlier one", &check_->deviations);
  }

 private:
  size_t At(const char* p) const { return static_cast<size_t>(p - base_); }

  const char* base_;
  JobReading* check_;
  std::vector<Keyed> stored_;
  size_t dropped_ = 0;
};

}  // namespace

JobReading CheckJob(const std::string& text) {
  JobReading check;
  Deviations& d = check.deviations;
  const char* base = text.c_str();
  CheckNul(text, &d);
  CheckLeadingSpaces(base, &d);
  const char* items = JobItems(base);
  if (items != base) {
    check.prefixed = true;
    if (*items == in::kLeadingSpace) {
      d.Add(static_cast<size_t>(items - base), "more than one space after \"-Restart\"", "they are skipped");
    }
  } else if (const char* prefix = std::strstr(base, in::kJobRestartPrefix)) {
    d.Add(static_cast<size_t>(prefix - base),
          "\"-Restart \" does not begin the text (a line of a log? 'jxrestart log' reads logs)",
          "it is read as part of an item, with all that comes before it");
  }
  JobChecker checker(base, &check);
  in::ScanRestartInput(items, checker);
  checker.Finish(items);
  d.Sort();
  return check;
}

namespace {

// Checks the four fields of a record; stores it in *record when all are
// well formed.
bool CheckRecord(const char* base, const in::VolumeItem& item, Deviations* d, _JxRestartVolumeInfo* record) {
  const in::VolumeField* f = item.fields;
  int64_t copyType = 0, source = 0, destination = 0, offset = 0;
  bool good = CheckNumber(base, f[0], "copy type", 0, 255, static_cast<uint8_t>(f[0].value()), d, &copyType);
  good &= CheckNumber(base, f[1], "source volume", INT32_MIN, INT32_MAX, f[1].value(), d, &source);
  good &= CheckNumber(base, f[2], "destination volume", INT32_MIN, INT32_MAX, f[2].value(), d, &destination);
  good &= CheckNumber(base, f[3], "offset", INT64_MIN, INT64_MAX, f[3].number, d, &offset);
  *record = {static_cast<uint8_t>(copyType), static_cast<int32_t>(source), static_cast<int32_t>(destination),
             static_cast<uint64_t>(offset)};
  return good;
}

}  // namespace

VolumeReading CheckVolumes(const std::string& text) {
  VolumeReading check;
  Deviations& d = check.deviations;
  const char* base = text.c_str();
  CheckNul(text, &d);
  const size_t length = std::strlen(base);
  if (length < in::kShortestReadableText) {
    d.Add(0, "the text is only " + Number(static_cast<int64_t>(length)) + (length == 1 ? " byte" : " bytes") + " long",
          "the library does not read a text shorter than " + Number(in::kShortestReadableText) +
              " bytes: the object is invalid and holds no record");
    d.Sort();
    return check;
  }
  CheckLeadingSpaces(base, &d);
  std::vector<Keyed> sources;
  in::VolumeItem item;
  in::ItemRead read;
  const char* next = in::SkipLeadingSpaces(base);
  for (; (read = in::ReadVolumeItem(next, &item)) == in::ItemRead::kRecord; next = item.end + 1) {
    _JxRestartVolumeInfo record;
    if (CheckRecord(base, item, &d, &record)) check.records.push_back(record);
    sources.push_back({item.fields[1].value(), static_cast<size_t>(item.begin - base)});
  }
  const size_t at = static_cast<size_t>(next - base);
  if (read == in::ItemRead::kInvalid) {
    d.Add(at,
          "item " + Quote(item.begin, item.end) + " has " + Number(item.fieldCount) +
              (item.fieldCount == 1 ? " field" : " fields") + ", not 4",
          "the reading stops here: the object is invalid; it keeps the " +
              Number(static_cast<int64_t>(sources.size())) + (sources.size() == 1 ? " record" : " records") +
              " before it and reads nothing after it");
  } else if (*next != '\0') {
    d.Add(at, "text after the last '$': " + Quote(next, base + length), "it is never read");
  }
  if (sources.empty() && read != in::ItemRead::kInvalid) {
    d.Add(at, "no record", "the object holds no record: a restarted job gets nothing from it");
  }
  ReportRepeats(sources, "source volume", "the later record replaces the earlier one", &d);
  d.Sort();
  return check;
}

}  // namespace tool
}  // namespace jxrestart
