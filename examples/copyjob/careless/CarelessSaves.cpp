#include "examples/copyjob/careless/CarelessSaves.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

namespace copyjob {

const char kCarelessSaves[] =
    "no-sync-temp, stream-temp, new-name, rename-first, no-sync-folder, folder-first, in-place, ack-early, skip-save or "
    "state-first";

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

bool NoSyncTemp(const std::string& path, const SavedState& state) {
  const std::string temporary = TemporaryOf(path);
  return WriteFile(temporary, state.Text(), false) && std::rename(temporary.c_str(), path.c_str()) == 0 &&
         SyncFolderOf(path);
}

bool NoSyncFolder(const std::string& path, const SavedState& state) {
  const std::string temporary = TemporaryOf(path);
  return WriteFile(temporary, state.Text(), true) && std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool FolderFirst(const std::string& path, const SavedState& state) {
  const std::string temporary = TemporaryOf(path);
  return WriteFile(temporary, state.Text(), true) && SyncFolderOf(path) &&
         std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool SkipSave(const std::string& path, const SavedState& state) {
  static long saves = 0;
  return ++saves % 7 == 0 || SaveState(path, state);
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
  static const struct {
    const char* name;
    Save save;
  } kSaves[] = {{"no-sync-temp", NoSyncTemp},     {"stream-temp", StreamTemp},     {"new-name", NewName},
                {"rename-first", RenameFirst},    {"no-sync-folder", NoSyncFolder}, {"folder-first", FolderFirst},
                {"in-place", InPlace},            {"ack-early", AckEarly},          {"skip-save", SkipSave}};
  Save save = nullptr;
  for (const auto& named : kSaves) {
    if (plant == named.name) save = named.save;
  }
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
