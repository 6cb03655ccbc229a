#include "tools/jxrestart/log/Recognisers.h"

#include <algorithm>

#include <cstring>
#include <nlohmann/json.hpp>

#include "restart/internal/TextFormat.h"
#include "tools/jxrestart/Numbers.h"

namespace jxrestart {
namespace tool {

namespace {

namespace in = jxrestart::internal;

struct Marker {
  std::string_view words;
  TextKind kind;
  bool restart;
};
const Marker kMarkers[] = {
    {in::marker::kRestartInput, TextKind::kInput, true},
    {in::marker::kVolumesRead, TextKind::kVolumes, true},
    {in::marker::kJobBuilt, TextKind::kJob, false},
};

constexpr std::string_view kPrefix = in::kJobRestartPrefix;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void Add(std::string_view line, size_t begin, size_t end, TextKind kind, bool restart, std::vector<FoundText>* found) {
  found->push_back({kind, line.substr(begin, end - begin), begin + 1, restart});
}

bool IsVolumeWord(std::string_view word) {
  return (word.front() == '-' || IsDigit(word.front())) && word.find(in::kRecordTerminator) != std::string_view::npos &&
         word.find(in::kFieldSeparator) != std::string_view::npos;
}

// Finds volume restart strings among the words of [begin, end).
void FindVolumeWords(std::string_view line, size_t begin, size_t end, std::vector<FoundText>* found) {
  // Most lines of a job log hold no '$' at all.
  if (std::memchr(line.data() + begin, in::kRecordTerminator, end - begin) == nullptr) return;
  for (size_t p = begin; p < end;) {
    while (p < end && IsBlank(line[p])) ++p;
    size_t q = p;
    while (q < end && !IsBlank(line[q])) ++q;
    if (q > p && IsVolumeWord(line.substr(p, q - p))) Add(line, p, q, TextKind::kVolumes, false, found);
    p = q;
  }
}

// The first word of `line` if it is made of `allowed` characters only.
std::string_view FirstWordOf(std::string_view line, const char* allowed) {
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  const std::string_view word = line.substr(0, end);
  return word.find_first_not_of(allowed) == std::string_view::npos ? word : std::string_view();
}

}  // namespace

void FindTexts(std::string_view line, std::vector<FoundText>* found) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  // A marker comes before its text, and so before the text's first '|'.
  const std::string_view head = line.substr(0, line.find(in::kFieldSeparator));
  for (const Marker& marker : kMarkers) {
    const size_t at = head.find(marker.words);
    if (at != std::string_view::npos) {
      Add(line, at + marker.words.size(), line.size(), marker.kind, marker.restart, found);
      return;
    }
  }
  size_t from = 0;
  for (size_t at; (at = line.find(kPrefix, from)) != std::string_view::npos;) {
    size_t end = at + kPrefix.size();
    while (end < line.size() && !IsBlank(line[end])) ++end;
    FindVolumeWords(line, from, at, found);
    Add(line, at, end, TextKind::kJob, false, found);
    from = end;
  }
  FindVolumeWords(line, from, line.size(), found);
}

bool ContinuesText(std::string_view line, Family family) {
  if (line.empty() || !(IsDigit(line[0]) || line[0] == '-')) return false;
  const char terminator = TerminatorOf(family);
  const std::string_view word = FirstWordOf(line, family == Family::kJob ? "0123456789-|@" : "0123456789-|$");
  return word.find(terminator) != std::string_view::npos;
}

bool IsTornText(std::string_view line) {
  while (!line.empty() && (IsBlank(line.back()) || line.back() == '\r')) line.remove_suffix(1);
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  if (line.empty() || !(IsDigit(line[0]) || line[0] == '-')) return false;
  const std::string_view word = FirstWordOf(line, "0123456789-|");
  return word.size() == line.size() && word.find(in::kFieldSeparator) != std::string_view::npos;
}

namespace {

// Reads `digits` digits at *at into *value, stepping past them.
bool Digits(std::string_view text, size_t* at, int digits, int* value) {
  *value = 0;
  for (int i = 0; i < digits; ++i, ++*at) {
    if (*at >= text.size() || !IsDigit(text[*at])) return false;
    *value = *value * 10 + (text[*at] - '0');
  }
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

}  // namespace

double LeadingTime(std::string_view text) {
  int year, month, day, hour, minute, second;
  size_t at = 0;
  const auto skip = [&](char c) { return at < text.size() && text[at] == c ? (++at, true) : false; };
  if (!Digits(text, &at, 4, &year) || !skip('-') || !Digits(text, &at, 2, &month) || !skip('-') ||
      !Digits(text, &at, 2, &day) || !(skip('T') || skip(' ')) || !Digits(text, &at, 2, &hour) || !skip(':') ||
      !Digits(text, &at, 2, &minute) || !skip(':') || !Digits(text, &at, 2, &second) || month < 1 || month > 12 ||
      day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return -1;
  }
  double time = static_cast<double>(DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second);
  if (skip('.') || skip(',')) {
    for (double unit = 0.1; at < text.size() && IsDigit(text[at]); ++at, unit /= 10) time += unit * (text[at] - '0');
  }
  // A zone: "+hh:mm", "-hhmm"; "Z", or none, is UTC.
  int zoneHours = 0, zoneMinutes = 0;
  const bool east = at < text.size() && text[at] == '+';
  if ((skip('+') || skip('-')) && Digits(text, &at, 2, &zoneHours)) {
    skip(':');
    if (Digits(text, &at, 2, &zoneMinutes)) time -= (east ? 1 : -1) * (zoneHours * 3600 + zoneMinutes * 60);
  }
  return time;
}

namespace {

// A JSON object scanned as it is parsed, without building it: every string
// value in order, and the top-level members that tell a container's record
// or a journal entry (whose message may come as an array of byte values).
class JsonScan : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit JsonScan(std::vector<std::string>* strings) : strings_(strings) {}

