// The --job option: a PCRE2 regular expression that picks out one job's
// lines of a log, and whose first capture group, if it has one, names the
// job a line belongs to.
#ifndef TOOLS_JXRESTART_LOG_JOBPATTERN_H_
#define TOOLS_JXRESTART_LOG_JOBPATTERN_H_

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <string>
#include <string_view>

#include "tools/jxrestart/Examination.h"

namespace jxrestart {
namespace tool {

// Compiled once; matched by any number of threads, each with its Matches.
class JobPattern {
 public:
  ~JobPattern() { pcre2_code_free(code_); }
  // Returns "" or why the pattern does not compile.
  std::string Compile(const std::string& pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0, &error, &offset, nullptr);
    if (code_ == nullptr) {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(error, message, sizeof message);
      return "--job " + Quote(pattern) + ": " + reinterpret_cast<char*>(message) + " at offset " + std::to_string(offset);
    }
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
    uint32_t groups = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &groups);
    named_ = groups > 0;
    return std::string();
  }
  bool active() const { return code_ != nullptr; }
  bool named() const { return named_; }

  // Where a thread keeps what a match found.
  class Matches {
   public:
    explicit Matches(const JobPattern& pattern)
        : data_(pattern.active() ? pcre2_match_data_create_from_pattern(pattern.code_, nullptr) : nullptr) {}
    ~Matches() { pcre2_match_data_free(data_); }
    Matches(const Matches&) = delete;
    Matches& operator=(const Matches&) = delete;

   private:
    friend class JobPattern;
    pcre2_match_data* data_;
  };

  // Whether `line` is one of the job's lines; *name: what the first group captured.
  bool Match(std::string_view line, Matches* matches, std::string* name) const {
    pcre2_match_data* data = matches->data_;
    const int found = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0, data, nullptr);
    if (found < 0) return false;
    if (named_) {
      const PCRE2_SIZE* at = pcre2_get_ovector_pointer(data);
      *name = found > 1 && at[2] != PCRE2_UNSET ? std::string(line.substr(at[2], at[3] - at[2])) : std::string();
    }
    return true;
  }

 private:
  pcre2_code* code_ = nullptr;
  bool named_ = false;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_JOBPATTERN_H_
