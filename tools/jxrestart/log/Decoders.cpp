#include "tools/jxrestart/log/Decoders.h"

#include <unistd.h>
#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>
#include <vector>

namespace jxrestart {
namespace tool {

namespace {

// The file as it is.
class File : public Decoder {
 public:
  explicit File(int fd) : fd_(fd) {}

  ssize_t Read(char* out, size_t size) override {
    ssize_t got;
    while ((got = ::read(fd_, out, size)) < 0 && errno == EINTR) {
    }
    if (got < 0) error_ = std::strerror(errno);
    return got;
  }

 private:
  int fd_;
};

// The bytes read ahead from `in` to tell its form, then the rest of it.
class Ahead : public Decoder {
 public:
  Ahead(std::unique_ptr<Decoder> in, std::string head) : in_(std::move(in)), head_(std::move(head)) {}

  ssize_t Read(char* out, size_t size) override {
    if (served_ < head_.size()) {
      const size_t n = std::min(size, head_.size() - served_);
      std::memcpy(out, head_.data() + served_, n);
      served_ += n;
      return static_cast<ssize_t>(n);
    }
    const ssize_t got = in_->Read(out, size);
    if (got < 0) error_ = in_->error();
    return got;
  }

 private:
  std::unique_ptr<Decoder> in_;
  std::string head_;
  size_t served_ = 0;
};

// gzip, one member or several (as cat a.gz b.gz makes), through zlib:
// libarchive's gzip reader drops the lines it had inflated when the data is
// cut short, and a rotated log is most often gzip.
class Gzip : public Decoder {
 public:
  explicit Gzip(std::unique_ptr<Decoder> in) : in_(std::move(in)), raw_(1 << 20) {
    if (inflateInit2(&zip_, 16 + MAX_WBITS) != Z_OK) error_ = "cannot start to decompress";
  }
  ~Gzip() override { inflateEnd(&zip_); }

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

// Compressed data of any other form libarchive reads, as a raw stream: xz,
// bzip2, zstd, lz4, compress.
class Compressed : public Decoder {
 public:
  Compressed(std::unique_ptr<Decoder> in, const char* name) : in_(std::move(in)), name_(name), raw_(1 << 20) {
    archive_read_support_filter_all(archive_);
    archive_read_support_format_raw(archive_);
    archive_entry* entry = nullptr;
    if (archive_read_open(archive_, this, nullptr, Feed, nullptr) != ARCHIVE_OK ||
        archive_read_next_header(archive_, &entry) != ARCHIVE_OK) {
      Failed();
    }
  }
  ~Compressed() override { archive_read_free(archive_); }

  ssize_t Read(char* out, size_t size) override {
    if (!error_.empty()) return -1;
    const la_ssize_t got = archive_read_data(archive_, out, size);
    if (got < 0) Failed();
    return got < 0 ? -1 : static_cast<ssize_t>(got);
  }

 private:
  static la_ssize_t Feed(archive*, void* self, const void** buffer) {
    Compressed& c = *static_cast<Compressed*>(self);
    const ssize_t got = c.in_->Read(c.raw_.data(), c.raw_.size());
    c.ended_ = got <= 0;
    *buffer = c.raw_.data();
    return got;
  }

  void Failed() {
    if (!in_->error().empty()) {
      error_ = in_->error();
    } else if (ended_) {
      error_ = "the compressed data (" + std::string(name_) + ") is cut short (up to 64 KiB before the cut may be lost)";
    } else {
      const char* why = archive_error_string(archive_);
      error_ = "the compressed data (" + std::string(name_) + ") is corrupt or in a form not read here (" +
               (why != nullptr ? why : "no reason given") + ")";
    }
  }

  std::unique_ptr<Decoder> in_;
  const char* name_;
  std::vector<char> raw_;
  archive* archive_ = archive_read_new();
  bool ended_ = false;
};

// Data in another form, given out as the lines of JSON it makes, one line
// (an entry, an object) at a time.
class Reframed : public Decoder {
 public:
  ssize_t Read(char* out, size_t size) override {
    while (served_ == line_.size()) {
      line_.clear();
      served_ = 0;
      if (!Next(&line_)) return error_.empty() ? 0 : -1;
    }
    const size_t n = std::min(size, line_.size() - served_);
    std::memcpy(out, line_.data() + served_, n);
    served_ += n;
    return static_cast<ssize_t>(n);
  }

