// What a disk keeps through a power loss, as a model: the tree that
// programs see (everything written, as a page cache holds it), and the
// part of it that is durable, which is all that a power loss leaves.
//
//   - A file's data becomes durable with an fsync of the file (any of its
//     descriptors): what was written to it before is then kept.
//   - A name (a create, link, removal or rename in a folder) becomes
//     durable with an fsync of that folder; a rename between two folders
//     once both are synced, and it is kept or undone as a whole. Data
//     synced under a name that is not durable yet is kept once it is.
//   - Lose(seed) is the power loss: per file, of the writes since its last
//     fsync, nothing, a prefix, a subset of its sectors (some left as
//     garbage where they were written, its size perhaps ahead of its
//     data; bytes no unsynced write touched never change) or everything reaches
//     the disk; per folder, its name changes back to a point in their
//     order. The tree is then the durable one.
//
// The durable tree is kept on a Disk (a folder, for the file system; a
// map, for the tests), so that it holds at every moment exactly what would
// survive. Threading: one thread at a time (the file system serialises).
#ifndef EXAMPLES_CRASHFS_CRASHMODEL_H_
#define EXAMPLES_CRASHFS_CRASHMODEL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace crashfs {

// Where the durable tree is kept: paths are relative ("a/b"), "" the root.
// Each returns false when the disk refuses (a full disk).
class Disk {
 public:
  virtual ~Disk() = default;
  virtual bool PutFile(const std::string& path, const std::string& data) = 0;
  virtual bool PutFolder(const std::string& path) = 0;
  // A file or an empty folder.
  virtual bool Remove(const std::string& path) = 0;
};

using Ino = uint64_t;
constexpr Ino kRoot = 1;

struct Attributes {
  Ino ino = 0;
  bool folder = false;
  uint64_t size = 0;
  uint32_t mode = 0;  // permission bits
  uint32_t links = 0;
};

class CrashModel {
 public:
  explicit CrashModel(Disk* disk, size_t sector = 512);
  ~CrashModel();
  // From now on the durable tree goes to `disk` (after loading what a
  // disk already holds, which need not be written again).
  void UseDisk(Disk* disk) { disk_ = disk; }

  // Loads a file or folder as the disk already holds it (a folder before
  // what it holds); SyncAll() after the last makes them all durable, in
  // one pass over the tree.
  void LoadFile(const std::string& path, std::string data, uint32_t mode);
  void LoadFolder(const std::string& path, uint32_t mode);

  // The visible tree. Each returns 0 or a negative errno.
  int Lookup(const std::string& path, Ino* ino) const;
  int Stat(Ino ino, Attributes* out) const;
  int List(Ino folder, std::vector<std::string>* names) const;
  int Read(Ino ino, uint64_t offset, size_t size, std::string* out) const;
  int Create(const std::string& path, uint32_t mode, bool folder, Ino* ino);
  int Write(Ino ino, uint64_t offset, const std::string& data);
  int Truncate(Ino ino, uint64_t size);
  // Space for [offset, offset + length): the size grows to cover it.
  int Allocate(Ino ino, uint64_t offset, uint64_t length);
  int Chmod(Ino ino, uint32_t mode);
  int Remove(const std::string& path, bool folder);
  int Rename(const std::string& from, const std::string& to, bool noReplace);
  int Link(const std::string& from, const std::string& to);

  // Durability.
  // A file's data, or a folder's names; -EIO when the disk refuses them.
  int Sync(Ino ino);
  // sync(2), and a clean unmount; false when the disk refuses.
  bool SyncAll();
  // The power loss; returns one line of what was kept and lost. Without
  // `tear`, a file keeps none, a prefix or all of its unsynced changes.
  std::string Lose(uint64_t seed, bool tear = true);
  // Counts a descriptor against: opened before the last loss.
  uint64_t generation() const { return generation_; }

 private:
  struct Change;  // a write, truncation or allocation
  struct NameOp;  // a name set or removed in a folder
  struct Node;
  Node* Find(Ino ino) const;
  int Parent(const std::string& path, Node** folder, std::string* name) const;
  static void Apply(const Change& change, std::string* data);
  void AddNameOp(Node* folder, const std::string& name, Ino ino, uint64_t pair);
  void Settle();
  bool Project();
  struct Held {
    Ino ino;
    bool folder;
  };
  using Paths = std::map<std::string, Held>;
  void ProjectFolder(const Node* folder, const std::string& path, Paths* paths) const;
  void Collect();
  struct Random {
    std::mt19937_64 engine;
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : engine() % n; }
  };
  size_t LoseNames(Random* random, size_t* all);
  std::string Survivor(const Node& file, uint64_t way, Random* random) const;
  static std::vector<bool> Touched(const Node& file);

  Disk* disk_;
  size_t sector_;
  std::map<Ino, std::unique_ptr<Node>> nodes_;
  Ino next_ = kRoot + 1;
  uint64_t pairs_ = 0, generation_ = 0;
  Paths projected_;  // the disk's paths and what they hold
};

}  // namespace crashfs

#endif  // EXAMPLES_CRASHFS_CRASHMODEL_H_
