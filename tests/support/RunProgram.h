// Runs a program with arguments and a standard input, and collects its
// exit status and both output streams.
#ifndef TESTS_SUPPORT_RUNPROGRAM_H_
#define TESTS_SUPPORT_RUNPROGRAM_H_

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace jxrestart {
namespace testing {

struct ProgramResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = std::string(),
                                const std::vector<std::string>& environment = {}) {
  char folder[] = "/tmp/jxrestart-run.XXXXXX";
  if (::mkdtemp(folder) == nullptr) return {};
  const std::string in = std::string(folder) + "/in", out = std::string(folder) + "/out",
                    err = std::string(folder) + "/err";
  { std::ofstream(in, std::ios::binary) << input; }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open(in.c_str(), O_RDONLY), STDIN_FILENO);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    ::unsetenv("ZN_DEBUG_LOG");
    for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ProgramResult result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadWhole(out),
                       ReadWhole(err)};
  for (const std::string& file : {in, out, err}) std::remove(file.c_str());
  ::rmdir(folder);
  return result;
}

}  // namespace testing
}  // namespace jxrestart

#endif  // TESTS_SUPPORT_RUNPROGRAM_H_
