#include "tools/jxrestart/Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "tools/jxrestart/Texts.h"

namespace jxrestart {
namespace tool {

namespace {
constexpr size_t kBufferSize = 1 << 16;
}  // namespace

StandardOutput::StandardOutput() {
  buffer_.reserve(kBufferSize);
  // A pipe of 1 MiB rather than 64 KiB: log --json --all writes several
  // times the size of the log, and through a small pipe the writer and its
  // reader take turns every 64 KiB (a third of the time on two cores).
  // Anything else than a pipe, or a refusal, leaves it as it is.
  ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, 1 << 20);
}

StandardOutput::~StandardOutput() { Flush(); }

void StandardOutput::WriteOut(const char* data, size_t size) {
  while (size > 0 && error_ == 0) {
    const ssize_t written = ::write(STDOUT_FILENO, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = written < 0 ? errno : EIO;
      return;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
}

bool StandardOutput::Flush() {
  WriteOut(buffer_.data(), buffer_.size());
  buffer_.clear();
  return error_ == 0;
}

StandardOutput::int_type StandardOutput::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  buffer_.push_back(traits_type::to_char_type(c));
  if (buffer_.size() >= kBufferSize) Flush();
  return c;
}

std::streamsize StandardOutput::xsputn(const char* data, std::streamsize size) {
  const auto n = static_cast<size_t>(size);
  if (buffer_.size() + n < kBufferSize) {
    buffer_.append(data, n);
    return size;
  }
  // What does not fit goes out as it is, uncopied: log --json --all
  // writes several times the size of the log.
  Flush();
  WriteOut(data, n);
  return size;
}

OutputGuard::OutputGuard() : previous_(std::cout.rdbuf(&output_)) {}

OutputGuard::~OutputGuard() { std::cout.rdbuf(previous_); }

int OutputGuard::Finish(int status) {
  std::cout.flush();
  bool written = output_.Flush();
  // A file system may report a failed write only when the file is closed.
  if (written && ::close(STDOUT_FILENO) != 0 && errno != EBADF) written = false;
  if (written) return status;
  const int error = output_.error() != 0 ? output_.error() : errno;
  return Fail(kExitTrouble, std::string("standard output: ") + std::strerror(error));
}

}  // namespace tool
}  // namespace jxrestart
