// Standard output that is known to have been written: every byte goes out
// through write(), and the first failure is kept, so that a full disk or a
// closed descriptor is reported instead of lost.
#ifndef TOOLS_JXRESTART_OUTPUT_H_
#define TOOLS_JXRESTART_OUTPUT_H_

#include <streambuf>
#include <string>

namespace jxrestart {
namespace tool {

// A stream buffer for file descriptor 1. Threading: one thread.
class StandardOutput : public std::streambuf {
 public:
  StandardOutput();
  ~StandardOutput() override;

  // Writes what is buffered. Returns false, with error() set, when any
  // write so far has failed.
  bool Flush();
  // The errno of the first failed write, or 0.
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override { return Flush() ? 0 : -1; }

 private:
  void WriteOut(const char* data, size_t size);

  std::string buffer_;
  int error_ = 0;
};

// Sends std::cout through a StandardOutput for the life of this object.
// Finish() flushes and closes it; a failure is reported on standard error
// as "jxrestart: standard output: <reason>" and turns `status` into 2.
class OutputGuard {
 public:
  OutputGuard();
  ~OutputGuard();
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;

  int Finish(int status);

 private:
  StandardOutput output_;
  std::streambuf* previous_;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_OUTPUT_H_
