// The strict reading of the restart texts: the texts as the library writes
// them are read in one quick pass; any other text is walked token by token
// or item by item as the library reads it, and every departure from the
// grammar is reported with what the library makes of it.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "restart/internal/RestartInput.h"
#include "restart/internal/TextFormat.h"
#include "restart/internal/VolumeItem.h"
#include "tools/jxrestart/Examination.h"
#include "tools/jxrestart/Numbers.h"

namespace jxrestart {
namespace tool {

namespace in = jxrestart::internal;

namespace {

constexpr std::string_view kPrefix = in::kJobRestartPrefix;

std::string Number(int64_t value) { return std::to_string(value); }

bool HasPrefix(std::string_view text) { return text.compare(0, kPrefix.size(), kPrefix) == 0; }

}  // namespace

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

size_t JobItemsAt(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && text[start] == in::kLeadingSpace) ++start;
  return HasPrefix(text.substr(start)) ? start + kPrefix.size() : 0;
}

char TerminatorOf(Family family) {
  return family == Family::kJob ? in::kItemTerminator : in::kRecordTerminator;
}

TextKind KindOf(std::string_view text) {
  if (JobItemsAt(text) != 0) return TextKind::kJob;
  const bool items = text.find(in::kItemTerminator) != std::string_view::npos;
  const bool records = text.find(in::kRecordTerminator) != std::string_view::npos;
  if (records && !items) return TextKind::kVolumes;
  if (items && !records) return TextKind::kInput;
  return TextKind::kUnknown;
}

void Deviations::Add(size_t offset, std::string problem, std::string effect) {
  ++count_;
  kept_.push_back({offset, std::move(problem), std::move(effect)});
  if (kept_.size() > 2 * kShown) Sort();
}

void Deviations::Sort() {
  std::stable_sort(kept_.begin(), kept_.end(), [](const Deviation& a, const Deviation& b) { return a.offset < b.offset; });
  if (kept_.size() > kShown) kept_.resize(kShown);
}

std::string Printable(std::string_view text, size_t longest) {
  std::string out;
  for (const char c : text.substr(0, longest)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7f && u != '\\' && u != '"') {
      out.push_back(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      out += {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
    }
  }
  if (text.size() > longest) out += "...";
  return out;
}

namespace {

// The texts as the library writes them, in one pass.

// The value of the first `count` (1 to 8) digits of `bytes`, all at once.
inline uint64_t ValueOf(uint64_t bytes, int count) {
  uint64_t v = (bytes ^ 0x3030303030303030ull) << (8 * (8 - count));  // leading zeros in front
  v = v * 10 + (v >> 8);
  return (((v & 0x000000ff000000ffull) * 0x000f424000000064ull) +
          (((v >> 16) & 0x000000ff000000ffull) * 0x0000271000000001ull)) >> 32;
}

// The value of `count` (1 to 7) digits at `p`, which has 8 bytes to read.
inline uint64_t ShortValue(const char* p, int count) {
  if (count <= 4) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    v = (v ^ 0x30303030u) << (8 * (4 - count));
    v = v * 10 + (v >> 8);
    return ((v & 0x00ff00ffu) * (1 + (100u << 16))) >> 16 & 0xffffu;
  }
  uint64_t bytes;
  std::memcpy(&bytes, p, 8);
  return ValueOf(bytes, count);
}

// Reads the usual item "<id>|<offset>@", each number of one to seven digits
// without a sign, as the library writes it, from one 16-byte load; false,
// without moving, for any other, which the reader below then reads. Needs
// 16 bytes after *at.
inline bool ReadShortItem(const char** at, int64_t* id, int64_t* offset) {
  const char* p = *at;
  const unsigned stops = NonDigitsOf16(p);
  // The second stop from the bits alone, not after the first: the next
  // item's load waits on it.
  const int idLength = __builtin_ctz(stops);
  const int end = __builtin_ctz(stops & (stops - 1));
  const int start = idLength + 1;
  const int offsetLength = end - start;
  if (idLength == 0 || idLength > 7 || offsetLength == 0 || offsetLength > 7 || p[idLength] != in::kKeySeparator ||
      p[start + offsetLength] != in::kItemTerminator || (p[0] == '0' && idLength > 1) ||
      (p[start] == '0' && offsetLength > 1)) {
    return false;
  }
  *id = static_cast<int64_t>(ShortValue(p, idLength));
  *offset = static_cast<int64_t>(ShortValue(p + start, offsetLength));
  *at = p + end + 1;
  return true;
}

// The same, ended by `stop`, which it steps past too.
inline bool ReadWritten(const char** at, const char* end, char stop, int digits, int64_t* value) {
  if (!ReadWrittenNumber(at, end, digits, value) || *at == end || **at != stop) return false;
  ++*at;
  return true;
}

bool IsInt32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// "-Restart " and items "<id>|<offset>@" in ascending order of id, or the
// same items alone (a restart input), and nothing else. Most lines of a
// job log are such strings, so the usual item, two numbers of up to seven
// digits, is read from one 16-byte load: `make bench-log` reads a log of
// 1,000-volume lines about twice as fast as digit by digit.
bool ReadWrittenJob(std::string_view text, StrictReading* r) {
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool prefixed = HasPrefix(text);
  if (prefixed) p += kPrefix.size();
  if (p == end) return false;
  int64_t last = INT64_MIN;
  for (int64_t id = 0, offset = 0; p != end; last = id) {
    if (end - p < 16 || !ReadShortItem(&p, &id, &offset)) {
      if (!ReadWritten(&p, end, in::kKeySeparator, 10, &id) || !IsInt32(id) ||
          !ReadWritten(&p, end, in::kItemTerminator, 10, &offset) || !IsInt32(offset)) {
        return false;
      }
    }
    if (id == 0 || id <= last) return false;
    r->items.emplace_back(static_cast<int32_t>(id), static_cast<int32_t>(offset));
  }
  r->kind = prefixed ? TextKind::kJob : TextKind::kInput;
  return true;
}

// Records "<copy type>|<source>|<destination>|<offset>$" in ascending order
// of source, and nothing else.
bool ReadWrittenVolumes(std::string_view text, StrictReading* r) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (text.size() < in::kShortestReadableText) return false;
  int64_t last = INT64_MIN;
  for (int64_t type = 0, source = 0, destination = 0, offset = 0; p != end; last = source) {
    if (!ReadWritten(&p, end, in::kFieldSeparator, 3, &type) || type < 0 || type > 255 ||
        !ReadWritten(&p, end, in::kFieldSeparator, 10, &source) || source <= last || !IsInt32(source) ||
        !ReadWritten(&p, end, in::kFieldSeparator, 10, &destination) || !IsInt32(destination) ||
        !ReadWritten(&p, end, in::kRecordTerminator, 19, &offset)) {
      return false;
    }
    r->records.push_back({static_cast<uint8_t>(type), static_cast<int32_t>(source), static_cast<int32_t>(destination),
                          static_cast<uint64_t>(offset)});
  }
  r->kind = TextKind::kVolumes;
  return true;
}

// Any other text, step by step as the library reads it.

// Reads [begin, end) as a number as the library writes it, of any size;
// false for anything else and for a number beyond 64 bits.
bool ReadPlainDecimal(const char* begin, const char* end, int64_t* value) {
  const char* p = begin;
  return ReadWrittenNumber(&p, end, 19, value) && p == end;
}

// Whether [begin, end) is digits as the library writes them, whatever
// their size.
bool IsPlainDigits(const char* begin, const char* end) {
  const char* digits = begin + (begin != end && *begin == '-' ? 1 : 0);
  if (digits == end || (*digits == '0' && (end - digits > 1 || digits != begin))) return false;
  return std::all_of(digits, end, IsDigit);
}

std::string QuoteRange(const char* begin, const char* end) {
  return Quote(std::string_view(begin, static_cast<size_t>(end - begin)));
}

using Field = in::NumberToken;

void ReportNumber(const char* base, const Field& f, const char* what, int64_t min, int64_t max, int64_t readAs,
                  Deviations* d) {
  const size_t at = static_cast<size_t>(f.begin - base);
  const std::string named = std::string(what) + " " + QuoteRange(f.begin, f.end);
  if (IsPlainDigits(f.begin, f.end)) {
    d->Add(at, named + " is out of range (" + Number(min) + " to " + Number(max) + ")", "it becomes " + Number(readAs));
  } else if (f.begin == f.end) {
    d->Add(at, std::string("empty ") + what, "it reads as " + Number(readAs));
  } else if (f.numberEnd == f.begin) {
    d->Add(at, named + " is not a number", "it reads as " + Number(readAs));
  } else if (std::memchr(f.numberEnd, in::kFieldSeparator, static_cast<size_t>(f.end - f.numberEnd)) != nullptr &&
             *f.end == in::kRecordTerminator) {
    d->Add(static_cast<size_t>(f.numberEnd - base),
           "a record with more than four fields: " + QuoteRange(f.numberEnd, f.end),
           "the fields after the fourth are ignored");
  } else if (f.numberEnd != f.end) {
    d->Add(static_cast<size_t>(f.numberEnd - base), named + " has text after its number",
           "the text is ignored: it reads as " + Number(readAs));
  } else {
    d->Add(at, named + " is not written as the library writes numbers", "it reads as " + Number(readAs));
  }
}

// Checks that `f` is a plain decimal from `min` to `max`, storing it in
// *value; otherwise reports it, with what the library reads instead.
bool CheckNumber(const char* base, const Field& f, const char* what, int64_t min, int64_t max, int64_t readAs,
                 Deviations* d, int64_t* value) {
  if (ReadPlainDecimal(f.begin, f.end, value) && *value >= min && *value <= max) return true;
  ReportNumber(base, f, what, min, max, readAs, d);
  return false;
}

// Reports each key given again, at its later place.
struct Keyed {
  int64_t key;
  size_t offset;
};
void ReportRepeats(const std::vector<Keyed>& keyed, const std::string& what, const char* effect, Deviations* d) {
  const auto notAscending = [](const Keyed& a, const Keyed& b) { return a.key >= b.key; };
  if (std::adjacent_find(keyed.begin(), keyed.end(), notAscending) == keyed.end()) return;
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
  if (nul != std::string::npos) d->Add(nul, "a NUL byte", "the library's text ends here: what follows is never read");
}

// Only a text the library reads can begin with spaces that it skips.
void CheckLeadingSpaces(const char* base, Deviations* d) {
  if (*base == in::kLeadingSpace) d->Add(0, "the text begins with spaces", "they are skipped");
}

// Follows the library's reading of a restart input token by token.
class JobChecker {
 public:
  JobChecker(const char* base, StrictReading* reading) : base_(base), r_(reading) {}

