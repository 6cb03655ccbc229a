// What the example copy job, its job manager and the driver that runs the
// manager (the demo, the torture run) say to each other.
//
// The job and its manager. The manager starts the job with a manifest, one
// volume per line:
//   <source id>\t<copy type>\t<destination id>\t<source path>\t<destination path>
// and, on a restart, the saved state:
//   jx-copy-job --manifest FILE --block BYTES -Restart <items> --volumes <volume restart string>
// The job first writes the offsets it resumes at,
//   RESUME\t<volume restart string>
// then, after each block is on disk,
//   STATE\t<job restart string>\t<volume restart string>
// and waits for "ok" on standard input, so the state the manager keeps is
// never ahead of the data, and the job never more than one block ahead of
// the state. A manager that cannot save the state answers "fail <reason>"
// and the job stops. At the end the job writes "DONE\t<bytes written in
// this run>".
//
// The manager and its driver (jx-copy-manager). The manager writes one
// event per line on its standard output, fields separated by tabs.
#ifndef EXAMPLES_COPYJOB_PROTOCOL_H_
#define EXAMPLES_COPYJOB_PROTOCOL_H_

#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace copyjob {

constexpr char kResumeLine[] = "RESUME";
constexpr char kStateLine[] = "STATE";
constexpr char kDoneLine[] = "DONE";
constexpr char kAck[] = "ok";
constexpr char kRefusal[] = "fail";
constexpr char kSeparator = '\t';

// The job's exit statuses.
constexpr int kJobDone = 0;
constexpr int kJobUsage = 2;
constexpr int kJobFailed = 3;

namespace event {
constexpr char kLoaded[] = "loaded";           // \t<job string>\t<volume string>: the state it restarts from
constexpr char kCleaned[] = "cleaned";         // it removed a temporary file that a killed save left
constexpr char kStarted[] = "started";         // \t<pid>: the job runs
constexpr char kStartFailed[] = "start-failed";  // \t<reason>
constexpr char kResumed[] = "resumed";         // \t<volume string>: where the job resumes
constexpr char kSaving[] = "saving";           // \t<job string>\t<volume string>: about to be saved
constexpr char kSaved[] = "saved";             // it is saved, and the job is answered
constexpr char kSaveFailed[] = "save-failed";  // \t<reason>: the job is told to stop
constexpr char kDone[] = "done";               // \t<bytes the job says it wrote>
constexpr char kGone[] = "gone";               // \t<exit status>: the job ended without a word
}  // namespace event

// The manager's exit statuses.
constexpr int kManagerDone = 0;
constexpr int kManagerUsage = 2;
constexpr int kManagerFailed = 3;

// The line of `fields`, without its line end.
inline std::string Fields(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& field : fields) {
    if (&field != fields.begin()) line += kSeparator;
    line += field;
  }
  return line;
}

// Writes all of `text` to `fd`; false when a write fails.
bool WriteAll(int fd, const std::string& text);
// Writes `text` and a line end to `fd`, all of it; false when a write fails.
bool WriteLine(int fd, const std::string& text);
// Reads a line from `fd`, without its end, a byte at a time, so that
// nothing after it is taken from a pipe before it is asked for; false at
// the end or an error.
bool ReadLine(int fd, std::string* line);
// The folder that holds `path` ("." for a bare name, "/" for the root's).
std::string FolderOf(const std::string& path);
// Makes the names in the folder of `path` durable; false, with errno set,
// when it cannot.
bool SyncFolderOf(const std::string& path);

// Starts `args` (the program first) with its standard input and output
// on pipes, SIGPIPE as by default, and `env` added to its environment;
// *toChild and *fromChild are this side's ends. Returns its pid, or -1.
pid_t StartWithPipes(const std::vector<std::string>& args,
                     const std::vector<std::pair<std::string, std::string>>& env, int* toChild, int* fromChild);

// The fields of `line`.
inline std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t end = line.find(kSeparator, at);
    fields.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return fields;
    at = end + 1;
  }
}

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_PROTOCOL_H_
