// jx-crashfs: a FUSE file system that forgets what was not synced (see
// CrashModel.h for the model, and kUsage). Every write of a program on
// it, by any means the C library or the kernel offers, reaches it, so a
// save protocol is proven whatever way it writes.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "examples/crashfs/CrashModel.h"
#include "examples/crashfs/Plan.h"

namespace {

constexpr const char* kUsage = R"(Usage: jx-crashfs mount BACKING MOUNTPOINT [--sector BYTES]
       jx-crashfs sync MOUNTPOINT
       jx-crashfs lose MOUNTPOINT [--seed N]
       jx-crashfs umount MOUNTPOINT
       jx-crashfs plan MOUNTPOINT [EVENT]...

A file system that forgets what was not synced, to prove that a program
saves its state so that a power loss cannot take it.

mount shows the folder BACKING at MOUNTPOINT and returns once it is
mounted. BACKING holds at every moment only what would survive a power
loss; the file system holds the rest in its memory, and reads through the
mount see everything, as a page cache would:
  - data written to a file is durable once the file is synced (fsync or
    fdatasync on any of its descriptors; O_SYNC and O_DSYNC writes as they
    return);
  - a create, link, removal or rename is durable once the folder it
    touches is synced (a new file's name by an fsync of its folder, not of
    the file); a rename between two folders once both are, and it is kept
    or undone as a whole;
  - data synced under a name that is not yet durable waits for the name.
The kernel does not tell a FUSE file system of sync(2) or syncfs(2): sync
makes everything pending durable. Every way of writing reaches it (write,
writev, streams, a shared mmap with msync, ftruncate, fallocate, rename,
link, copy_file_range); an O_TMPFILE open fails with EOPNOTSUPP, as this
libfuse has no operation for it.

lose is the power loss. From the seed (the clock's when not given) it
decides, per file, what of its unsynced writes, truncations and
allocations reaches BACKING (none, a prefix, some of its sectors of
--sector bytes (512), a lost sector perhaps garbage where it was written
and the size perhaps ahead of the data, or all; bytes no unsynced write
touched never change), and per folder how far its unsynced
name changes are kept, in their order. It prints one line of what was kept
and lost; the mount then shows BACKING, and descriptors opened before it
fail with EIO.

umount writes what is pending and unmounts (a clean shutdown).

plan adds planned events and prints each with whether it has fired:
  "fail OP:NAME N ERRNO"  the N-th such operation from now fails with
                          ERRNO (ENOSPC, EIO, EDQUOT or EROFS), unmade;
  "kill OP:NAME N [half]" the process that makes the N-th one is killed
                          once it is made (half: a write, at half of it);
  "count OP:NAME"         such operations are counted, and the bytes of
                          the writes among them;
  "clear"                 the events planned so far are dropped.
OP is write, truncate, fsync, fsyncdir, create, rename, link or unlink;
NAME a shell pattern (*, ?, [...]) of a file's name without its folder (a
rename's either name; / for the root).

Exit status: 0 done, 1 failed, 2 usage error.
)";

constexpr const char* kControl = "user.jxcrashfs.control";
constexpr const char* kReport = "user.jxcrashfs.report";

// The durable tree in the backing folder.
class FolderDisk : public crashfs::Disk {
 public:
  explicit FolderDisk(std::string root) : root_(std::move(root)) {}
  bool PutFile(const std::string& path, const std::string& data) override {
    std::ofstream out(Full(path), std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out << data) && static_cast<bool>(out.flush());
  }
  bool PutFolder(const std::string& path) override { return ::mkdir(Full(path).c_str(), 0755) == 0 || errno == EEXIST; }
  bool Remove(const std::string& path) override { return ::remove(Full(path).c_str()) == 0 || errno == ENOENT; }

