#include "examples/copyjob/torture/PowerLoss.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

namespace copyjob {

namespace {

using journal::Record;

constexpr uint64_t kBlock = 512;

// A name for each file of the journal, as the files stand now: one of its
// own names, or a link the fault layer kept for it.
std::map<uint64_t, std::string> NamesByInode(const std::vector<Record>& records) {
  std::map<uint64_t, std::string> names;
  for (const Record& r : records) {
    for (const std::string* name : {&r.path, &r.other, &r.saved}) {
      struct stat info;
      if (!name->empty() && ::lstat(name->c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        names.emplace(info.st_ino, *name);
      }
    }
  }
  return names;
}

// One block of a write, or a whole truncation, not yet synced.
struct Piece {
  const Record* record;
  uint64_t from, to;  // the bytes of a write
};

bool Put(int fd, const char* data, uint64_t size, uint64_t at) {
  return ::pwrite(fd, data, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
}

// Puts back what a lost piece replaced: the old bytes, and zeros where the
// file was shorter.
void Undo(int fd, const Piece& piece) {
  const Record& r = *piece.record;
  if (r.kind == journal::kTruncate) {
    Put(fd, r.undo.data(), r.undo.size(), r.length);
    return;
  }
  const uint64_t oldEnd = r.offset + r.undo.size();
  if (piece.from < oldEnd) {
    const uint64_t to = std::min(piece.to, oldEnd);
    Put(fd, r.undo.data() + (piece.from - r.offset), to - piece.from, piece.from);
  }
  if (piece.to > std::max(piece.from, oldEnd)) {
    const uint64_t from = std::max(piece.from, oldEnd);
    const std::string zeros(piece.to - from, '\0');
    Put(fd, zeros.data(), zeros.size(), from);
  }
}

// Loses some of what was written to one file since its last sync.
void LoseData(const std::string& name, const std::vector<const Record*>& pending, std::mt19937_64& random,
              PowerLossReport* report) {
  std::vector<Piece> pieces;
  for (const Record* r : pending) {
    if (r->kind == journal::kTruncate) {
      pieces.push_back({r, 0, 0});
      continue;
    }
    for (uint64_t from = r->offset; from < r->offset + r->length;) {
      const uint64_t to = std::min(r->offset + r->length, (from / kBlock + 1) * kBlock);
      pieces.push_back({r, from, to});
      from = to;
    }
  }
  if (pieces.empty()) return;
  std::vector<bool> kept(pieces.size(), false);
  switch (random() % 4) {
    case 0:  // all lost
      break;
    case 1: {  // a prefix survives
      const size_t survivors = random() % pieces.size();
      std::fill(kept.begin(), kept.begin() + static_cast<long>(survivors), true);
      break;
    }
    case 2:  // a subset survives
      for (size_t i = 0; i < kept.size(); ++i) kept[i] = random() % 2 == 0;
      break;
    default:  // everything survives
      return;
  }
  const int fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0) return;
  // A write the process died in may not have reached its end.
  const auto written = static_cast<uint64_t>(info.st_size);
  uint64_t lost = 0;
  for (size_t i = pieces.size(); i-- > 0;) {
    if (kept[i]) continue;
    Undo(fd, pieces[i]);
    lost += pieces[i].to - pieces[i].from;
  }
  // The size the file ends with: as the surviving pieces, in order, left it.
  uint64_t size = pending.front()->size;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (!kept[i]) continue;
    const Record& r = *pieces[i].record;
    size = r.kind == journal::kTruncate ? r.length : std::max(size, std::min(pieces[i].to, written));
  }
  const bool resized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  static_cast<void>(resized);  // nothing better to do; the checks will see the file as it is
  ::close(fd);
  if (std::find(kept.begin(), kept.end(), false) != kept.end()) {
    ++report->filesRolledBack;
    report->bytesLost += lost;
  }
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool SameInode(const std::string& name, uint64_t inode) {
  struct stat info;
  return ::lstat(name.c_str(), &info) == 0 && info.st_ino == inode;
}

// Undoes one creation, rename or removal.
void UndoName(const Record& r) {
  switch (r.kind) {
    case journal::kCreate:
      if (SameInode(r.path, r.inode)) ::unlink(r.path.c_str());
      break;
    case journal::kRenamed:
      ::rename(r.other.c_str(), r.path.c_str());
      if (!r.saved.empty()) ::rename(r.saved.c_str(), r.other.c_str());
      break;
    case journal::kRemoved:
      if (!r.saved.empty()) ::rename(r.saved.c_str(), r.path.c_str());
      break;
    default:
      break;
  }
}

}  // namespace

PowerLossReport LosePower(const std::vector<Record>& records, std::mt19937_64& random) {
  PowerLossReport report;
  // The data first, by file, whatever its names are now.
  std::map<uint64_t, std::vector<const Record*>> pending;
  for (const Record& r : records) {
    if (r.kind == journal::kSync) pending.erase(r.inode);
    if (r.kind == journal::kWrite || r.kind == journal::kTruncate) pending[r.inode].push_back(&r);
  }
  const std::map<uint64_t, std::string> names = NamesByInode(records);
  for (const auto& file : pending) {
    const auto name = names.find(file.first);
    if (name != names.end()) LoseData(name->second, file.second, random, &report);
  }
  // Then the names, folder by folder.
  std::map<std::string, std::vector<const Record*>> changes;
  for (const Record& r : records) {
    if (r.kind == journal::kFolderSync) changes.erase(r.path);
    if (r.kind == journal::kCreate || r.kind == journal::kRemoved) changes[FolderOf(r.path)].push_back(&r);
    if (r.kind == journal::kRenamed) changes[FolderOf(r.other)].push_back(&r);
  }
  for (const auto& folder : changes) {
    const std::vector<const Record*>& list = folder.second;
    const size_t survivors = random() % (list.size() + 1);
    for (size_t i = list.size(); i-- > survivors;) UndoName(*list[i]);
    report.namesUndone += static_cast<long>(list.size() - survivors);
  }
  for (const Record& r : records) {
    if (!r.saved.empty()) ::unlink(r.saved.c_str());
  }
  return report;
}

}  // namespace copyjob