 protected:
  // The next line into the empty *line; false at the end of the data.
  virtual bool Next(std::string* line) = 0;

 private:
  std::string line_;
  size_t served_ = 0;
};

// journalctl -o export: entries of fields "NAME=value\n", or, for a value
// with control bytes, "NAME\n", its length in 64 bits little-endian, the
// bytes and "\n"; an empty line ends an entry. Each entry comes out as one
// line of JSON, as journalctl -o json writes it, with the fields that tell
// a state, its process and its time.
class JournalExport : public Reframed {
 public:
  explicit JournalExport(std::unique_ptr<Decoder> in) : in_(std::move(in)) {}

 private:
  static constexpr const char* kKept[] = {"__CURSOR", "__REALTIME_TIMESTAMP", "MESSAGE", "_PID", "SYSLOG_IDENTIFIER",
                                          "_SYSTEMD_UNIT", "_LINE_BREAK"};

  // Whether `n` bytes are there to read, reading more as needed.
  bool Have(size_t n) {
    if (at_ > (1 << 20)) {
      data_.erase(0, at_);
      at_ = 0;
    }
    while (data_.size() - at_ < n && !ended_) {
      const size_t had = data_.size();
      data_.resize(had + std::max<size_t>(n - (had - at_), 1 << 16));
      const ssize_t got = in_->Read(&data_[had], data_.size() - had);
      data_.resize(had + static_cast<size_t>(std::max<ssize_t>(got, 0)));
      ended_ = got <= 0;
      if (got < 0) error_ = in_->error();
    }
    return data_.size() - at_ >= n;
  }

  bool Next(std::string* entry) override {
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    while (Have(1)) {
      // A long field is searched once, not again as it grows.
      size_t newline, searched = 0;
      while ((newline = data_.find('\n', at_ + searched)) == std::string::npos &&
             (searched = data_.size() - at_, Have(searched + 1))) {
      }
      if (newline == std::string::npos) newline = data_.size();
      const std::string name = data_.substr(at_, newline - at_);
      at_ = std::min(newline + 1, data_.size());
      if (name.empty() && !fields.empty()) break;  // the end of an entry
      if (name.empty()) continue;
      const size_t equals = name.find('=');
      std::string value = equals == std::string::npos ? std::string() : name.substr(equals + 1);
      if (equals == std::string::npos) {
        uint64_t length = 0;
        // A journal's entries are far smaller than a gibibyte: a length beyond
        // is a corrupt one, not a reason to hold the rest of the data.
        if (!Have(8) || (std::memcpy(&length, data_.data() + at_, 8), length > (1u << 30)) || !Have(8 + length + 1)) {
          error_ = "the journal field " + name + " runs past the end of the data";
          return false;
        }
        value = data_.substr(at_ + 8, length);
        at_ += 8 + length + 1;
      }
      const std::string key = name.substr(0, equals);
      for (const char* kept : kKept) {
        if (key != kept) continue;
        fields[key] = value;
      }
    }
    if (fields.empty()) return false;
    // The message as a string, its control bytes escaped; where it is no
    // UTF-8, which a JSON string cannot hold, as the values of its bytes.
    try {
      *entry = fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict) + "\n";
    } catch (const nlohmann::ordered_json::type_error&) {
      if (fields.contains("MESSAGE")) {
        const std::string message = fields["MESSAGE"];
        fields["MESSAGE"] = std::vector<unsigned char>(message.begin(), message.end());
      }
      *entry = fields.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    return true;
  }

  std::unique_ptr<Decoder> in_;
  std::string data_;
  size_t at_ = 0;
  bool ended_ = false;
};

// Pretty-printed JSON, as journalctl -o json-pretty and jq write it: each
// object, from a line "{" to a line "}", comes out as one line, read as a
// line of JSON is (a journal entry by its process, time and message); its
// line is then the object's number. Inside an object every line but its
// "}" is indented: a line that is not ends the object there, as text that
// is no JSON. An object that the data ends in comes out without a line
// end: a line still being written.
class PrettyJson : public Reframed {
 public:
  explicit PrettyJson(std::unique_ptr<Decoder> in) : in_(std::move(in)) {}

