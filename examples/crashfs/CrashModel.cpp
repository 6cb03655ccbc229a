#include "examples/crashfs/CrashModel.h"

#include <cerrno>
#include <random>
#include <set>
#include <utility>

namespace crashfs {

struct CrashModel::Change {
  enum Kind { kWrite, kTruncate, kAllocate } kind;
  uint64_t offset;  // kTruncate: the size
  uint64_t length;
  std::string data;
};

// A name set to a node (ino != 0) or removed. The two halves of a rename
// share a pair number and are made durable, or lost, together.
struct CrashModel::NameOp {
  std::string name;
  Ino ino;
  uint64_t pair;
  bool synced = false;
};

struct CrashModel::Node {
  Ino ino = 0;
  bool folder = false;
  uint32_t mode = 0;
  uint32_t links = 0;  // visible names
  // A file: what reads see, what its last fsync made durable, and the
  // changes between the two in the order they came.
  std::string data, synced;
  std::vector<Change> pending;
  bool dirty = false;  // synced changed since the disk was written
  // A folder: its names as seen and as durable, and the changes between.
  std::map<std::string, Ino> entries, durable;
  std::vector<NameOp> names;
};

namespace {

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t at = 0; at < path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

std::string Join(const std::string& folder, const std::string& name) { return folder.empty() ? name : folder + "/" + name; }

}  // namespace

CrashModel::CrashModel(Disk* disk, size_t sector) : disk_(disk), sector_(sector) {
  auto root = std::make_unique<Node>();
  root->ino = kRoot;
  root->folder = true;
  root->mode = 0755;
  root->links = 1;
  nodes_[kRoot] = std::move(root);
  projected_[""] = {kRoot, true};
}

CrashModel::~CrashModel() = default;

CrashModel::Node* CrashModel::Find(Ino ino) const {
  const auto it = nodes_.find(ino);
  return it == nodes_.end() ? nullptr : it->second.get();
}

int CrashModel::Lookup(const std::string& path, Ino* ino) const {
  Ino at = kRoot;
  for (const std::string& part : Split(path)) {
    const Node* folder = Find(at);
    if (!folder->folder) return -ENOTDIR;
    const auto it = folder->entries.find(part);
    if (it == folder->entries.end()) return -ENOENT;
    at = it->second;
  }
  *ino = at;
  return 0;
}

int CrashModel::Parent(const std::string& path, Node** folder, std::string* name) const {
  std::vector<std::string> parts = Split(path);
  if (parts.empty()) return -EBUSY;  // the root
  *name = parts.back();
  parts.pop_back();
  std::string parent;
  for (const std::string& part : parts) parent += "/" + part;
  Ino ino = 0;
  if (const int error = Lookup(parent, &ino)) return error;
  *folder = Find(ino);
  return (*folder)->folder ? 0 : -ENOTDIR;
}

void CrashModel::LoadFolder(const std::string& path, uint32_t mode) {
  Ino ino = 0;
  Create(path, mode, true, &ino);
}

void CrashModel::LoadFile(const std::string& path, std::string data, uint32_t mode) {
  Ino ino = 0;
  if (Create(path, mode, false, &ino) != 0) return;
  Node* file = Find(ino);
  file->data = file->synced = std::move(data);
}

int CrashModel::Stat(Ino ino, Attributes* out) const {
  const Node* node = Find(ino);
  if (node == nullptr) return -ENOENT;
  *out = {ino, node->folder, node->data.size(), node->mode, node->folder ? 2 : node->links};
  return 0;
}

int CrashModel::List(Ino ino, std::vector<std::string>* names) const {
  const Node* folder = Find(ino);
  if (folder == nullptr) return -ENOENT;
  if (!folder->folder) return -ENOTDIR;
  for (const auto& entry : folder->entries) names->push_back(entry.first);
  return 0;
}

int CrashModel::Read(Ino ino, uint64_t offset, size_t size, std::string* out) const {
  const Node* file = Find(ino);
  if (file == nullptr) return -ENOENT;
  if (file->folder) return -EISDIR;
  *out = offset < file->data.size() ? file->data.substr(offset, size) : std::string();
  return 0;
}

void CrashModel::AddNameOp(Node* folder, const std::string& name, Ino ino, uint64_t pair) {
  folder->names.push_back({name, ino, pair});
}

int CrashModel::Create(const std::string& path, uint32_t mode, bool folder, Ino* ino) {
  Node* parent = nullptr;
  std::string name;
  if (const int error = Parent(path, &parent, &name)) return error;
  if (parent->entries.count(name) != 0) return -EEXIST;
  auto node = std::make_unique<Node>();
  node->ino = *ino = next_++;
  node->folder = folder;
  node->mode = mode & 07777;
  node->links = 1;
  parent->entries[name] = node->ino;
  AddNameOp(parent, name, node->ino, 0);
  nodes_[node->ino] = std::move(node);
  return 0;
}

void CrashModel::Apply(const Change& change, std::string* data) {
  switch (change.kind) {
    case Change::kWrite:
      if (data->size() < change.offset + change.length) data->resize(change.offset + change.length, '\0');
      data->replace(change.offset, change.length, change.data);
      break;
    case Change::kTruncate:
      data->resize(change.offset, '\0');
      break;
    case Change::kAllocate:
      if (data->size() < change.offset + change.length) data->resize(change.offset + change.length, '\0');
      break;
  }
}

int CrashModel::Write(Ino ino, uint64_t offset, const std::string& data) {
  Node* file = Find(ino);
  if (file == nullptr) return -ENOENT;
  if (file->folder) return -EISDIR;
  file->pending.push_back({Change::kWrite, offset, data.size(), data});
  Apply(file->pending.back(), &file->data);
  return 0;
}

int CrashModel::Truncate(Ino ino, uint64_t size) {
  Node* file = Find(ino);
  if (file == nullptr) return -ENOENT;
  if (file->folder) return -EISDIR;
  file->pending.push_back({Change::kTruncate, size, 0, {}});
  Apply(file->pending.back(), &file->data);
  return 0;
}

int CrashModel::Allocate(Ino ino, uint64_t offset, uint64_t length) {
  Node* file = Find(ino);
  if (file == nullptr) return -ENOENT;
  if (file->folder) return -EISDIR;
  file->pending.push_back({Change::kAllocate, offset, length, {}});
  Apply(file->pending.back(), &file->data);
  return 0;
}

int CrashModel::Chmod(Ino ino, uint32_t mode) {
  Node* node = Find(ino);
  if (node == nullptr) return -ENOENT;
  node->mode = mode & 07777;
  return 0;
}

int CrashModel::Remove(const std::string& path, bool folder) {
  Node* parent = nullptr;
  std::string name;
  if (const int error = Parent(path, &parent, &name)) return error;
  const auto it = parent->entries.find(name);
  if (it == parent->entries.end()) return -ENOENT;
  Node* node = Find(it->second);
  if (node->folder != folder) return folder ? -ENOTDIR : -EISDIR;
  if (folder && !node->entries.empty()) return -ENOTEMPTY;
  --node->links;
  parent->entries.erase(it);
  AddNameOp(parent, name, 0, 0);
  return 0;
}

int CrashModel::Rename(const std::string& from, const std::string& to, bool noReplace) {
  Node *source = nullptr, *target = nullptr;
  std::string name, newName;
  if (const int error = Parent(from, &source, &name)) return error;
  if (const int error = Parent(to, &target, &newName)) return error;
  const auto it = source->entries.find(name);
  if (it == source->entries.end()) return -ENOENT;
  const Ino ino = it->second;
  Node* node = Find(ino);
  // A folder cannot go inside itself.
  if (to.compare(0, from.size() + 1, from + "/") == 0) return -EINVAL;
  const auto replaced = target->entries.find(newName);
  if (replaced != target->entries.end()) {
    if (replaced->second == ino) return 0;
    if (noReplace) return -EEXIST;
    Node* old = Find(replaced->second);
    if (old->folder != node->folder) return node->folder ? -ENOTDIR : -EISDIR;
    if (old->folder && !old->entries.empty()) return -ENOTEMPTY;
    --old->links;
  }
  const uint64_t pair = ++pairs_;
  source->entries.erase(it);
  target->entries[newName] = ino;
  AddNameOp(target, newName, ino, pair);
  AddNameOp(source, name, 0, pair);
  return 0;
}

int CrashModel::Link(const std::string& from, const std::string& to) {
  Ino ino = 0;
  if (const int error = Lookup(from, &ino)) return error;
  Node* node = Find(ino);
  if (node->folder) return -EPERM;
  Node* target = nullptr;
  std::string name;
  if (const int error = Parent(to, &target, &name)) return error;
  if (target->entries.count(name) != 0) return -EEXIST;
  target->entries[name] = ino;
  ++node->links;
  AddNameOp(target, name, ino, 0);
  return 0;
}

int CrashModel::Sync(Ino ino) {
  Node* node = Find(ino);
  if (node == nullptr) return -ENOENT;
  if (node->folder) {
    for (NameOp& op : node->names) op.synced = true;
  } else if (!node->pending.empty()) {
    node->synced = node->data;
    node->pending.clear();
    node->dirty = true;
  }
  Settle();
  return Project() ? 0 : -EIO;
}

bool CrashModel::SyncAll() {
  for (auto& [ino, node] : nodes_) {
    for (NameOp& op : node->names) op.synced = true;
    if (!node->pending.empty()) {
      node->synced = node->data;
      node->pending.clear();
      node->dirty = true;
    }
  }
  Settle();
  return Project();
}

namespace {

void MakeDurable(const std::string& name, Ino ino, std::map<std::string, Ino>* durable) {
  if (ino != 0) {
    (*durable)[name] = ino;
  } else {
    durable->erase(name);
  }
}

}  // namespace

// Makes durable, in each folder's order, the name changes synced there; a
// rename once both of its halves are synced and come first in their
// folders (or one after the other, in one folder).
void CrashModel::Settle() {
  for (bool moved = true; moved;) {
    moved = false;
    for (auto& [ino, folder] : nodes_) {
      while (!folder->names.empty() && folder->names.front().synced) {
        const NameOp op = folder->names.front();
        Node* other = nullptr;
        size_t at = 0;
        for (auto& [id, candidate] : nodes_) {
          for (size_t i = 0; op.pair != 0 && i < candidate->names.size(); ++i) {
            if (candidate->names[i].pair == op.pair && !(candidate == folder && i == 0)) other = candidate.get(), at = i;
          }
        }
        if (other != nullptr && (!other->names[at].synced || at != (other == folder.get() ? 1 : 0))) break;
        if (other != nullptr) {
          MakeDurable(other->names[at].name, other->names[at].ino, &other->durable);
          other->names.erase(other->names.begin() + static_cast<std::ptrdiff_t>(at));
        }
        MakeDurable(op.name, op.ino, &folder->durable);
        folder->names.erase(folder->names.begin());
        moved = true;
      }
    }
  }
}

void CrashModel::ProjectFolder(const Node* folder, const std::string& path, Paths* paths) const {
  for (const auto& [name, ino] : folder->durable) {
    const std::string child = Join(path, name);
    const Node* node = Find(ino);
    (*paths)[child] = {ino, node->folder};
    if (node->folder) ProjectFolder(node, child, paths);
  }
}

// Brings the disk to the durable tree: what left it goes, deepest first;
// what came or changed is written, folders before what they hold. When
// the disk refuses, all is tried again the next time.
bool CrashModel::Project() {
  Paths paths{{"", {kRoot, true}}};
  ProjectFolder(Find(kRoot), "", &paths);
  bool done = true;
  for (auto it = projected_.rbegin(); it != projected_.rend(); ++it) {
    const auto now = paths.find(it->first);
    if (now == paths.end() || now->second.folder != it->second.folder) done &= disk_->Remove(it->first);
  }
  for (const auto& [path, held] : paths) {
    const auto before = projected_.find(path);
    const bool same = before != projected_.end() && before->second.ino == held.ino;
    const bool kept = before != projected_.end() && before->second.folder == held.folder;
    if (held.folder) {
      if (!kept) done &= disk_->PutFolder(path);
    } else if (!same || !kept || Find(held.ino)->dirty) {
      done &= disk_->PutFile(path, Find(held.ino)->synced);
    }
  }
  if (!done) return false;
  for (auto& [ino, node] : nodes_) node->dirty = false;
  projected_.swap(paths);
  return true;
}

// Each folder's unsynced name changes back to a point in their order; a
// rename kept only when both of its halves are. Returns how many were
// kept, of *all.
size_t CrashModel::LoseNames(Random* random, size_t* all) {
  std::map<Node*, size_t> kept;
  for (auto& [ino, folder] : nodes_) {
    const size_t n = folder->names.size();
    const uint64_t way = random->Below(4);
    kept[folder.get()] = way == 0 ? 0 : way == 1 ? n : random->Below(n + 1);
    *all += n;
  }
  for (bool cut = true; cut;) {
    cut = false;
    for (auto& [folder, count] : kept) {
      for (size_t i = 0; i < count; ++i) {
        for (auto& [other, otherCount] : kept) {
          for (size_t j = otherCount; folder->names[i].pair != 0 && j < other->names.size(); ++j) {
            if (other->names[j].pair == folder->names[i].pair) count = i, cut = true;
          }
        }
      }
    }
  }
  size_t total = 0;
  for (auto& [folder, count] : kept) {
    for (size_t i = 0; i < count; ++i) MakeDurable(folder->names[i].name, folder->names[i].ino, &folder->durable);
    total += count;
    folder->names.clear();
    folder->entries = folder->durable;
  }
  return total;
}

// What of a file's unsynced changes reaches the disk: none (0), a prefix
// of them (1), some of its sectors, a lost one perhaps garbage and the
// size perhaps ahead of the data (2), or all (3).
// The bytes that unsynced changes touched: only they may differ after a
// loss from what was synced.
std::vector<bool> CrashModel::Touched(const Node& file) {
  std::vector<bool> touched;
  uint64_t size = file.synced.size();
  const auto mark = [&touched](uint64_t from, uint64_t to) {
    if (touched.size() < to) touched.resize(to, false);
    std::fill(touched.begin() + static_cast<std::ptrdiff_t>(from), touched.begin() + static_cast<std::ptrdiff_t>(to), true);
  };
  for (const Change& change : file.pending) {
    if (change.kind == Change::kTruncate) {
      mark(std::min(size, change.offset), std::max(size, change.offset));
      size = change.offset;
    } else {
      mark(change.offset, change.offset + change.length);
      size = std::max(size, change.offset + change.length);
    }
  }
  return touched;
}

std::string CrashModel::Survivor(const Node& file, uint64_t way, Random* random) const {
  std::string result = file.synced;
  if (way == 1) {
    const size_t prefix = random->Below(file.pending.size() + 1);
    for (size_t i = 0; i < prefix; ++i) Apply(file.pending[i], &result);
  } else if (way == 2) {
    // Each sector the new data, the old, or garbage where it was written;
    // the size that of the new data or, run ahead, of the larger.
    const std::string& now = file.data;
    const std::vector<bool> touched = Touched(file);
    const size_t size = random->Below(2) == 0 ? now.size() : std::max(now.size(), result.size());
    std::string torn(size, '\0');
    for (size_t at = 0; at < size; at += sector_) {
      const uint64_t source = random->Below(8);  // new, old, or garbage
      for (size_t i = at; i < std::min(size, at + sector_); ++i) {
        const bool changed = i < touched.size() && touched[i];
        const std::string& from = source < 4 && changed ? now : result;
        torn[i] = source == 7 && changed ? static_cast<char>(random->Below(256)) : i < from.size() ? from[i] : '\0';
      }
    }
    result.swap(torn);
  } else if (way == 3) {
    result = file.data;
  }
  return result;
}

std::string CrashModel::Lose(uint64_t seed, bool tear) {
  Random random{std::mt19937_64(seed)};
  size_t names = 0;
  const size_t namesKept = LoseNames(&random, &names);
  size_t files = 0, ways[4] = {0, 0, 0, 0};
  for (auto& [ino, file] : nodes_) {
    if (file->pending.empty()) continue;
    static const uint64_t kWhole[] = {0, 1, 3};
    const uint64_t way = tear ? random.Below(4) : kWhole[random.Below(3)];
    ++files, ++ways[way];
    file->synced = file->data = Survivor(*file, way, &random);
    file->pending.clear();
    file->dirty = true;
  }
  Collect();
  ++generation_;
  const bool written = Project();
  return std::string(written ? "" : "the backing folder refused what survives; ") + "power lost (seed " + std::to_string(seed) + "): of " + std::to_string(files) +
         " files with unsynced data, " + std::to_string(ways[0]) + " kept none of it, " + std::to_string(ways[1]) +
         " a prefix, " + std::to_string(ways[2]) + " some sectors, " + std::to_string(ways[3]) + " all; " +
         std::to_string(namesKept) + " of " + std::to_string(names) + " unsynced name changes kept";
}

// After a loss, only what the durable tree names is left.
void CrashModel::Collect() {
  std::set<Ino> reached{kRoot};
  std::vector<Ino> todo{kRoot};
  while (!todo.empty()) {
    const Node* folder = Find(todo.back());
    todo.pop_back();
    for (const auto& entry : folder->entries) {
      if (reached.insert(entry.second).second && Find(entry.second)->folder) todo.push_back(entry.second);
    }
  }
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    it = reached.count(it->first) != 0 ? std::next(it) : nodes_.erase(it);
  }
  for (auto& [ino, node] : nodes_) node->links = 0;
  for (auto& [ino, node] : nodes_) {
    for (const auto& entry : node->entries) ++Find(entry.second)->links;
  }
}

}  // namespace crashfs