  void Stored(const in::InputToken& key, const in::InputToken& offset) {
    Deviations& d = r_->deviations;
    const std::string pair = "volume " + Number(key.value()) + " at offset " + Number(offset.value());
    bool good = true;
    if (offset.begin < key.begin) {
      good = false;
      d.Add(At(offset.begin), "offset " + QuoteRange(offset.begin, offset.end) + " comes before its volume id",
            "the item is stored all the same: " + pair);
    }
    if (*offset.end != in::kItemTerminator) {
      good = false;
      d.Add(At(offset.end), "the last item has no closing '@'", "it is stored all the same: " + pair);
      if (key.value() == 0) {
        d.Add(At(key.begin), "volume 0 in the item with no closing '@'",
              "it is stored, but the rebuilt string closes it with '@', so a job restarted from that drops it");
      }
    }
    int64_t id = 0, at = 0;
    good &= CheckNumber(base_, key, "volume id", INT32_MIN, INT32_MAX, key.value(), &d, &id);
    good &= CheckNumber(base_, offset, "offset", INT32_MIN, INT32_MAX, offset.value(), &d, &at);
    stored_.push_back({key.value(), At(key.begin)});
    if (good) r_->items.emplace_back(static_cast<int32_t>(id), static_cast<int32_t>(at));
  }

