#include "tools/jxrestart/LogInput.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>

namespace jxrestart {
namespace tool {

namespace {
constexpr size_t kBlock = 1 << 20;
constexpr size_t kBinaryLook = 32 << 10;
}  // namespace

LineReader::LineReader(int fd) : fd_(fd) {}

LineReader::~LineReader() {
  std::free(data_);
  if (compressed_) inflateEnd(&zip_);
}

// Makes room for a block after the data: the data moves to the front, and
// the buffer grows only for a line longer than it. realloc leaves what is
// not yet read untouched, so it costs no resident memory.
bool LineReader::Fill() {
  if (begin_ > 0) {
    std::memmove(data_, data_ + begin_, end_ - begin_);
    end_ -= begin_;
    scanned_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ < kBlock) {
    const size_t wanted = std::max(capacity_ + capacity_ / 2, end_ + kBlock);
    char* grown = static_cast<char*>(std::realloc(data_, wanted));
    if (grown == nullptr) {
      error_ = std::strerror(ENOMEM);
      return false;
    }
    data_ = grown;
    capacity_ = wanted;
  }
  if (compressed_) return Inflate();
  for (;;) {
    const ssize_t got = ::read(fd_, data_ + end_, capacity_ - end_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error_ = std::strerror(errno);
      return false;
    }
    if (!started_) {
      started_ = true;
      // A gzip stream begins 1f 8b: what was read is its first bytes.
      if (got >= 2 && static_cast<unsigned char>(data_[0]) == 0x1f && static_cast<unsigned char>(data_[1]) == 0x8b) {
        compressed_ = true;
        raw_.assign(data_, data_ + got);
        if (inflateInit2(&zip_, 16 + MAX_WBITS) != Z_OK) {
          error_ = "cannot start to decompress";
          return false;
        }
        zip_.next_in = reinterpret_cast<Bytef*>(raw_.data());
        zip_.avail_in = static_cast<uInt>(raw_.size());
        return Inflate();
      }
    }
    eof_ = got == 0;
    end_ += static_cast<size_t>(got);
    return got > 0;
  }
}

bool LineReader::Inflate() {
  for (;;) {
    if (zip_.avail_in == 0 && !zipEnded_) {
      raw_.resize(kBlock);
      ssize_t got;
      while ((got = ::read(fd_, raw_.data(), raw_.size())) < 0 && errno == EINTR) {
      }
      if (got < 0) {
        error_ = std::strerror(errno);
        return false;
      }
      if (got == 0) {
        eof_ = true;
        if (!zipEnded_) error_ = "the compressed data is cut short";
        return false;
      }
      zip_.next_in = reinterpret_cast<Bytef*>(raw_.data());
      zip_.avail_in = static_cast<uInt>(got);
    }
    if (zipEnded_) {
      // Another gzip member may follow, as cat a.gz b.gz makes.
      if (zip_.avail_in == 0) {
        ssize_t got;
        raw_.resize(kBlock);
        while ((got = ::read(fd_, raw_.data(), raw_.size())) < 0 && errno == EINTR) {
        }
        if (got <= 0) {
          eof_ = true;
          return false;
        }
        zip_.next_in = reinterpret_cast<Bytef*>(raw_.data());
        zip_.avail_in = static_cast<uInt>(got);
      }
      inflateReset(&zip_);
      zipEnded_ = false;
    }
    zip_.next_out = reinterpret_cast<Bytef*>(data_ + end_);
    zip_.avail_out = static_cast<uInt>(std::min<size_t>(capacity_ - end_, 1u << 30));
    const int status = inflate(&zip_, Z_NO_FLUSH);
    const size_t produced = static_cast<size_t>(reinterpret_cast<char*>(zip_.next_out) - (data_ + end_));
    end_ += produced;
    if (status == Z_STREAM_END) zipEnded_ = true;
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      error_ = std::string("the compressed data is corrupt (") + (zip_.msg ? zip_.msg : "zlib error") + ")";
      return false;
    }
    if (produced > 0) return true;
  }
}

bool LineReader::Next(std::string_view* line) {
  for (;;) {
    if (scanned_ < end_) {
      const void* newline = std::memchr(data_ + scanned_, '\n', end_ - scanned_);
      if (newline != nullptr) {
        const size_t at = static_cast<size_t>(static_cast<const char*>(newline) - data_);
        *line = std::string_view(data_ + begin_, at - begin_);
        begin_ = scanned_ = at + 1;
        return true;
      }
      scanned_ = end_;
    }
    if (eof_ || !error_.empty() || !Fill()) {
      if (begin_ == end_) return false;
      *line = std::string_view(data_ + begin_, end_ - begin_);  // a last line without its '\n'
      begin_ = scanned_ = end_;
      return true;
    }
  }
}

bool LineReader::LooksBinary() {
  while (!eof_ && error_.empty() && end_ - begin_ < kBinaryLook && Fill()) {
  }
  return end_ > begin_ && std::memchr(data_ + begin_, '\0', std::min(end_ - begin_, kBinaryLook)) != nullptr;
}

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

MappedFile::MappedFile(int fd, size_t size) : fd_(fd), size_(size) {
  void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (data == MAP_FAILED) return;
  data_ = static_cast<const char*>(data);
  ::madvise(data, size, MADV_SEQUENTIAL);
  g_pageSize = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  g_mappedSize = size_;
  g_zerosFrom = size_;
  g_mappedBegin = data_;
  struct sigaction action = {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &g_previousBus);
}

MappedFile::~MappedFile() {
  if (data_ == nullptr) return;
  ::sigaction(SIGBUS, &g_previousBus, nullptr);
  g_mappedBegin = nullptr;
  ::munmap(const_cast<char*>(data_), size_);
}

size_t MappedFile::ValidUpTo() const {
  struct stat info;
  const size_t size = ::fstat(fd_, &info) == 0 ? static_cast<size_t>(info.st_size) : size_;
  return std::min({size, size_, g_zerosFrom.load()});
}

void MappedFile::Release(size_t offset) {
  const size_t end = offset / g_pageSize * g_pageSize;
  if (end > released_) ::madvise(const_cast<char*>(data_) + released_, end - released_, MADV_DONTNEED);
  released_ = std::max(released_, end);
}

void OrderRotated(std::vector<std::string>* names) {
  // "job.log.2.gz" is rotation 2 of "job.log"; "job.log" itself is the newest.
  struct Rotation {
    std::string base;
    long number;
  };
  const auto rotation = [](const std::string& name) {
    std::string stem = name;
    if (stem.size() > 3 && stem.compare(stem.size() - 3, 3, ".gz") == 0) stem.resize(stem.size() - 3);
    const size_t dot = stem.rfind('.');
    if (dot == std::string::npos || dot + 1 == stem.size() ||
        stem.find_first_not_of("0123456789", dot + 1) != std::string::npos) {
      return Rotation{stem, 0};
    }
    return Rotation{stem.substr(0, dot), std::atol(stem.c_str() + dot + 1)};
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
      const long x = rotation(a).number, y = rotation(b).number;
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
