#include "tools/jxrestart/log/Source.h"

#include "tools/jxrestart/Numbers.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

namespace jxrestart {
namespace tool {

namespace {

// One file is mapped at a time; the handler of SIGBUS knows which.
std::atomic<const char*> g_mappedBegin{nullptr};
std::atomic<size_t> g_mappedSize{0};
std::atomic<size_t> g_zerosFrom{0};  // offset in the mapping
size_t g_pageSize = 4096;
struct sigaction g_previousBus;

// A fault inside the mapping is a page past the file's end: zeros are
// mapped from it to the end of the mapping, and the read that faulted goes
// on. Any other fault is left to the action there was before.
void OnBusError(int, siginfo_t* info, void*) {
  const char* begin = g_mappedBegin.load();
  const char* end = begin + g_mappedSize.load();
  const char* at = static_cast<const char*>(info->si_addr);
  if (begin != nullptr && at >= begin && at < end) {
    const uintptr_t page = reinterpret_cast<uintptr_t>(at) / g_pageSize * g_pageSize;
    void* from = reinterpret_cast<void*>(page);
    const size_t length = static_cast<size_t>(end - static_cast<const char*>(from));
    if (::mmap(from, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      const size_t offset = static_cast<size_t>(static_cast<const char*>(from) - begin);
      size_t was = g_zerosFrom.load();
      while (offset < was && !g_zerosFrom.compare_exchange_weak(was, offset)) {
      }
      return;
    }
  }
  ::sigaction(SIGBUS, &g_previousBus, nullptr);
}

}  // namespace

LogSource::LogSource(int fd) : fd_(fd) {
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    size_ = static_cast<size_t>(info.st_size);
    void* data = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data != MAP_FAILED && !IsEncoded(std::string(static_cast<const char*>(data), std::min<size_t>(size_, 16)))) {
      mapped_ = static_cast<const char*>(data);
      ::madvise(data, size_, MADV_SEQUENTIAL);
      g_pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
      g_mappedSize = size_;
      g_zerosFrom = size_;
      g_mappedBegin = mapped_;
      struct sigaction action = {};
      action.sa_sigaction = OnBusError;
      action.sa_flags = SA_SIGINFO;
      sigemptyset(&action.sa_mask);
      ::sigaction(SIGBUS, &action, &g_previousBus);
      SkipHead();
      return;
    }
    if (data != MAP_FAILED) ::munmap(data, size_);
  }
  // The first bytes tell the compression; they are read before the decoder.
  decoder_ = OpenDecoder(fd, std::string());
  Fill(16);
  decoder_ = OpenDecoder(fd, std::move(pending_));
  pending_.clear();
  ended_ = !error_.empty();
  SkipHead();
}

// What may come before a log's first line: a run of NUL bytes where a live
// log was truncated (copytruncate) while its writer went on at its old
// offset, text after it; and a byte-order mark.
void LogSource::SkipHead() {
  static const char kMark[] = "\xef\xbb\xbf";
  size_t run = 0;
  if (mapped_ != nullptr) {
    // A hole of a sparse file is passed at once.
    const off_t data = ::lseek(fd_, 0, SEEK_DATA);
    run = data < 0 ? (errno == ENXIO ? size_ : 0) : std::min(size_, static_cast<size_t>(data));
    for (static const char kZeros[4096] = {}; size_ - run >= sizeof kZeros && std::memcmp(mapped_ + run, kZeros, sizeof kZeros) == 0;) {
      run += sizeof kZeros;
    }
    while (run < size_ && mapped_[run] == '\0') ++run;
  } else {
    for (size_t first = std::string::npos; first == std::string::npos && !ended_;) {
      Fill(kBlock);
      first = pending_.find_first_not_of('\0');
      const size_t zeros = std::min(first, pending_.size());
      run += zeros;
      pending_.erase(0, zeros);
    }
  }
  at_ = run;
  if (run > 0 && LooksBinary()) {  // a binary file's own NULs: it stays whole
    at_ = 0;
    if (mapped_ == nullptr) pending_.insert(0, run, '\0');
    return;
  }
  nuls_ = run;
  if (mapped_ == nullptr) Fill(3);
  const std::string_view head = mapped_ != nullptr ? std::string_view(mapped_ + at_, std::min<size_t>(size_ - at_, 3)) : std::string_view(pending_).substr(0, 3);
  if (head != kMark) return;
  at_ += 3;
  if (mapped_ == nullptr) pending_.erase(0, 3);
}

LogSource::~LogSource() {
  if (mapped_ == nullptr) return;
  ::sigaction(SIGBUS, &g_previousBus, nullptr);
  g_mappedBegin = nullptr;
  ::munmap(const_cast<char*>(mapped_), size_);
}

void LogSource::Fill(size_t wanted) {
  while (pending_.size() < wanted && !ended_) {
    const size_t had = pending_.size();
    pending_.resize(wanted);
    const ssize_t got = decoder_->Read(&pending_[had], wanted - had);
    pending_.resize(had + static_cast<size_t>(std::max<ssize_t>(got, 0)));
    ended_ = got <= 0;
    if (got < 0) error_ = decoder_->error();
  }
}

bool LogSource::LooksBinary() {
  constexpr size_t kLook = 32 << 10;
  if (mapped_ != nullptr) return std::memchr(mapped_ + at_, '\0', std::min(size_ - at_, kLook)) != nullptr;
  Fill(kLook);
  return std::memchr(pending_.data(), '\0', std::min(pending_.size(), kLook)) != nullptr;
}

size_t LogSource::MappedEnd() {
  if (nextEnd_ > at_) return nextEnd_;
  const size_t target = std::min(size_, at_ + kBlock);
  const void* newline = target == size_ ? nullptr : std::memchr(mapped_ + target - 1, '\n', size_ - target + 1);
  nextEnd_ = newline == nullptr ? size_ : static_cast<size_t>(static_cast<const char*>(newline) - mapped_) + 1;
  return nextEnd_;
}

size_t LogSource::NextSize() { return mapped_ != nullptr ? MappedEnd() - at_ : kBlock; }

bool LogSource::Next(Block* block) {
  if (mapped_ != nullptr) {
    if (at_ == size_) return false;
    block->end = MappedEnd();
    block->text = std::string_view(mapped_ + at_, block->end - at_);
    at_ = block->end;
    return true;
  }
  // At least a block, cut after its last line end, or all that is left.
  size_t cut = 0;
  for (size_t searched = 0;; searched = pending_.size()) {
    Fill(pending_.size() + (pending_.size() < kBlock ? kBlock - pending_.size() : kBlock));
    const void* newline = ::memrchr(pending_.data() + searched, '\n', pending_.size() - searched);
    cut = ended_ ? pending_.size() : newline == nullptr ? 0 : static_cast<size_t>(static_cast<const char*>(newline) - pending_.data()) + 1;
    if (cut != 0 || ended_) break;
  }
  if (cut == 0) return false;
  std::string rest = pending_.substr(cut);
  pending_.resize(cut);
  block->owned.swap(pending_);
  pending_.swap(rest);
  block->text = block->owned;
  block->end = at_ += cut;
  return true;
}

size_t LogSource::ValidUpTo() const {
  if (mapped_ == nullptr) return SIZE_MAX;
  struct stat info;
  const size_t size = ::fstat(fd_, &info) == 0 ? static_cast<size_t>(info.st_size) : size_;
  return std::min({size, size_, g_zerosFrom.load()});
}

void LogSource::Release(size_t end) {
  if (mapped_ == nullptr) return;
  end = end / g_pageSize * g_pageSize;
  if (end > released_) ::madvise(const_cast<char*>(mapped_) + released_, end - released_, MADV_DONTNEED);
  released_ = std::max(released_, end);
}

const std::string& LogSource::error() const { return error_; }

namespace {

// Where a name stands among the rotations of its log: "job.log.2.gz" is
// rotation 2 of "job.log", "job.log-20261207" (logrotate's dateext, also
// -YYYYMMDDHH and -YYYY-MM-DD) its rotation of that day, "job.log" itself
// the newest.
struct Rotation {
  std::string base;
  int order = 2;   // 0 numbered, 1 dated, 2 the live file: oldest first
  int64_t key = 0;  // the number (negated, the highest the oldest), or the date
};

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// YYYYMMDD or YYYYMMDDHH as a number of hours' order, or -1.
int64_t DateKey(const std::string& digits) {
  if (!AllDigits(digits) || (digits.size() != 8 && digits.size() != 10)) return -1;
  const int64_t month = LeadingNumber(digits.substr(4, 2)), day = LeadingNumber(digits.substr(6, 2));
  const int64_t hour = digits.size() == 10 ? LeadingNumber(digits.substr(8)) : 0;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23) return -1;
  return LeadingNumber(digits.substr(0, 8)) * 100 + hour;
}

Rotation RotationOf(std::string name) {
  for (const std::string suffix : {".gz", ".xz", ".bz2", ".zst"}) {
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      name.resize(name.size() - suffix.size());
    }
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