  void Dropped(const in::InputToken& key, const in::InputToken&) {
    const bool zero = key.end == key.begin + 1 && *key.begin == '0';
    r_->deviations.Add(At(key.begin), zero ? "volume id 0" : "volume id " + QuoteRange(key.begin, key.end) + " reads as 0",
                       "the item is dropped");
    ++dropped_;
  }

  void Unused(const in::InputToken& token) {
    const std::string text = QuoteRange(token.begin, token.end);
    if (*token.end == '\0') {
      r_->deviations.Add(At(token.begin), "text after the last item: " + text, "it is never read");
    } else if (*token.end == in::kKeySeparator) {
      r_->deviations.Add(At(token.begin), "volume id " + text + " has no offset after it", "it is ignored");
    } else {
      r_->deviations.Add(At(token.begin), "offset " + text + " has no volume id before it", "it is ignored");
    }
  }

  void Finish(const char* items) {
    if (stored_.empty() && dropped_ == 0) {
      r_->deviations.Add(At(items), "no item", "a restarted job gets no volume from this text");
    }
    ReportRepeats(stored_, "volume", "the later offset replaces the earlier one", &r_->deviations);
  }

 private:
  size_t At(const char* p) const { return static_cast<size_t>(p - base_); }

  const char* base_;
  StrictReading* r_;
  std::vector<Keyed> stored_;
  size_t dropped_ = 0;
};

void CheckJob(const std::string& text, StrictReading* r) {
  Deviations& d = r->deviations;
  const char* base = text.c_str();
  CheckNul(text, &d);
  CheckLeadingSpaces(base, &d);
  const char* items = base + JobItemsAt(base);
  r->kind = items != base ? TextKind::kJob : TextKind::kInput;
  if (items != base && *items == in::kLeadingSpace) {
    d.Add(static_cast<size_t>(items - base), "more than one space after \"-Restart\"", "they are skipped");
  } else if (const char* prefix = items == base ? std::strstr(base, in::kJobRestartPrefix) : nullptr) {
    d.Add(static_cast<size_t>(prefix - base),
          "\"-Restart \" does not begin the text (a line of a log? 'jxrestart log' reads logs)",
          "it is read as part of an item, with all that comes before it");
  }
  JobChecker checker(base, r);
  in::ScanRestartInput(items, checker);
  checker.Finish(items);
}

// Checks the four fields of a record; stores it when all are well formed.
void CheckRecord(const char* base, const in::VolumeItem& item, StrictReading* r) {
  const in::VolumeField* f = item.fields;
  Deviations* d = &r->deviations;
  int64_t type = 0, source = 0, destination = 0, offset = 0;
  bool good = CheckNumber(base, f[0], "copy type", 0, 255, static_cast<uint8_t>(f[0].value()), d, &type);
  good &= CheckNumber(base, f[1], "source volume", INT32_MIN, INT32_MAX, f[1].value(), d, &source);
  good &= CheckNumber(base, f[2], "destination volume", INT32_MIN, INT32_MAX, f[2].value(), d, &destination);
  good &= CheckNumber(base, f[3], "offset", INT64_MIN, INT64_MAX, f[3].number, d, &offset);
  if (good) {
    r->records.push_back({static_cast<uint8_t>(type), static_cast<int32_t>(source), static_cast<int32_t>(destination),
                          static_cast<uint64_t>(offset)});
  }
}

void CheckVolumes(const std::string& text, StrictReading* r) {
  Deviations& d = r->deviations;
  const char* base = text.c_str();
  r->kind = TextKind::kVolumes;
  CheckNul(text, &d);
  const size_t length = std::strlen(base);
  if (length < in::kShortestReadableText) {
    d.Add(0, "the text is only " + Number(static_cast<int64_t>(length)) + (length == 1 ? " byte" : " bytes") + " long",
          "the library does not read a text shorter than " + Number(in::kShortestReadableText) +
              " bytes: the object is invalid and holds no record");
    return;
  }
  CheckLeadingSpaces(base, &d);
  std::vector<Keyed> sources;
  in::VolumeItem item;
  in::ItemRead read;
  const char* next = in::SkipLeadingSpaces(base);
  for (; (read = in::ReadVolumeItem(next, &item)) == in::ItemRead::kRecord; next = item.end + 1) {
    CheckRecord(base, item, r);
    sources.push_back({item.fields[1].value(), static_cast<size_t>(item.begin - base)});
  }
  const size_t at = static_cast<size_t>(next - base);
  if (read == in::ItemRead::kInvalid) {
    d.Add(at,
          "item " + QuoteRange(item.begin, item.end) + " has " + Number(item.fieldCount) +
              (item.fieldCount == 1 ? " field" : " fields") + ", not 4",
          "the reading stops here: the object is invalid; it keeps the " +
              Number(static_cast<int64_t>(sources.size())) + (sources.size() == 1 ? " record" : " records") +
              " before it and reads nothing after it");
  } else if (*next != '\0') {
    d.Add(at, "text after the last '$': " + QuoteRange(next, base + length), "it is never read");
  }
  if (sources.empty() && read != in::ItemRead::kInvalid) {
    d.Add(at, "no record", "the object holds no record: a restarted job gets nothing from it");
  }
  ReportRepeats(sources, "source volume", "the later record replaces the earlier one", &d);
}

}  // namespace

void ReadStrictly(std::string_view text, Family family, StrictReading* reading) {
  reading->items.clear();
  reading->records.clear();
  reading->deviations = Deviations();
  reading->asWritten = family == Family::kJob ? ReadWrittenJob(text, reading) : ReadWrittenVolumes(text, reading);
  if (reading->asWritten) return;
  reading->items.clear();
  reading->records.clear();
  const std::string copy(text);  // the library's readers stop at a NUL
  if (family == Family::kJob) {
    CheckJob(copy, reading);
  } else {
    CheckVolumes(copy, reading);
  }
  reading->deviations.Sort();
}

std::string RenderedAsWritten(std::string_view text, const StrictReading& strict) {
  return (strict.kind == TextKind::kInput ? std::string(kPrefix) : std::string()).append(text);
}

StrictReading ReadStrictly(std::string_view text, Family family) {
  StrictReading reading;
  ReadStrictly(text, family, &reading);
  return reading;
}

}  // namespace tool
}  // namespace jxrestart