 private:
  std::string Full(const std::string& path) const { return path.empty() ? root_ : root_ + "/" + path; }
  std::string root_;
};

class NoDisk : public crashfs::Disk {
 public:
  bool PutFile(const std::string&, const std::string&) override { return true; }
  bool PutFolder(const std::string&) override { return true; }
  bool Remove(const std::string&) override { return true; }
};

struct Mounted {
  crashfs::CrashModel* model;
  crashfs::Plan plan;
  std::string report;
};

// An open file: descriptors opened before a power loss fail.
struct Handle {
  crashfs::Ino ino;
  uint64_t generation;
  bool sync;
  std::string name;  // without its folder, as the plan names it
};

Mounted& Here() { return *static_cast<Mounted*>(fuse_get_context()->private_data); }
crashfs::CrashModel& Model() { return *Here().model; }

// A name as the plan matches it: without its folder; the root is "/".
std::string NameOf(const char* path) {
  const char* slash = path == nullptr ? nullptr : std::strrchr(path, '/');
  if (slash == nullptr) return std::string();
  return slash[1] == '\0' ? "/" : std::string(slash + 1);
}

// The node an operation is on, by its descriptor or its path, and its name.
int InoOf(const char* path, fuse_file_info* fi, crashfs::Ino* ino, std::string* name = nullptr) {
  if (fi != nullptr && fi->fh != 0) {
    const auto* handle = reinterpret_cast<const Handle*>(fi->fh);
    if (handle->generation != Model().generation()) return -EIO;
    *ino = handle->ino;
    if (name != nullptr) *name = handle->name;
    return 0;
  }
  if (name != nullptr) *name = NameOf(path);
  return path == nullptr ? -EIO : Model().Lookup(path, ino);
}

// Runs `operation` as the plan says: failed before it is made, or its
// caller killed once it is.
template <class Operation>
int Planned(const char* op, const std::string& name, const std::string& other, Operation operation) {
  if (const int error = Here().plan.Before(op, name, other)) return -error;
  const int result = operation();
  if (result >= 0 && Here().plan.After(op, name, other)) ::kill(fuse_get_context()->pid, SIGKILL);
  return result;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  crashfs::Attributes a;
  if (const int error = InoOf(path, fi, &ino)) return error;
  if (const int error = Model().Stat(ino, &a)) return error;
  std::memset(st, 0, sizeof *st);
  st->st_ino = a.ino;
  st->st_mode = (a.folder ? S_IFDIR : S_IFREG) | a.mode;
  st->st_nlink = a.links;
  st->st_size = static_cast<off_t>(a.size);
  st->st_blocks = static_cast<blkcnt_t>((a.size + 511) / 512);
  st->st_uid = ::getuid();
  st->st_gid = ::getgid();
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi, fuse_readdir_flags) {
  crashfs::Ino ino = 0;
  std::vector<std::string> names;
  if (const int error = InoOf(path, fi, &ino)) return error;
  if (const int error = Model().List(ino, &names)) return error;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const std::string& name : names) fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

void Keep(crashfs::Ino ino, const char* path, fuse_file_info* fi) {
  fi->fh = reinterpret_cast<uint64_t>(
      new Handle{ino, Model().generation(), (fi->flags & (O_SYNC | O_DSYNC)) != 0, NameOf(path)});
  fi->keep_cache = 0;  // what a power loss took is not read from the kernel's cache
}

int Open(const char* path, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  if (const int error = Model().Lookup(path, &ino)) return error;
  Keep(ino, path, fi);
  return 0;
}

int OpenFolder(const char* path, fuse_file_info* fi) { return Open(path, fi); }

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  const int error = Planned("create", NameOf(path), "", [&] { return Model().Create(path, mode, false, &ino); });
  if (error == 0) Keep(ino, path, fi);
  return error;
}

int Release(const char*, fuse_file_info* fi) {
  delete reinterpret_cast<Handle*>(fi->fh);
  return 0;
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  std::string data;
  if (const int error = InoOf(path, fi, &ino)) return error;
  if (const int error = Model().Read(ino, static_cast<uint64_t>(offset), size, &data)) return error;
  std::memcpy(buffer, data.data(), data.size());
  return static_cast<int>(data.size());
}

int Write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  std::string name;
  if (const int error = InoOf(path, fi, &ino, &name)) return error;
  if (const int error = Here().plan.Before("write", name)) return -error;
  // A kill at its half: half of the bytes are written, and no more.
  const bool half = Here().plan.After("write", name, "", true);
  const std::string data(buffer, half ? size / 2 : size);
  if (const int error = Model().Write(ino, static_cast<uint64_t>(offset), data)) return error;
  if (fi != nullptr && reinterpret_cast<const Handle*>(fi->fh)->sync) Model().Sync(ino);
  const bool killed = Here().plan.After("write", name, "", false, data.size());
  if (half || killed) ::kill(fuse_get_context()->pid, SIGKILL);
  return static_cast<int>(data.size());
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  std::string name;
  if (const int error = InoOf(path, fi, &ino, &name)) return error;
  return Planned("truncate", name, "", [&] { return Model().Truncate(ino, static_cast<uint64_t>(size)); });
}

int Allocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  if (mode != 0) return -EOPNOTSUPP;
  if (const int error = InoOf(path, fi, &ino)) return error;
  return Model().Allocate(ino, static_cast<uint64_t>(offset), static_cast<uint64_t>(length));
}

int Sync(const char* path, int, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  std::string name;
  if (const int error = InoOf(path, fi, &ino, &name)) return error;
  return Planned("fsync", name, "", [&] { return Model().Sync(ino); });
}

int SyncFolder(const char* path, int, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  std::string name;
  if (const int error = InoOf(path, fi, &ino, &name)) return error;
  return Planned("fsyncdir", name, "", [&] { return Model().Sync(ino); });
}

int MakeFolder(const char* path, mode_t mode) {
  crashfs::Ino ino = 0;
  return Model().Create(path, mode, true, &ino);
}

int Unlink(const char* path) {
  return Planned("unlink", NameOf(path), "", [&] { return Model().Remove(path, false); });
}
int RemoveFolder(const char* path) { return Model().Remove(path, true); }
int Link(const char* from, const char* to) {
  return Planned("link", NameOf(from), NameOf(to), [&] { return Model().Link(from, to); });
}

int Rename(const char* from, const char* to, unsigned int flags) {
  if ((flags & ~RENAME_NOREPLACE) != 0) return -EINVAL;  // RENAME_EXCHANGE, RENAME_WHITEOUT
  return Planned("rename", NameOf(from), NameOf(to),
                 [&] { return Model().Rename(from, to, (flags & RENAME_NOREPLACE) != 0); });
}

int Chmod(const char* path, mode_t mode, fuse_file_info* fi) {
  crashfs::Ino ino = 0;
  if (const int error = InoOf(path, fi, &ino)) return error;
  return Model().Chmod(ino, mode);
}

int Chown(const char*, uid_t, gid_t, fuse_file_info*) { return 0; }
int Utimens(const char*, const struct timespec*, fuse_file_info*) { return 0; }

ssize_t CopyRange(const char*, fuse_file_info* in, off_t inOffset, const char*, fuse_file_info* out, off_t outOffset,
                  size_t size, int) {
  crashfs::Ino from = 0, to = 0;
  std::string data, name;
  if (const int error = InoOf(nullptr, in, &from)) return error;
  if (const int error = InoOf(nullptr, out, &to, &name)) return error;
  if (const int error = Here().plan.Before("write", name)) return -error;  // a write, as the plan sees it
  if (const int error = Model().Read(from, static_cast<uint64_t>(inOffset), size, &data)) return error;
  if (const int error = Model().Write(to, static_cast<uint64_t>(outOffset), data)) return error;
  if (Here().plan.After("write", name, "", false, data.size())) ::kill(fuse_get_context()->pid, SIGKILL);
  return static_cast<ssize_t>(data.size());
}

// The commands come as an attribute set on the mount's root, and what
// they did as one read from it.
int SetXattr(const char* path, const char* name, const char* value, size_t size, int) {
  if (std::strcmp(name, kControl) != 0 || std::strcmp(path, "/") != 0) return -ENOTSUP;
  Mounted& mounted = Here();
  const std::string command(value, size);
  if (command == "sync") {
    mounted.report = mounted.model->SyncAll() ? "everything pending is durable"
                                              : "the backing folder refused what is pending (a full disk?)";
  } else if (command.compare(0, 5, "lose ") == 0) {
    mounted.report = mounted.model->Lose(std::strtoull(command.c_str() + 5, nullptr, 10));
  } else if (command == "plan") {
    mounted.report = mounted.plan.Report();
  } else if (command == "clear") {
    mounted.plan.Clear();
    mounted.report.clear();
  } else if (!mounted.plan.Add(command, &mounted.report)) {
    return -EINVAL;
  } else {
    mounted.report = mounted.plan.Report();
  }
  return 0;
}