 private:
  // The next line, without its line end, valid until the next call, which
  // reads it again unless next_ is taken; false at the end of the data.
  // *complete: whether a line end closes it.
  bool PeekLine(std::string_view* line, bool* complete) {
    size_t newline, from = at_;  // a long line is searched once, not again as it grows
    while ((newline = data_.find('\n', from)) == std::string::npos && !ended_) {
      data_.erase(0, at_);
      at_ = 0;
      const size_t had = from = data_.size();
      data_.resize(had + (1 << 16));
      const ssize_t got = in_->Read(&data_[had], 1 << 16);
      data_.resize(had + static_cast<size_t>(std::max<ssize_t>(got, 0)));
      ended_ = got <= 0;
      if (got < 0) error_ = in_->error();
    }
    if (newline == std::string::npos && at_ == data_.size()) return false;
    const size_t end = std::min(newline, data_.size());
    *line = std::string_view(data_).substr(at_, end - at_);
    *complete = newline != std::string::npos;
    next_ = end + *complete;
    return true;
  }

  bool Next(std::string* object) override {
    std::string_view line;
    bool complete = false;
    if (!PeekLine(&line, &complete)) return false;
    at_ = next_;
    object->assign(line);
    bool closed = line != "{";
    while (!closed && complete && PeekLine(&line, &complete)) {
      if (line != "}" && (line.empty() || (line[0] != ' ' && line[0] != '\t'))) {
        closed = complete = true;
        break;
      }
      at_ = next_;
      object->append(" ").append(line);  // a JSON string holds no line end
      closed = line == "}";
    }
    if (closed && complete) *object += '\n';
    return true;
  }

  std::unique_ptr<Decoder> in_;
  std::string data_;
  size_t at_ = 0, next_ = 0;
  bool ended_ = false;
};

// Each form of data that is not text as it stands, by its first bytes:
// a compression, or a form of a journal's entries, which may be compressed.
enum class Kind { kGzip, kCompressed, kJournalExport, kPrettyJson };
struct Format {
  const char* name;
  std::string_view magic;
  Kind kind;
};
constexpr Format kFormats[] = {
    {"gzip", {"\x1f\x8b", 2}, Kind::kGzip},
    {"xz", {"\xfd" "7zXZ\0", 6}, Kind::kCompressed},
    {"bzip2", {"BZh", 3}, Kind::kCompressed},
    {"zstd", {"\x28\xb5\x2f\xfd", 4}, Kind::kCompressed},
    {"lz4", {"\x04\x22\x4d\x18", 4}, Kind::kCompressed},
    {"compress", {"\x1f\x9d", 2}, Kind::kCompressed},
    {"journal export", {"__CURSOR=", 9}, Kind::kJournalExport},
    {"pretty JSON", {"{\n", 2}, Kind::kPrettyJson},
};
constexpr size_t kLongestMagic = 16;

const Format* FormatOf(std::string_view head) {
  for (const Format& f : kFormats) {
    if (head.substr(0, f.magic.size()) == f.magic) return &f;
  }
  return nullptr;
}

// The decompressed data's first bytes, read ahead.
std::string HeadOf(Decoder* data) {
  std::string head(kLongestMagic, '\0');
  size_t have = 0;
  for (ssize_t got; have < head.size() && (got = data->Read(&head[have], head.size() - have)) > 0;) {
    have += static_cast<size_t>(got);
  }
  head.resize(have);
  return head;
}

}  // namespace

bool IsEncoded(const std::string& head) { return FormatOf(head) != nullptr; }

std::unique_ptr<Decoder> OpenDecoder(int fd, std::string head) {
  const Format* format = FormatOf(head);
  std::unique_ptr<Decoder> data = std::make_unique<Ahead>(std::make_unique<File>(fd), std::move(head));
  if (format != nullptr && (format->kind == Kind::kGzip || format->kind == Kind::kCompressed)) {
    if (format->kind == Kind::kGzip) {
      data = std::make_unique<Gzip>(std::move(data));
    } else {
      data = std::make_unique<Compressed>(std::move(data), format->name);
    }
    // What was compressed may be a journal's entries in a form of theirs.
    std::string inner = HeadOf(data.get());
    format = FormatOf(inner);
    data = std::make_unique<Ahead>(std::move(data), std::move(inner));
  }
  if (format == nullptr) return data;
  if (format->kind == Kind::kJournalExport) return std::make_unique<JournalExport>(std::move(data));
  if (format->kind == Kind::kPrettyJson) return std::make_unique<PrettyJson>(std::move(data));
  return data;  // compressed twice: read as it stands
}

}  // namespace tool
}  // namespace jxrestart
