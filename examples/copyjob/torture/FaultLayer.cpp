// The torture run's fault layer: a library that the driver preloads
// (LD_PRELOAD) into the job manager and the job, and the one place where
// the torture reaches into them, so that their code stays the plain
// careful protocol it shows. It stands between them and the C library's
// file calls and
//   - journals every change to the state file, its temporary file and the
//     destination volumes, with what each write replaces, and every sync
//     (Journal.h), from which the driver later simulates a power loss;
//   - kills the process at the n-th time a step of the protocol is
//     reached (Steps.h), recognised by its file operation;
//   - fails the n-th save as a full disk does;
//   - and, to show that the torture's checks catch them, plants the
//     faults a careless job or manager would have: a save acknowledged but
//     never made, a sync left out.
// Set by the driver in the environment, read once:
//   JX_CRASH_JOURNAL=PATH      the journal (saved links go beside it); unset: the layer does nothing
//   JX_CRASH_STATE=PATH        the state file; its temporary file is PATH.tmp
//   JX_CRASH_DATA=PREFIX       the destination volumes: every file whose path begins so
//   JX_CRASH_KILL_AT=STEP:N    SIGKILL at the N-th time STEP is reached: the job kills
//                              itself, the manager its process group
//   JX_CRASH_KILL_GROUP=1      every kill takes the process group, as a power loss does
//   JX_CRASH_FAIL_SAVE=N       the N-th save fails half-way with ENOSPC
//   JX_CRASH_PLANT=FAULT       skip-save:N (every N-th save is acknowledged but not made),
//                              no-sync:data, no-sync:temp, no-sync:folder
// Threading: the job and the manager are single-threaded; so is this.

// The layer defines the C library's calls itself, so it must see their
// plain declarations, not the fortified wrappers.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "examples/copyjob/Protocol.h"
#include "examples/copyjob/torture/Journal.h"
#include "examples/copyjob/torture/Steps.h"