int GetXattr(const char* path, const char* name, char* value, size_t size) {
  if (std::strcmp(name, kReport) != 0 || std::strcmp(path, "/") != 0) return -ENODATA;
  const std::string& report = Here().report;
  if (size == 0) return static_cast<int>(report.size());
  if (size < report.size()) return -ERANGE;
  std::memcpy(value, report.data(), report.size());
  return static_cast<int>(report.size());
}

int StatFs(const char*, struct statvfs* st) {
  std::memset(st, 0, sizeof *st);
  st->f_bsize = st->f_frsize = 4096;
  st->f_blocks = st->f_bfree = st->f_bavail = 1 << 20;
  st->f_files = st->f_ffree = 1 << 20;
  st->f_namemax = 255;
  return 0;
}

void* Init(fuse_conn_info*, fuse_config* config) {
  config->use_ino = 1;
  config->nullpath_ok = 1;
  config->hard_remove = 1;  // an open file that is removed stays open, with no hidden name
  config->entry_timeout = config->attr_timeout = config->negative_timeout = 0;
  return fuse_get_context()->private_data;
}

// A clean unmount writes what is pending.
void Destroy(void* data) { static_cast<Mounted*>(data)->model->SyncAll(); }

fuse_operations Operations() {
  fuse_operations ops{};
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.create = Create;
  ops.release = Release;
  ops.opendir = OpenFolder;
  ops.releasedir = Release;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  ops.fallocate = Allocate;
  ops.fsync = Sync;
  ops.fsyncdir = SyncFolder;
  ops.mkdir = MakeFolder;
  ops.unlink = Unlink;
  ops.rmdir = RemoveFolder;
  ops.link = Link;
  ops.rename = Rename;
  ops.chmod = Chmod;
  ops.chown = Chown;
  ops.utimens = Utimens;
  ops.copy_file_range = CopyRange;
  ops.setxattr = SetXattr;
  ops.getxattr = GetXattr;
  ops.statfs = StatFs;
  ops.init = Init;
  ops.destroy = Destroy;
  return ops;
}

int Fail(const std::string& message, int status = 1) {
  std::fprintf(stderr, "jx-crashfs: %s\n", message.c_str());
  return status;
}

