// jx-copy-job: a job process that copies volumes block by block and keeps
// its restart state in the restart library, so that a restart resumes each
// volume where it had got to. See Protocol.h for how it talks to its job
// manager.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "examples/copyjob/Protocol.h"
#include "host/EvEvent.h"
#include "restart/JxRestartability.h"
#include "restart/ZNJxRestart.h"

namespace copyjob {
namespace {

struct Volume {
  int32_t id = 0;
  int32_t copyType = 0;
  int32_t destId = 0;
  std::string sourcePath;
  std::string destPath;
  uint64_t size = 0;
  uint64_t offset = 0;  // bytes on disk and in the state
  int source = -1;
  int dest = -1;
};

struct Options {
  std::string manifest;
  uint64_t block = 1 << 20;
  bool restart = false;
  std::string restartItems;
  std::string volumeString;
};

[[noreturn]] void Die(int status, const std::string& message) {
  std::cerr << "jx-copy-job: " << message << '\n';
  std::exit(status);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 == argc) Die(kJobUsage, "'" + arg + "' needs a value");
    const std::string value = argv[++i];
    if (arg == "--manifest") {
      options.manifest = value;
    } else if (arg == "--block") {
      options.block = std::strtoull(value.c_str(), nullptr, 10);
    } else if (arg == "-Restart") {
      options.restart = true;
      options.restartItems = value;
    } else if (arg == "--volumes") {
      options.volumeString = value;
    } else {
      Die(kJobUsage, "unknown option '" + arg + "'");
    }
  }
  if (options.manifest.empty() || options.block == 0) Die(kJobUsage, "needs --manifest FILE and a block size");
  if (options.restart && options.volumeString.empty()) Die(kJobUsage, "-Restart needs --volumes as well");
  return options;
}

std::vector<Volume> ReadManifest(const std::string& path) {
  std::ifstream in(path);
  if (!in) Die(kJobFailed, path + ": " + std::strerror(errno));
  std::vector<Volume> volumes;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Volume v;
    if (!(fields >> v.id >> v.copyType >> v.destId) || !std::getline(fields >> std::ws, v.sourcePath, '\t') ||
        !std::getline(fields, v.destPath)) {
      Die(kJobFailed, path + ": bad line '" + line + "'");
    }
    volumes.push_back(v);
  }
  return volumes;
}

uint64_t BlocksFor(uint64_t bytes, uint64_t block) { return (bytes + block - 1) / block; }

// The job's two restart objects: progress in blocks per volume, and each
// volume's record with its byte offset.
class RestartState {
 public:
  RestartState(const Options& options, const std::vector<Volume>& volumes) : block_(options.block) {
    if (options.restart) {
      std::string items = options.restartItems;
      if (!tracker_.ParseRestartInputFromJM(&items[0])) Die(kJobFailed, "the restart input holds no volume");
      records_.reset(new ZNJxRestart(options.volumeString.c_str()));
      if (!records_->isValid) Die(kJobFailed, "the saved volume restart string is invalid");
      return;
    }
    std::vector<RecoveryVolData_t> ids;
    std::vector<_JxRestartVolumeInfo> records;
    for (const Volume& v : volumes) {
      ids.push_back({v.id});
      records.push_back({static_cast<uint8_t>(v.copyType), v.id, v.destId, 0});
    }
    if (!tracker_.PopulateVolumeOffsetMap(ids)) Die(kJobFailed, "cannot populate the volume map");
    records_.reset(new ZNJxRestart(records));
  }

  // The byte offset to resume `volume` at. Both objects must agree on it.
  uint64_t ResumeOffset(const Volume& volume) {
    uint64_t offset = 0;
    int32_t blocks = 0;
    if (!records_->GetOffsetForSrcVolId(volume.id, offset) || !tracker_.GetBMOffsetFromVolId(volume.id, &blocks)) {
      Die(kJobFailed, "no restart state for volume " + std::to_string(volume.id));
    }
    if (static_cast<uint64_t>(blocks) != BlocksFor(offset, block_) || offset > volume.size) {
      Die(kJobFailed, "the two restart strings disagree on volume " + std::to_string(volume.id));
    }
    return offset;
  }

  void Record(const Volume& volume) {
    const auto blocks = static_cast<int32_t>(BlocksFor(volume.offset, block_));
    if (!tracker_.UpdateJobRestartInfoMapAndString(volume.id, blocks) ||
        !records_->SetOffsetForSrcVolId(volume.id, volume.offset) || !records_->GetCurrentRestartString(volumes_)) {
      Die(kJobFailed, "cannot record the progress of volume " + std::to_string(volume.id));
    }
  }

  const std::string& jobString() const { return tracker_.restartString; }
  const std::string& volumeString() const { return volumes_; }

