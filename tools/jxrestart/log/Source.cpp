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
    if (data != MAP_FAILED && !IsCompressed(std::string(static_cast<const char*>(data), std::min<size_t>(size_, 8)))) {
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
  Fill(8);
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

void OrderRotated(std::vector<std::string>* names) {
  // "job.log.2.gz" is rotation 2 of "job.log"; "job.log" itself is the newest.
  struct Rotation {
    std::string base;
    int64_t number;
  };
  const auto rotation = [](const std::string& name) {
    std::string stem = name;
    if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, ".gz") == 0) stem.resize(stem.size() - 3);
    const size_t dot = stem.rfind('.');
    if (dot == std::string::npos || dot + 1 == stem.size() ||
        stem.find_first_not_of("0123456789", dot + 1) != std::string::npos) {
      return Rotation{stem, 0};
    }
    return Rotation{stem.substr(0, dot), LeadingNumber(stem.substr(dot + 1))};
  };
  std::map<std::string, size_t> members;
  for (const std::string& name : *names) ++members[rotation(name).base];
  // Within each set of rotated names, the order by rotation, at the places the set holds.
  std::map<std::string, std::vector<std::string>> sorted;
  for (const std::string& name : *names) {
    if (members[rotation(name).base] > 1) sorted[rotation(name).base].push_back(name);
  }
  for (auto& set : sorted) {
    std::stable_sort(set.second.begin(), set.second.end(), [&rotation](const std::string& a, const std::string& b) {
      const int64_t x = rotation(a).number, y = rotation(b).number;
      return (x == 0 ? -1 : x) > (y == 0 ? -1 : y);
    });
  }
  std::map<std::string, size_t> next;
  for (std::string& name : *names) {
    const std::string base = rotation(name).base;
    if (members[base] > 1) name = sorted[base][next[base]++];
  }
}

}  // namespace tool
}  // namespace jxrestart
