#include "tools/jxrestart/log/Source.h"

#include "tools/jxrestart/Numbers.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <tuple>

namespace jxrestart {
namespace tool {

namespace {

// How many NUL bytes `bytes` begins with.
size_t LeadingNuls(std::string_view bytes) {
  static const char kZeros[4096] = {};
  size_t run = 0;
  while (bytes.size() - run >= sizeof kZeros && std::memcmp(bytes.data() + run, kZeros, sizeof kZeros) == 0) {
    run += sizeof kZeros;
  }
  while (run < bytes.size() && bytes[run] == '\0') ++run;
  return run;
}

}  // namespace

void Bytes::Reserve(size_t wanted) {
  if (wanted <= capacity_) return;
  // In whole pages of 2 MiB, which the kernel may give as huge pages: one
  // fault instead of 512.
  constexpr size_t kHuge = 2 << 20;
  const size_t capacity = (std::max(wanted, 2 * capacity_) + kHuge - 1) / kHuge * kHuge;
  std::unique_ptr<char, Free> grown(static_cast<char*>(std::aligned_alloc(kHuge, capacity)));
  if (!grown) throw std::bad_alloc();
  ::madvise(grown.get(), capacity, MADV_HUGEPAGE);
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  data_.swap(grown);
  capacity_ = capacity;
}

void Bytes::Erase(size_t count) {
  if (count == 0) return;  // nothing may be held yet, not even a buffer
  std::memmove(data_.get(), data_.get() + count, size_ - count);
  size_ -= count;
}

void Bytes::Assign(const char* bytes, size_t count) {
  Reserve(count);
  if (count > 0) std::memmove(data_.get(), bytes, count);
  size_ = count;
}

void Bytes::Swap(Bytes* other) {
  data_.swap(other->data_);
  std::swap(size_, other->size_);
  std::swap(capacity_, other->capacity_);
}

LogSource::LogSource(int fd) : fd_(fd) {
  struct stat info;
  regular_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  start_ = regular_ ? std::max<off_t>(::lseek(fd, 0, SEEK_CUR), 0) : 0;
  // A hole at the head of a sparse file is passed at once.
  size_t hole = 0;
  if (regular_) {
    const off_t data = ::lseek(fd, start_, SEEK_DATA);
    const off_t to = data >= 0 ? data : errno == ENXIO ? info.st_size : start_;
    hole = static_cast<size_t>(std::max<off_t>(to - start_, 0));
    ::lseek(fd, start_ + static_cast<off_t>(hole), SEEK_SET);
  }
  Open();
  SkipHead(hole);
}

void LogSource::Open() {
  // The first bytes tell the compression; they are read before the decoder.
  pending_.Resize(0);
  ended_ = false;
  decoder_ = OpenDecoder(fd_, std::string());
  Fill(16);
  const std::string head(pending_.view());
  plain_ = regular_ && !IsEncoded(head);
  decoder_ = OpenDecoder(fd_, head);
  pending_.Resize(0);
  ended_ = !error_.empty();
}

// What may come before a log's first line: a run of NUL bytes where a live
// log was truncated (copytruncate) while its writer went on at its old
// offset, text after it; and a byte-order mark.
void LogSource::SkipHead(size_t hole) {
  static const char kMark[] = "\xef\xbb\xbf";
  size_t run = hole;
  for (bool more = true; more && !ended_;) {
    Fill(kBlock);
    const size_t zeros = LeadingNuls(pending_.view());
    more = zeros == pending_.size();
    run += zeros;
    pending_.Erase(zeros);
  }
  at_ = run;
  if (run > 0 && LooksBinary()) {  // a binary file's own NULs: it stays whole
    at_ = 0;
    if (regular_) {
      ::lseek(fd_, start_, SEEK_SET);
      Open();
    } else {
      Bytes whole;
      whole.Reserve(run + pending_.size());
      std::memset(whole.data(), 0, run);
      if (pending_.size() > 0) std::memcpy(whole.data() + run, pending_.data(), pending_.size());
      whole.Resize(run + pending_.size());
      pending_.Swap(&whole);
    }
    return;
  }
  nuls_ = run;
  Fill(3);
  if (pending_.view().substr(0, 3) != kMark) return;
  at_ += 3;
  pending_.Erase(3);
}

void LogSource::Fill(size_t wanted) {
  while (pending_.size() < wanted && !ended_) {
    pending_.Reserve(wanted);
    const ssize_t got = decoder_->Read(pending_.data() + pending_.size(), wanted - pending_.size());
    if (got > 0) pending_.Resize(pending_.size() + static_cast<size_t>(got));
    ended_ = got <= 0;
    if (got < 0) error_ = decoder_->error();
  }
}

bool LogSource::LooksBinary() {
  constexpr size_t kLook = 32 << 10;
  Fill(kLook);
  return pending_.size() > 0 && std::memchr(pending_.data(), '\0', std::min(pending_.size(), kLook)) != nullptr;
}

bool LogSource::Next(Block* block) {
  // At least a block, cut after its last line end, or all that is left.
  size_t cut = 0;
  for (size_t searched = 0;; searched = pending_.size()) {
    Fill(pending_.size() + (pending_.size() < kBlock ? kBlock - pending_.size() : kBlock));
    const void* newline =
        pending_.size() > searched ? ::memrchr(pending_.data() + searched, '\n', pending_.size() - searched) : nullptr;
    cut = ended_ ? pending_.size() : newline == nullptr ? 0 : static_cast<size_t>(static_cast<const char*>(newline) - pending_.data()) + 1;
    if (cut != 0 || ended_) break;
  }
  if (cut == 0) return false;
  // The block takes what was read; what is left after its cut goes to the
  // block's old buffer, unless that one grew for a long line.
  block->owned.Swap(&pending_);
  if (pending_.capacity() > 2 * kBlock) pending_ = Bytes();
  pending_.Assign(block->owned.data() + cut, block->owned.size() - cut);
  block->owned.Resize(cut);
  block->text = block->owned.view();
  block->end = at_ += cut;
  return true;
}

size_t LogSource::ValidUpTo() const {
  struct stat info;
  if (!plain_ || ::fstat(fd_, &info) != 0) return SIZE_MAX;
  return static_cast<size_t>(std::max<off_t>(info.st_size - start_, 0));
}

const std::string& LogSource::error() const { return error_; }

namespace {

// Where a name stands among the rotations of its log: "job.log.2.gz" is
// rotation 2 of "job.log", "job.log-20261207" (logrotate's dateext, also
// -YYYYMMDDHH and -YYYY-MM-DD) its rotation of that day, and
// "0.log.20261207-101500" (a container's log as the kubelet rotates it)
// its rotation of that second; "job.log" itself is the newest.
struct Rotation {
  std::string base;
  int order = 2;   // 0 numbered, 1 dated, 2 the live file: oldest first
  int64_t key = 0;  // the number (negated, the highest the oldest), or the time
};

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// YYYYMMDD, YYYYMMDDHH or YYYYMMDDHHMMSS as a number in the order of
// time, or -1.
int64_t DateKey(const std::string& digits) {
  if (!AllDigits(digits) || (digits.size() != 8 && digits.size() != 10 && digits.size() != 14)) return -1;
  const std::string time = (digits + "000000").substr(8, 6);
  const auto field = [](const std::string& text, size_t at) { return LeadingNumber(text.substr(at, 2)); };
  if (field(digits, 4) < 1 || field(digits, 4) > 12 || field(digits, 6) < 1 || field(digits, 6) > 31 ||
      field(time, 0) > 23 || field(time, 2) > 59 || field(time, 4) > 60) {
    return -1;
  }
  return LeadingNumber(digits.substr(0, 8) + time);
}

Rotation RotationOf(std::string name) {
  for (const std::string suffix : {".gz", ".xz", ".bz2", ".zst"}) {
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      name.resize(name.size() - suffix.size());
    }
  }
  const size_t stamp = name.size() > 16 ? name.size() - 16 : 0;  // at ".YYYYMMDD-HHMMSS"
  if (stamp > 0 && name[stamp] == '.' && name[stamp + 9] == '-') {
    const int64_t key = DateKey(name.substr(stamp + 1, 8) + name.substr(stamp + 10));
    if (key >= 0) return {name.substr(0, stamp), 1, key};
  }
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && AllDigits(name.substr(dot + 1))) {
    return {name.substr(0, dot), 0, -LeadingNumber(name.substr(dot + 1))};
  }
  size_t dash = name.rfind('-');
  if (dash == std::string::npos) return {name, 2, 0};
  std::string date = name.substr(dash + 1);
  if (date.size() == 2 && dash >= 8 && name[dash - 3] == '-' && name[dash - 8] == '-') {  // -YYYY-MM-DD
    date = name.substr(dash - 7, 4) + name.substr(dash - 2, 2) + date;
    dash -= 8;
  }
  const int64_t key = DateKey(date);
  return key < 0 ? Rotation{name, 2, 0} : Rotation{name.substr(0, dash), 1, key};
}

}  // namespace