  // The volume restart string of the offsets the job resumes at.
  std::string Current() {
    std::string text;
    records_->GetCurrentRestartString(text);
    return text;
  }

 private:
  uint64_t block_;
  JxRestartability tracker_;
  std::unique_ptr<ZNJxRestart> records_;
  std::string volumes_;
};

void OpenVolume(Volume* v, bool restart) {
  v->source = ::open(v->sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (v->source < 0 || ::fstat(v->source, &info) != 0) Die(kJobFailed, v->sourcePath + ": " + std::strerror(errno));
  v->size = static_cast<uint64_t>(info.st_size);
  // A restart keeps what the first run wrote; a fresh start begins empty.
  v->dest = ::open(v->destPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (restart ? 0 : O_TRUNC), 0644);
  if (v->dest < 0) Die(kJobFailed, v->destPath + ": " + std::strerror(errno));
}

// A fresh start has just created the destinations: their names must be
// durable before any state that counts on their data is handed on.
void SyncFolders(const std::vector<Volume>& volumes) {
  std::vector<std::string> done;
  for (const Volume& v : volumes) {
    const std::string folder = FolderOf(v.destPath);
    if (std::find(done.begin(), done.end(), folder) != done.end()) continue;
    done.push_back(folder);
    if (!SyncFolderOf(v.destPath)) Die(kJobFailed, folder + ": " + std::strerror(errno));
  }
}

#ifdef JX_COPY_CARELESS
// The careless build (jx-copy-careless-job) leaves the block to be synced
// after its state is handed on, for the torture to catch.
bool Sync(int) { return true; }
bool SyncLate(int fd) { return ::fdatasync(fd) == 0; }
#else
bool Sync(int fd) { return ::fdatasync(fd) == 0; }
bool SyncLate(int) { return true; }
#endif

// Copies the next block of `v` and makes it durable before it is reported.
uint64_t CopyBlock(Volume* v, std::vector<char>& buffer) {
  const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), v->size - v->offset));
  const off_t at = static_cast<off_t>(v->offset);
  if (::pread(v->source, buffer.data(), want, at) != static_cast<ssize_t>(want)) Die(kJobFailed, v->sourcePath + ": short read");
  if (::pwrite(v->dest, buffer.data(), want, at) != static_cast<ssize_t>(want) || !Sync(v->dest)) {
    Die(kJobFailed, v->destPath + ": " + std::strerror(errno));
  }
  v->offset += want;
  return want;
}

void SendLine(const std::string& line) {
  if (!WriteLine(STDOUT_FILENO, line)) Die(kJobFailed, "the job manager is gone");
}

// The job manager's answer, without its line end.
std::string ReadAnswer() {
  std::string answer;
  if (!ReadLine(STDIN_FILENO, &answer)) Die(kJobFailed, "the job manager is gone");
  return answer;
}

void Report(const RestartState& state, EvEvent& log) {
  // The hand-off in the job's own log, beside the library's lines.
  log.Debug("jx-copy-job", "state handed over: %s %s", state.jobString().c_str(), state.volumeString().c_str());
  SendLine(Fields({kStateLine, state.jobString(), state.volumeString()}));
  const std::string reply = ReadAnswer();
  if (reply.rfind(kRefusal, 0) == 0) {
    Die(kJobFailed, "the job manager could not save the state (" + reply.substr(sizeof kRefusal) +
                        "); stopping, to be restarted from the state it saved last");
  }
  if (reply != kAck) Die(kJobFailed, "the job manager answered '" + reply + "'");
}

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::vector<Volume> volumes = ReadManifest(options.manifest);
  RestartState state(options, volumes);
  for (Volume& v : volumes) {
    OpenVolume(&v, options.restart);
    v.offset = options.restart ? state.ResumeOffset(v) : 0;
  }
  if (!options.restart) SyncFolders(volumes);
  SendLine(Fields({kResumeLine, state.Current()}));
  EvEvent log;
  std::vector<char> buffer(options.block);
  uint64_t written = 0;
  // One block of each unfinished volume in turn, so that all of them are
  // under way when the job is interrupted.
  for (bool busy = true; busy;) {
    busy = false;
    for (Volume& v : volumes) {
      if (v.offset == v.size) continue;
      written += CopyBlock(&v, buffer);
      state.Record(v);
      Report(state, log);
      if (!SyncLate(v.dest)) Die(kJobFailed, v.destPath + ": " + std::strerror(errno));
      busy = true;
    }
  }
  SendLine(Fields({kDoneLine, std::to_string(written)}));
  return kJobDone;
}

}  // namespace
}  // namespace copyjob

int main(int argc, char** argv) { return copyjob::Run(argc, argv); }
