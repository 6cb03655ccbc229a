#include "examples/copyjob/careless/CarelessSaves.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

namespace copyjob {

const char kCarelessSaves[] = "stream-temp, new-name, in-place, rename-first or ack-early";

namespace {

bool SyncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return synced;
}

bool WriteFile(const std::string& path, const std::string& text, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       (!sync || ::fsync(fd) == 0);
  ::close(fd);
  return written;
}

bool StreamTemp(const std::string& path, const SavedState& state) {
  const std::string temporary = TemporaryOf(path);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!(out << state.Text()) || !out.flush()) return false;
  out.close();
  return std::rename(temporary.c_str(), path.c_str()) == 0 && SyncFolderOf(path);
}

bool NewName(const std::string& path, const SavedState& state) {
  const std::string temporary = path + ".new";
  return WriteFile(temporary, state.Text(), false) && std::rename(temporary.c_str(), path.c_str()) == 0 &&
         SyncFolderOf(path);
}

bool InPlace(const std::string& path, const SavedState& state) {
  return WriteFile(path, state.Text(), true) && SyncFolderOf(path);
}

bool RenameFirst(const std::string& path, const SavedState& state) {
  const std::string temporary = TemporaryOf(path);
  return WriteFile(temporary, state.Text(), false) && std::rename(temporary.c_str(), path.c_str()) == 0 &&
         SyncPath(path) && SyncFolderOf(path);
}

bool AckEarly(const std::string& path, const SavedState& state) {
  static std::string owed;  // the save whose syncs are still to be made
  if (!owed.empty() && !(SyncPath(owed) && SyncFolderOf(owed))) return false;
  const std::string temporary = TemporaryOf(path);
  owed = path;
  return WriteFile(temporary, state.Text(), false) && std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

Saver CarelessSave(const std::string& plant) {
  using Save = bool (*)(const std::string&, const SavedState&);
  const Save save = plant == "stream-temp"    ? StreamTemp
                    : plant == "new-name"     ? NewName
                    : plant == "in-place"     ? InPlace
                    : plant == "rename-first" ? RenameFirst
                    : plant == "ack-early"    ? AckEarly
                                              : nullptr;
  if (save == nullptr) return Saver();
  // Careless in one way only: a failed save leaves no temporary file, as
  // the careful one does not.
  return [save](const std::string& path, const SavedState& state) {
    if (save(path, state)) return true;
    const int error = errno;
    std::remove(TemporaryOf(path).c_str());
    std::remove((path + ".new").c_str());
    errno = error;
    return false;
  };
}

}  // namespace copyjob