  // The top-level string member `name`, or null.
  const std::string* Member(std::string_view name) const {
    for (const auto& [key, index] : members_) {
      if (key == name) return &(*strings_)[index];
    }
    return nullptr;
  }

  bool string(string_t& value) override {
    if (depth_ == 1) members_.emplace_back(key_, strings_->size());
    strings_->push_back(std::move(value));
    return true;
  }
  bool key(string_t& value) override {
    if (depth_ == 1) key_ = std::move(value);
    return true;
  }
  bool start_object(std::size_t) override { return ++depth_ > 1 || objects_++ == 0; }
  bool end_object() override { return --depth_, true; }
  bool start_array(std::size_t) override {
    if (depth_++ == 1 && key_ == "MESSAGE") {  // the journal's message with control bytes
      members_.emplace_back(key_, strings_->size());
      strings_->emplace_back();
      bytes_ = strings_->size() - 1;
    }
    return depth_ > 1;
  }
  bool end_array() override {
    if (--depth_ == 1) bytes_ = kNone;
    return true;
  }
  bool number_unsigned(number_unsigned_t value) override {
    if (bytes_ != kNone && depth_ == 2) (*strings_)[bytes_].push_back(static_cast<char>(value));
    return true;
  }
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  static constexpr size_t kNone = SIZE_MAX;
  std::vector<std::string>* strings_;
  std::vector<std::pair<std::string, size_t>> members_;
  std::string key_;
  int depth_ = 0, objects_ = 0;
  size_t bytes_ = kNone;
};

// A container's record of a line its process wrote, whole or a part:
// `text` lies in the line or in its strings, which live as long as the
// line is read.
bool Record(std::string_view stream, std::string_view text, bool partial, LineTexts* t) {
  t->stream.assign(stream);
  t->fragment = text;
  t->partial = partial;
  // A container's streams are what tells its writers apart.
  t->process.assign(stream);
  if (!partial) FindTexts(t->fragment, &t->found);
  t->plain = false;
  return true;
}

// An entry of the journal (journalctl -o json, and -o export as the export
// decoder gives it): only its message is searched, each of its lines
// apart; its process is the identifier (or unit) and _PID. A line longer
// than journald's LineMax comes in several entries, each but the last
// marked _LINE_BREAK=line-max: they are joined per process, as a
// container's records are per stream.
bool FromJournal(std::string_view message, const std::string_view* pid, const std::string_view* name,
                 std::string_view lineBreak, LineTexts* t) {
  if (pid != nullptr) t->process = std::string(name ? *name : std::string_view()) + "[" + std::string(*pid) + "]";
  t->stream = pid != nullptr ? t->process : "the journal";
  t->fragment = message;
  t->partial = lineBreak == "line-max";
  for (size_t start = 0, end = 0; start <= message.size() && !t->partial; start = end + 1) {
    end = std::min(message.find('\n', start), message.size());
    FindTexts(message.substr(start, end - start), &t->found);
  }
  t->plain = false;
  return true;
}

// __REALTIME_TIMESTAMP: microseconds since 1970.
void JournalTime(std::string_view micros, LineTexts* t) {
  if (!micros.empty() && micros.size() < 19 && std::all_of(micros.begin(), micros.end(), IsDigit)) {
    t->time = static_cast<double>(LeadingNumber(micros)) / 1e6;
  }
}

bool FromJournal(const JsonScan& entry, LineTexts* t) {
  if (const std::string* time = entry.Member("__REALTIME_TIMESTAMP")) JournalTime(*time, t);
  const std::string* pid = entry.Member("_PID");
  const std::string* name = entry.Member("SYSLOG_IDENTIFIER") ? entry.Member("SYSLOG_IDENTIFIER") : entry.Member("_SYSTEMD_UNIT");
  const std::string_view pidView = pid ? *pid : std::string_view(), nameView = name ? *name : std::string_view();
  const std::string* lineBreak = entry.Member("_LINE_BREAK");
  return FromJournal(*entry.Member("MESSAGE"), pid ? &pidView : nullptr, name ? &nameView : nullptr,
                     lineBreak ? *lineBreak : std::string_view(), t);
}

// journalctl -o json writes an entry as one flat object of strings: one
// with no escape in it is read as it stands, without the JSON parser,
// three times as fast. Anything else goes to the parser.
bool FromJournalAsWritten(std::string_view line, LineTexts* t) {
  if (line.size() < 2 || line[0] != '{' || line[1] != '"' || line.back() != '}' ||
      std::memchr(line.data(), '\\', line.size()) != nullptr) {
    return false;
  }
  // The first of each member, as the parser's reading takes it, in any
  // order: journalctl writes them in the order of its hash table.
  constexpr std::string_view kKeys[] = {"MESSAGE", "_PID", "SYSLOG_IDENTIFIER", "_SYSTEMD_UNIT", "__REALTIME_TIMESTAMP",
                                        "_LINE_BREAK", "__CURSOR"};
  std::string_view values[7];
  bool has[7] = {};
  for (size_t at = 1; at < line.size();) {
    // "KEY":"VALUE" then ',' or the closing '}'.
    const size_t keyEnd = line.find('"', at + 1);
    if (line[at] != '"' || keyEnd == std::string_view::npos || line.substr(keyEnd, 3) != "\":\"") return false;
    const size_t valueEnd = line.find('"', keyEnd + 3);
    if (valueEnd == std::string_view::npos || (line[valueEnd + 1] != ',' && valueEnd + 2 != line.size())) return false;
    const std::string_view key = line.substr(at + 1, keyEnd - at - 1);
    for (int k = 0; k < 7; ++k) {
      if (key == kKeys[k] && !has[k]) values[k] = line.substr(keyEnd + 3, valueEnd - keyEnd - 3), has[k] = true;
    }
    at = valueEnd + 2;
  }
  if (!has[0] || !has[6]) return false;
  if (has[4]) JournalTime(values[4], t);
  const int name = has[2] ? 2 : 3;
  return FromJournal(values[0], has[1] ? &values[1] : nullptr, has[name] ? &values[name] : nullptr, values[5], t);
}

// A line of JSON. Docker's json-file driver writes each line of a
// container as {"log": "...\n", "stream": "stdout", "time": ...}, a line
// longer than 16 KiB in several records of which only the last ends in
// '\n'. Any other object: the texts of its string values.
bool FromJson(std::string_view line, LineTexts* t) {
  const size_t first = line.find_first_not_of(" \t");
  const size_t last = line.find_last_not_of(" \t\r");
  if (first == std::string_view::npos || line[first] != '{' || line[last] != '}') return false;
  JsonScan scan(&t->strings);
  const std::string_view object = line.substr(first, last + 1 - first);
  if (!nlohmann::json::sax_parse(object.begin(), object.end(), &scan)) {
    t->strings.clear();
    return false;
  }
  if (scan.Member("MESSAGE") != nullptr && scan.Member("__CURSOR") != nullptr) return FromJournal(scan, t);
  const std::string *log = scan.Member("log"), *stream = scan.Member("stream");
  if (log != nullptr && stream != nullptr) {
    std::string_view text = *log;
    const bool partial = text.empty() || text.back() != '\n';
    if (!partial) text.remove_suffix(1);
    if (const std::string* time = scan.Member("time")) t->time = LeadingTime(*time);
    return Record(*stream, text, partial, t);
  }
  for (const std::string& value : t->strings) FindTexts(value, &t->found);
  t->plain = false;
  return true;
}

// Docker writes its records in one form, {"log":"...","stream":"...",
// "time":"..."}: a record with no escape in its text but its line end is
// read as it stands, without the JSON parser, three times as fast.
bool FromDockerAsWritten(std::string_view line, LineTexts* t) {
  constexpr std::string_view kLog = "{\"log\":\"", kStream = "\",\"stream\":\"", kTime = "\",\"time\":\"";
  if (line.substr(0, kLog.size()) != kLog) return false;
  const size_t end = line.find('"', kLog.size());
  if (end == std::string_view::npos) return false;
  std::string_view text = line.substr(kLog.size(), end - kLog.size());
  const bool whole = text.size() >= 2 && text.substr(text.size() - 2) == "\\n";
  if (whole) text.remove_suffix(2);
  const size_t stream = end + kStream.size();
  const size_t streamEnd = line.find('"', stream);
  if (text.find('\\') != std::string_view::npos || line.substr(end, kStream.size()) != kStream ||
      streamEnd == std::string_view::npos || line.substr(streamEnd, kTime.size()) != kTime ||
      line.find('"', streamEnd + kTime.size()) != line.size() - 2 || line.back() != '}') {
    return false;
  }
  t->time = LeadingTime(line.substr(streamEnd + kTime.size()));
  return Record(line.substr(stream, streamEnd - stream), text, !whole, t);
}

// A line of a CRI runtime's log: "TIME STREAM TAG TEXT", the tag P for a
// partial record and F for a line's last.
bool FromCri(std::string_view line, LineTexts* t) {
  if (line.empty() || !IsDigit(line[0])) return false;
  const size_t time = line.find(' ');
  if (time == std::string_view::npos || time > 40 || line.substr(0, time).find('T') == std::string_view::npos) return false;
  const std::string_view rest = line.substr(time + 1);
  const size_t stream = rest.find(' ');
  if (stream == std::string_view::npos || (rest.substr(0, stream) != "stdout" && rest.substr(0, stream) != "stderr")) {
    return false;
  }
  const size_t tag = rest.find(' ', stream + 1);
  const std::string_view flag = rest.substr(stream + 1, tag == std::string_view::npos ? tag : tag - stream - 1);
  if (flag != "P" && flag != "F") {
    t->problem = "a CRI record with the tag " + Quote(flag) + ", neither P nor F";
    return true;
  }
  t->time = LeadingTime(line);
  // A record with no text is an empty line, still a view into this one.
  return Record(rest.substr(0, stream), rest.substr(tag == std::string_view::npos ? rest.size() : tag + 1), flag == "P",
                t);
}

// Any other line, as it is.
bool FromPlainText(std::string_view line, LineTexts* t) {
  FindTexts(line, &t->found);
  if (!t->found.empty()) t->time = LeadingTime(line);
  t->plain = true;
  return true;
}

// The tag of a syslog line, "name[pid]:", near its start.
std::string_view ProcessOf(std::string_view line) {
  const size_t close = line.substr(0, 160).find("]:");
  const size_t open = close == std::string_view::npos ? close : line.rfind('[', close);
  if (open == std::string_view::npos || open + 1 == close ||
      !std::all_of(line.begin() + open + 1, line.begin() + close, IsDigit)) {
    return {};
  }
  const size_t start = line.rfind(' ', open);
  return line.substr(start == std::string_view::npos ? 0 : start + 1, close + 1 - (start == std::string_view::npos ? 0 : start + 1));
}

// Tried in turn; the first that takes a line says what it holds.
bool (*const kRecognisers[])(std::string_view, LineTexts*) = {FromDockerAsWritten, FromJournalAsWritten, FromJson, FromCri, FromPlainText};

template <class Item, class Id>
void SortBy(std::vector<Item>* items, Id id) {
  const auto before = [id](const Item& a, const Item& b) { return id(a) < id(b); };
  if (!std::is_sorted(items->begin(), items->end(), before)) std::sort(items->begin(), items->end(), before);
}

}  // namespace

namespace {

// Reads each of t->found strictly into t->readings.
void ReadFound(LineTexts* t) {
  if (t->readings.size() < t->found.size()) t->readings.resize(t->found.size());
  for (size_t i = 0; i < t->found.size(); ++i) {
    const Family family = FamilyOf(t->found[i].kind);
    StrictReading& r = t->readings[i];
    ReadStrictly(t->found[i].text, family, &r);
    // A text read as written has its items ascending already.
    if (!r.wellFormed() || r.asWritten) continue;
    SortBy(&r.items, [](const std::pair<int32_t, int32_t>& item) { return item.first; });
    SortBy(&r.records, [](const _JxRestartVolumeInfo& record) { return record.srcVolId; });
  }
}

}  // namespace

void ReadLine(std::string_view line, const JobPattern& pattern, JobPattern::Matches* matches, LineTexts* t) {
  t->line = line;
  t->name.clear();
  t->selected = !pattern.active() || pattern.Match(line, matches, &t->name);
  t->found.clear();
  t->strings.clear();
  t->stream.clear();
  t->partial = false;
  t->problem.clear();
  t->process.clear();
  t->time = -1;
  if (!t->selected) return;
  for (const auto recognise : kRecognisers) {
    if (recognise(line, t)) break;
  }
  // A journal entry names its process; a syslog line says it near its start.
  if (!t->found.empty() && t->process.empty()) t->process.assign(ProcessOf(line));
  ReadFound(t);
}

void ReadJoined(std::string_view text, LineTexts* t) {
  t->found.clear();
  FindTexts(text, &t->found);
  ReadFound(t);
}


}  // namespace tool
}  // namespace jxrestart
