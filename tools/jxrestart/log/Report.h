// What `log` prints of a history: each state with --all or --json, the
// deviations on standard error within one cap, the summary of each job as
// text or JSON (Json.h), and the exit status.
#ifndef TOOLS_JXRESTART_LOG_REPORT_H_
#define TOOLS_JXRESTART_LOG_REPORT_H_

#include <cstddef>
#include <string>

#include "tools/jxrestart/Invocation.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/log/History.h"
#include "tools/jxrestart/log/Picture.h"

namespace jxrestart {
namespace tool {

// Threading: one thread.
class Report : public HistoryListener {
 public:
  explicit Report(const Invocation& invocation) : invocation_(invocation) {}
  void Watch(const History* history) { history_ = history; }

  void Found(const Place& place, const FoundText& found, const StrictReading& strict, const std::string& job) override;
  void Deviate(const Place& place, size_t offset, const std::string& problem, const std::string& effect) override;
  void Taken(size_t job, Family family, const Place& place, double time, const StrictReading& state, bool restart,
             bool repeat, const std::vector<int32_t>& deviating) override {
    if (drawing()) picture_.Taken(job, family, place, time, state, restart, repeat, deviating);
  }
  // A file that should be among those read.
  void Missing(const std::string& what);
  // A file, or part of one, that could not be read.
  void Unreadable(const std::string& name, const std::string& why);

  // Prints the summary of `history`; returns the exit status. With --svg,
  // the picture is drawn first, into picture().
  int Finish(History* history);
  const std::string& picture() const { return drawn_; }

 private:
  bool drawing() const { return !invocation_.svg.empty(); }
  // Counts one more deviation; whether it is among the first
  // Deviations::kShown, which are shown, the rest only counted.
  bool Counted();
  void PrintSummary(History* history);
  void PrintJob(History* history, size_t index);
  void PrintJsonSummary(History* history);

  const Invocation& invocation_;
  const History* history_ = nullptr;
  size_t deviations_ = 0, shown_ = 0, unreadable_ = 0;
  std::vector<std::string> unread_;  // the files not read whole
  Json first_ = Json::array();       // the deviations shown, for --json
  std::string line_;                 // a state being shown, its buffer reused
  std::string written_;              // the same for a state as written, as JSON (WriteLogStateAsWritten)
  std::vector<std::string> quotedFiles_;  // the files' names as JSON strings
  Picture picture_;
  std::string drawn_;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_REPORT_H_