namespace {

using copyjob::Step;
namespace journal = copyjob::journal;

template <class Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The C library's own calls, which the layer makes on behalf of the caller.
struct Real {
  int (*openat)(int, const char*, int, ...) = Next<int (*)(int, const char*, int, ...)>("openat");
  ssize_t (*write)(int, const void*, size_t) = Next<ssize_t (*)(int, const void*, size_t)>("write");
  ssize_t (*pwrite)(int, const void*, size_t, off_t) = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  ssize_t (*read)(int, void*, size_t) = Next<ssize_t (*)(int, void*, size_t)>("read");
  int (*fsync)(int) = Next<int (*)(int)>("fsync");
  int (*fdatasync)(int) = Next<int (*)(int)>("fdatasync");
  int (*rename)(const char*, const char*) = Next<int (*)(const char*, const char*)>("rename");
  int (*unlink)(const char*) = Next<int (*)(const char*)>("unlink");
  int (*remove)(const char*) = Next<int (*)(const char*)>("remove");
  int (*close)(int) = Next<int (*)(int)>("close");
};

Real& Libc() {
  static Real real;
  return real;
}

enum class Role { kNone, kData, kState, kTemp, kFolder };

struct Tracked {
  Role role;
  uint64_t inode;
  std::string path;
};

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

class Layer {
 public:
  Layer() {
    const std::string journal = Setting("JX_CRASH_JOURNAL");
    if (journal.empty()) return;
    journal_ = Libc().openat(AT_FDCWD, journal.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    savedPrefix_ = FolderOf(journal) + "/saved-" + std::to_string(::getpid()) + "-";
    state_ = Absolute(AT_FDCWD, Setting("JX_CRASH_STATE").c_str());
    temp_ = state_ + ".tmp";
    data_ = Setting("JX_CRASH_DATA");
    if (!data_.empty() && data_[0] != '/') data_ = Absolute(AT_FDCWD, ".") + "/" + data_;
    folders_[0] = FolderOf(state_);
    folders_[1] = FolderOf(data_ + "x");
    const std::string kill = Setting("JX_CRASH_KILL_AT");
    const size_t colon = kill.find(':');
    Step step;
    if (colon != std::string::npos && copyjob::StepByName(kill.data(), colon, &step)) {
      killStep_ = static_cast<int>(step);
      killAt_ = std::atol(kill.c_str() + colon + 1);
    }
    killGroup_ = Setting("JX_CRASH_KILL_GROUP") == "1";
    failSave_ = std::atol(Setting("JX_CRASH_FAIL_SAVE").c_str());
    const std::string plant = Setting("JX_CRASH_PLANT");
    if (plant.rfind("skip-save:", 0) == 0) skipEvery_ = std::atol(plant.c_str() + 10);
    if (plant == "no-sync:data") unsynced_ = Role::kData;
    if (plant == "no-sync:temp") unsynced_ = Role::kTemp;
    if (plant == "no-sync:folder") unsynced_ = Role::kFolder;
  }

  bool active() const { return journal_ >= 0; }

  int Open(int dirfd, const char* path, int flags, mode_t mode) {
    const std::string name = Absolute(dirfd, path);
    const Role role = RoleOf(name);
    if (role == Role::kNone) return Libc().openat(dirfd, path, flags, mode);
    if (role == Role::kTemp && (flags & O_CREAT)) {
      Reach(Step::kSaveStarted);
      ++saves_;
    }
    struct stat before;
    const bool existed = ::stat(name.c_str(), &before) == 0;
    if (existed && (flags & O_TRUNC) && before.st_size > 0 && role != Role::kFolder) {
      Log({journal::kTruncate, before.st_ino, 0, 0, static_cast<uint64_t>(before.st_size), name, "", "",
           ReadRange(name, 0, static_cast<uint64_t>(before.st_size))});
    }
    const int fd = Libc().openat(dirfd, path, flags, mode);
    struct stat after;
    if (fd < 0 || ::fstat(fd, &after) != 0) return fd;
    tracked_[fd] = {role, after.st_ino, name};
    if (role == Role::kData) isJob_ = true;
    if (!existed && (flags & O_CREAT)) Log({journal::kCreate, after.st_ino, 0, 0, 0, name, "", "", ""});
    return fd;
  }

  // A write at `offset`, or at the file's position when it is negative.
  ssize_t Write(int fd, const void* data, size_t size, off_t offset) {
    auto it = tracked_.find(fd);
    if (it == tracked_.end()) return WriteUntracked(fd, data, size, offset);
    const Tracked& file = it->second;
    const off_t at = offset >= 0 ? offset : ::lseek(fd, 0, SEEK_CUR);
    struct stat info;
    if (at < 0 || ::fstat(fd, &info) != 0) return PlainWrite(fd, data, size, offset);
    const auto from = static_cast<uint64_t>(at), length = static_cast<uint64_t>(info.st_size);
    const uint64_t replaced = from < length ? std::min<uint64_t>(size, length - from) : 0;
    Log({journal::kWrite, file.inode, from, size, length, file.path, "", "", ReadRange(file.path, from, replaced)});
    const bool isData = file.role == Role::kData, isTemp = file.role == Role::kTemp;
    const bool failing = isTemp && saves_ == failSave_ && failedSave_ != saves_;
    if ((isData && Counts(Step::kBlockHalfWritten)) || (isTemp && Counts(Step::kTempHalfWritten)) || failing) {
      PlainWrite(fd, data, size / 2, offset);
      if (!failing) Kill(file.role == Role::kData ? Step::kBlockHalfWritten : Step::kTempHalfWritten);
      failedSave_ = saves_;
      errno = ENOSPC;
      return -1;
    }
    const ssize_t written = PlainWrite(fd, data, size, offset);
    Reach(isData ? Step::kBlockWritten : Step::kTempWritten, isData || isTemp);
    return written;
  }

  ssize_t Read(int fd, void* buffer, size_t size) {
    const ssize_t got = Libc().read(fd, buffer, size);
    // The job's answers from its manager come on standard input.
    if (fd == STDIN_FILENO && isJob_ && got > 0) {
      for (const char* p = static_cast<const char*>(buffer); p != static_cast<const char*>(buffer) + got; ++p) {
        if (*p == '\n') Reach(Step::kAckRead);
      }
    }
    return got;
  }

  int Sync(int fd, bool dataOnly) {
    auto it = tracked_.find(fd);
    if (it == tracked_.end()) return dataOnly ? Libc().fdatasync(fd) : Libc().fsync(fd);
    const Tracked file = it->second;
    const bool afterRename = file.role == Role::kFolder && renamed_;
    const bool planted = unsynced_ == file.role && (file.role != Role::kFolder || afterRename);
    const int result = planted ? 0 : dataOnly ? Libc().fdatasync(fd) : Libc().fsync(fd);
    if (result == 0 && !planted) {
      struct stat info;
      const uint64_t size = ::fstat(fd, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
      Log(file.role == Role::kFolder ? journal::Record{journal::kFolderSync, 0, 0, 0, 0, file.path, "", "", ""}
                                     : journal::Record{journal::kSync, file.inode, 0, 0, size, file.path, "", "", ""});
    }
    if (file.role == Role::kData) Reach(Step::kBlockSynced);
    if (file.role == Role::kTemp) Reach(Step::kTempSynced);
    if (afterRename) {
      renamed_ = false;
      Reach(Step::kFolderSynced);
    }
    return result;
  }

  int Rename(const char* from, const char* to) {
    const std::string source = Absolute(AT_FDCWD, from), target = Absolute(AT_FDCWD, to);
    if (RoleOf(source) == Role::kNone && RoleOf(target) == Role::kNone) return Libc().rename(from, to);
    if (RoleOf(source) == Role::kTemp && skipEvery_ > 0 && saves_ % skipEvery_ == 0) return Remove(from);
    const std::string saved = Keep(target);
    Log({journal::kRename, 0, 0, 0, 0, source, target, saved, ""});
    const int result = Libc().rename(from, to);
    if (result != 0) {
      Drop(saved);
      return result;
    }
    Log({journal::kRenamed, 0, 0, 0, 0, source, target, saved, ""});
    renamed_ = true;
    if (RoleOf(source) == Role::kTemp) Reach(Step::kRenamed);
    return 0;
  }

  int Remove(const char* path) {
    const std::string name = Absolute(AT_FDCWD, path);
    struct stat info;
    if (RoleOf(name) == Role::kNone || ::lstat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
      return Libc().remove(path);
    }
    const std::string saved = Keep(name);
    Log({journal::kRemove, info.st_ino, 0, 0, 0, name, "", saved, ""});
    const int result = Libc().unlink(path);
    if (result != 0) {
      Drop(saved);
      return result;
    }
    Log({journal::kRemoved, info.st_ino, 0, 0, 0, name, "", saved, ""});
    return 0;
  }

  int Close(int fd) {
    tracked_.erase(fd);
    return Libc().close(fd);
  }

 private:
  std::string Absolute(int dirfd, const char* path) const {
    std::string name = path == nullptr ? "" : path;
    if (name.empty() || (name[0] != '/' && dirfd != AT_FDCWD)) return std::string();
    if (name[0] != '/') {
      char cwd[4096];
      if (::getcwd(cwd, sizeof cwd) == nullptr) return std::string();
      name = std::string(cwd) + "/" + name;
    }
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    return name;
  }

  Role RoleOf(const std::string& name) const {
    if (name.empty()) return Role::kNone;
    if (name == state_) return Role::kState;
    if (name == temp_) return Role::kTemp;
    if (!data_.empty() && name.compare(0, data_.size(), data_) == 0) return Role::kData;
    if (name == folders_[0] || name == folders_[1]) return Role::kFolder;
    return Role::kNone;
  }

  // Standard output carries the job's lines to its manager.
  ssize_t WriteUntracked(int fd, const void* data, size_t size, off_t offset) {
    const ssize_t written = PlainWrite(fd, data, size, offset);
    if (fd == STDOUT_FILENO && isJob_ && written > 0) {
      const std::string line(static_cast<const char*>(data), static_cast<size_t>(written));
      if (line.rfind(std::string(copyjob::kResumeLine) + copyjob::kSeparator, 0) == 0) Reach(Step::kJobStarted);
      if (line.rfind(std::string(copyjob::kStateLine) + copyjob::kSeparator, 0) == 0) Reach(Step::kStateSent);
    }
    return written;
  }

  ssize_t PlainWrite(int fd, const void* data, size_t size, off_t offset) {
    return offset >= 0 ? Libc().pwrite(fd, data, size, offset) : Libc().write(fd, data, size);
  }

  // What [from, from + length) of the file holds now.
  std::string ReadRange(const std::string& path, uint64_t from, uint64_t length) {
    std::string bytes;
    if (length == 0) return bytes;
    const int fd = Libc().openat(AT_FDCWD, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    bytes.resize(length);
    const ssize_t got = ::pread(fd, &bytes[0], length, static_cast<off_t>(from));
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    Libc().close(fd);
    return bytes;
  }

  // A second name for `path`, so that what it holds can be put back.
  std::string Keep(const std::string& path) {
    const std::string saved = savedPrefix_ + std::to_string(++links_);
    return ::link(path.c_str(), saved.c_str()) == 0 ? saved : std::string();
  }
  void Drop(const std::string& saved) {
    if (!saved.empty()) Libc().unlink(saved.c_str());
  }

  void Log(const journal::Record& record) {
    const std::string text = journal::Encode(record);
    if (Libc().write(journal_, text.data(), text.size()) < 0) std::_Exit(99);  // the torture is gone
  }

  // Counts a time `step` is reached; true when it is the one to kill at.
  bool Counts(Step step) { return killStep_ == static_cast<int>(step) && ++reached_ == killAt_; }

  void Reach(Step step, bool counted = true) {
    if (counted && Counts(step)) Kill(step);
  }

  [[noreturn]] void Kill(Step step) {
    ::kill(killGroup_ || !copyjob::IsJobStep(step) ? 0 : ::getpid(), SIGKILL);
    for (;;) ::pause();
  }

  int journal_ = -1;
  std::string savedPrefix_, state_, temp_, data_, folders_[2];
  std::map<int, Tracked> tracked_;
  bool isJob_ = false;    // this process writes the destinations
  bool renamed_ = false;  // a rename since the last folder sync
  long links_ = 0;
  int killStep_ = -1;
  long killAt_ = 0, reached_ = 0;
  bool killGroup_ = false;
  long saves_ = 0, failSave_ = 0, failedSave_ = 0, skipEvery_ = 0;
  Role unsynced_ = Role::kNone;
};

Layer& TheLayer() {
  static Layer layer;
  return layer;
}

mode_t ModeOf(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

int OpenAt(int dirfd, const char* path, int flags, mode_t mode) {
  Layer& layer = TheLayer();
  return layer.active() ? layer.Open(dirfd, path, flags, mode) : Libc().openat(dirfd, path, flags, mode);
}

}  // namespace

extern "C" {

#define JX_OPEN_AT(name)                         \
  int name(int dirfd, const char* path, int flags, ...) {  \
    va_list args;                                \
    va_start(args, flags);                       \
    const mode_t mode = ModeOf(flags, args);     \
    va_end(args);                                \
    return OpenAt(dirfd, path, flags, mode);     \
  }
#define JX_OPEN(name)                            \
  int name(const char* path, int flags, ...) {   \
    va_list args;                                \
    va_start(args, flags);                       \
    const mode_t mode = ModeOf(flags, args);     \
    va_end(args);                                \
    return OpenAt(AT_FDCWD, path, flags, mode);  \
  }
JX_OPEN(open)
JX_OPEN(open64)
JX_OPEN_AT(openat)
JX_OPEN_AT(openat64)
int __open_2(const char* path, int flags) { return OpenAt(AT_FDCWD, path, flags, 0); }
int __open64_2(const char* path, int flags) { return OpenAt(AT_FDCWD, path, flags, 0); }

ssize_t write(int fd, const void* data, size_t size) {
  return TheLayer().active() ? TheLayer().Write(fd, data, size, -1) : Libc().write(fd, data, size);
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  return TheLayer().active() ? TheLayer().Write(fd, data, size, offset) : Libc().pwrite(fd, data, size, offset);
}
ssize_t pwrite64(int fd, const void* data, size_t size, off_t offset) { return pwrite(fd, data, size, offset); }
ssize_t read(int fd, void* buffer, size_t size) {
  return TheLayer().active() ? TheLayer().Read(fd, buffer, size) : Libc().read(fd, buffer, size);
}
ssize_t __read_chk(int fd, void* buffer, size_t size, size_t /*room*/) { return read(fd, buffer, size); }
int fsync(int fd) { return TheLayer().active() ? TheLayer().Sync(fd, false) : Libc().fsync(fd); }
int fdatasync(int fd) { return TheLayer().active() ? TheLayer().Sync(fd, true) : Libc().fdatasync(fd); }
int rename(const char* from, const char* to) {
  return TheLayer().active() ? TheLayer().Rename(from, to) : Libc().rename(from, to);
}
int unlink(const char* path) { return TheLayer().active() ? TheLayer().Remove(path) : Libc().unlink(path); }
int remove(const char* path) { return TheLayer().active() ? TheLayer().Remove(path) : Libc().remove(path); }
int close(int fd) { return TheLayer().active() ? TheLayer().Close(fd) : Libc().close(fd); }

}  // extern "C"