std::vector<std::string> OrderRotated(std::vector<std::string>* names) {
  std::map<std::string, std::vector<std::pair<Rotation, std::string>>> sets;
  for (const std::string& name : *names) sets[RotationOf(name).base].push_back({RotationOf(name), name});
  std::vector<std::string> gaps;
  std::map<std::string, size_t> next;
  for (auto& set : sets) {
    auto& members = set.second;
    std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
      return std::tie(a.first.order, a.first.key) < std::tie(b.first.order, b.first.key);
    });
    for (size_t i = 1; i < members.size(); ++i) {
      const Rotation &older = members[i - 1].first, &newer = members[i].first;
      if (older.order == 0 && newer.order == 0 && newer.key - older.key > 1) {
        const std::string low = set.first + "." + std::to_string(1 - newer.key), high = std::to_string(-older.key - 1);
        gaps.push_back(newer.key - older.key == 2 ? low + " is missing" : low + " to " + set.first + "." + high + " are missing");
        gaps.back() += " between " + members[i - 1].second + " and " + members[i].second;
      }
    }
  }
  // Each set of rotations in its order, at the places the set holds.
  for (std::string& name : *names) {
    auto& members = sets[RotationOf(name).base];
    if (members.size() > 1) name = members[next[RotationOf(name).base]++].second;
  }
  return gaps;
}

}  // namespace tool
}  // namespace jxrestart
