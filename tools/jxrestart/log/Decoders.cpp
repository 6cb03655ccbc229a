#include "tools/jxrestart/log/Decoders.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace jxrestart {
namespace tool {

namespace {

// The file as it is: the bytes read ahead first, then the descriptor.
class Plain : public Decoder {
 public:
  Plain(int fd, std::string head) : fd_(fd), head_(std::move(head)) {}

  ssize_t Read(char* out, size_t size) override {
    if (served_ < head_.size()) {
      const size_t n = std::min(size, head_.size() - served_);
      std::memcpy(out, head_.data() + served_, n);
      served_ += n;
      return static_cast<ssize_t>(n);
    }
    ssize_t got;
    while ((got = ::read(fd_, out, size)) < 0 && errno == EINTR) {
    }
    if (got < 0) error_ = std::strerror(errno);
    return got;
  }

 private:
  int fd_;
  std::string head_;
  size_t served_ = 0;
};

// gzip, one member or several (as cat a.gz b.gz makes).
class Gzip : public Decoder {
 public:
  explicit Gzip(std::unique_ptr<Decoder> in) : in_(std::move(in)), raw_(1 << 20) {
    if (inflateInit2(&zip_, 16 + MAX_WBITS) != Z_OK) error_ = "cannot start to decompress";
  }
  ~Gzip() override { inflateEnd(&zip_); }
  bool compressed() const override { return true; }

  ssize_t Read(char* out, size_t size) override {
    while (error_.empty()) {
      if (zip_.avail_in == 0) {
        const ssize_t got = in_->Read(raw_.data(), raw_.size());
        if (got < 0) error_ = in_->error();
        if (got == 0 && !ended_) error_ = "the compressed data is cut short";
        if (got <= 0) return error_.empty() ? 0 : -1;
        zip_.next_in = reinterpret_cast<Bytef*>(raw_.data());
        zip_.avail_in = static_cast<uInt>(got);
      }
      if (ended_) {
        inflateReset(&zip_);
        ended_ = false;
      }
      zip_.next_out = reinterpret_cast<Bytef*>(out);
      zip_.avail_out = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
      const int status = inflate(&zip_, Z_NO_FLUSH);
      ended_ = status == Z_STREAM_END;
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        error_ = std::string("the compressed data is corrupt (") + (zip_.msg ? zip_.msg : "zlib error") + ")";
      }
      const size_t produced = static_cast<size_t>(reinterpret_cast<char*>(zip_.next_out) - out);
      if (produced > 0) return static_cast<ssize_t>(produced);
    }
    return -1;
  }

 private:
  std::unique_ptr<Decoder> in_;
  std::vector<char> raw_;
  z_stream zip_{};
  bool ended_ = false;
};

struct Format {
  const char* magic;
  size_t size;
  std::unique_ptr<Decoder> (*open)(std::unique_ptr<Decoder> in);
};
const Format kFormats[] = {
    {"\x1f\x8b", 2, [](std::unique_ptr<Decoder> in) -> std::unique_ptr<Decoder> { return std::make_unique<Gzip>(std::move(in)); }},
};

const Format* FormatOf(const std::string& head) {
  for (const Format& f : kFormats) {
    if (head.compare(0, f.size, f.magic, f.size) == 0) return &f;
  }
  return nullptr;
}

}  // namespace

bool IsCompressed(const std::string& head) { return FormatOf(head) != nullptr; }

std::unique_ptr<Decoder> OpenDecoder(int fd, std::string head) {
  const Format* format = FormatOf(head);
  std::unique_ptr<Decoder> plain = std::make_unique<Plain>(fd, std::move(head));
  return format == nullptr ? std::move(plain) : format->open(std::move(plain));
}

}  // namespace tool
}  // namespace jxrestart