// Loads the backing folder's tree into the model, folders first.
void Load(const std::string& root, const std::string& path, crashfs::CrashModel* model) {
  DIR* folder = ::opendir((root + "/" + path).c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = path.empty() ? name : path + "/" + name;
    struct stat st;
    if (::lstat((root + "/" + child).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      model->LoadFolder(child, st.st_mode);
      Load(root, child, model);
    } else if (S_ISREG(st.st_mode)) {
      std::ifstream in(root + "/" + child, std::ios::binary);
      model->LoadFile(child, std::string(std::istreambuf_iterator<char>(in), {}), st.st_mode);
    }
  }
  ::closedir(folder);
}

int MountCommand(const std::string& given, const std::string& mountpoint, size_t sector) {
  struct stat st;
  if (::stat(given.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(given + ": not a folder");
  if (::access(given.c_str(), W_OK) != 0) return Fail(given + ": " + std::strerror(errno));
  // The file system goes on in the background, from the root folder.
  char* absolute = ::realpath(given.c_str(), nullptr);
  const std::string backing = absolute;
  std::free(absolute);
  DIR* folder = ::opendir(mountpoint.c_str());
  if (folder == nullptr) return Fail(mountpoint + ": " + std::strerror(errno));
  int entries = 0;
  while (::readdir(folder) != nullptr) ++entries;
  ::closedir(folder);
  if (entries > 2) return Fail(mountpoint + ": not empty");
  if (::access("/dev/fuse", R_OK | W_OK) != 0) return Fail(std::string("/dev/fuse: ") + std::strerror(errno));
  static NoDisk none;
  static FolderDisk disk(backing);
  static crashfs::CrashModel model(&none, sector);
  Load(backing, "", &model);
  model.SyncAll();
  model.UseDisk(&disk);
  static Mounted mounted{&model, {}, ""};
  std::string name = "jx-crashfs";
  std::string options = "fsname=jx-crashfs,subtype=jx-crashfs";
  std::vector<char*> args = {name.data(), const_cast<char*>(mountpoint.c_str()), const_cast<char*>("-s"),
                             const_cast<char*>("-o"), options.data()};
  const fuse_operations ops = Operations();
  return fuse_main(static_cast<int>(args.size()), args.data(), &ops, &mounted) == 0 ? 0 : 1;
}

// Whether `path` is where a jx-crashfs is mounted, as the kernel lists it.
bool IsMount(const std::string& path) {
  char* absolute = ::realpath(path.c_str(), nullptr);
  if (absolute == nullptr) return false;
  std::string escaped;  // as /proc/mounts writes a space, a tab, a newline and '\'
  for (const char* c = absolute; *c != '\0'; ++c) {
    static const std::string kEscaped = " \t\n\\";
    if (kEscaped.find(*c) == std::string::npos) {
      escaped += *c;
    } else {
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(*c));
      escaped += octal;
    }
  }
  std::free(absolute);
  std::ifstream mounts("/proc/self/mounts");
  for (std::string device, point, type, rest; mounts >> device >> point >> type && std::getline(mounts, rest);) {
    if (point == escaped && type == "fuse.jx-crashfs") return true;
  }
  return false;
}

std::string ReadReport(const std::string& mountpoint) {
  const ssize_t size = ::getxattr(mountpoint.c_str(), kReport, nullptr, 0);
  std::string report(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0 && ::getxattr(mountpoint.c_str(), kReport, &report[0], report.size()) != size) report.clear();
  return report;
}

int Control(const std::string& mountpoint, const std::string& command, bool quiet = false) {
  if (!IsMount(mountpoint)) return Fail(mountpoint + ": not a jx-crashfs mount");
  if (::setxattr(mountpoint.c_str(), kControl, command.data(), command.size(), 0) != 0) {
    return errno == EINVAL ? Fail(ReadReport(mountpoint), 2) : Fail(mountpoint + ": " + std::strerror(errno));
  }
  const std::string report = ReadReport(mountpoint);
  if (!quiet && !report.empty()) std::printf("%s%s", report.c_str(), report.back() == '\n' ? "" : "\n");
  return 0;
}

int Unmount(const std::string& mountpoint) {
  if (const int status = Control(mountpoint, "sync", true)) return status;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("fusermount3", "fusermount3", "-u", mountpoint.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
  return ::umount2(mountpoint.c_str(), 0) == 0 ? 0 : Fail(mountpoint + ": " + std::strerror(errno));
}

uint64_t Number(const char* text, bool* ok) {
  char* end = nullptr;
  errno = 0;
  const uint64_t value = std::strtoull(text, &end, 10);
  *ok = *text >= '0' && *text <= '9' && *end == '\0' && errno == 0;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) return std::fputs(kUsage, stdout), 0;
  const auto usage = [](const std::string& why) { return Fail(why + "\n" + kUsage, 2); };
  if (args.empty()) return usage("a command is needed");
  const std::string& command = args[0];
  bool ok = true;
  if (command == "mount" && (args.size() == 3 || (args.size() == 5 && args[3] == "--sector"))) {
    const uint64_t sector = args.size() == 5 ? Number(args[4].c_str(), &ok) : 512;
    if (!ok || sector == 0 || sector > (1 << 20)) return usage("--sector takes a number of bytes from 1 to 1048576");
    return MountCommand(args[1], args[2], sector);
  }
  if (command == "sync" && args.size() == 2) return Control(args[1], "sync");
  if (command == "lose" && (args.size() == 2 || (args.size() == 4 && args[2] == "--seed"))) {
    const uint64_t seed = args.size() == 4 ? Number(args[3].c_str(), &ok) : static_cast<uint64_t>(::time(nullptr));
    if (!ok) return usage("--seed takes a whole number");
    return Control(args[1], "lose " + std::to_string(seed));
  }
  if (command == "umount" && args.size() == 2) return Unmount(args[1]);
  if (command == "plan" && args.size() >= 2) {
    for (size_t i = 2; i < args.size(); ++i) {
      if (const int status = Control(args[1], args[i], true)) return status;
    }
    return Control(args[1], "plan");
  }
  return usage("unknown command or arguments: " + command);
}
