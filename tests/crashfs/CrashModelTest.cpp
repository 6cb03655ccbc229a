// jx-crashfs's model of what a power loss leaves, as a table: sequences of
// operations and syncs, and what the disk holds after a loss, for every
// one of many seeds (what must always be there, and what some seed must
// show, so that a loss that never takes anything fails the row).
#include "examples/crashfs/CrashModel.h"
#include "examples/crashfs/Plan.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The disk as a map: a folder is its path with a '/' after it.
class MapDisk : public crashfs::Disk {
 public:
  bool PutFile(const std::string& path, const std::string& data) override {
    if (full) return false;
    held[path] = data;
    return true;
  }
  bool PutFolder(const std::string& path) override {
    held[path + "/"] = "";
    return true;
  }
  bool Remove(const std::string& path) override {
    held.erase(path);
    held.erase(path + "/");
    return true;
  }
  // "path=data path/ ..." in order of path.
  std::string Text() const {
    std::string text;
    for (const auto& [path, data] : held) text += (text.empty() ? "" : " ") + (path.back() == '/' ? path : path + "=" + data);
    return text;
  }
  std::map<std::string, std::string> held;
  bool full = false;  // refuses every file
};

// Runs one line of a script: "create P", "mkdir P", "write P OFFSET DATA",
// "truncate P SIZE", "fsync P", "rename A B", "link A B", "unlink P",
// "rmdir P", "sync". Returns the operation's result.
int Do(crashfs::CrashModel* model, const std::string& line) {
  std::istringstream in(line);
  std::string op, a, b;
  in >> op >> a >> b;
  crashfs::Ino ino = 0;
  if (op == "create" || op == "mkdir") return model->Create(a, 0644, op == "mkdir", &ino);
  if (op == "sync") return model->SyncAll(), 0;
  if (op == "rename") return model->Rename(a, b, false);
  if (op == "link") return model->Link(a, b);
  if (op == "unlink" || op == "rmdir") return model->Remove(a, op == "rmdir");
  if (const int error = model->Lookup(a, &ino)) return error;
  if (op == "fsync") return model->Sync(ino);
  if (op == "truncate") return model->Truncate(ino, std::stoull(b));
  std::string data;
  in >> data;
  return model->Write(ino, std::stoull(b), data);
}

struct Row {
  const char* name;
  std::vector<std::string> script;
  std::string before;                  // the disk before the loss
  std::set<std::string> always;        // after every loss: exactly one of these
  std::set<std::string> sometimes;     // each seen after some loss
};

const Row kRows[] = {
    {"synced data and name survive every loss",
     {"create /s", "write /s 0 one", "fsync /s", "fsync /"},
     "s=one",
     {"s=one"},
     {}},
    {"a new file's name needs its folder's fsync, not the file's",
     {"create /s", "write /s 0 one", "fsync /s"},
     "",
     {"", "s=one"},
     {"", "s=one"}},
    {"unsynced data: nothing, a prefix or all of it",
     {"create /s", "fsync /", "fsync /s", "write /s 0 ab", "write /s 2 cd"},
     "s=",
     {"s=", "s=ab", "s=abcd"},
     {"s=", "s=abcd"}},
    {"the rename before the data's fsync: the old state can be lost",
     {"create /s", "write /s 0 old", "fsync /s", "fsync /", "create /t", "write /t 0 new", "rename /t /s"},
     "s=old",
     {"s=old", "s=", "s=new", "s=old t=", "s=old t=new"},
     {"s=old", "s=", "s=new"}},
    {"the rename after the data's fsync: old or new, never less",
     {"create /s", "write /s 0 old", "fsync /s", "fsync /", "create /t", "write /t 0 new", "fsync /t", "rename /t /s"},
     "s=old",
     {"s=old", "s=new", "s=old t=new"},
     {"s=old", "s=new"}},
    {"a rename between folders is kept or undone as a whole",
     {"mkdir /a", "mkdir /b", "create /a/s", "write /a/s 0 x", "fsync /a/s", "sync", "rename /a/s /b/s", "fsync /b"},
     "a/ a/s=x b/",
     {"a/ a/s=x b/", "a/ b/ b/s=x"},
     {"a/ a/s=x b/", "a/ b/ b/s=x"}},
    {"a rename durable once both folders are synced",
     {"mkdir /a", "mkdir /b", "create /a/s", "write /a/s 0 x", "sync", "rename /a/s /b/s", "fsync /b", "fsync /a"},
     "a/ b/ b/s=x",
     {"a/ b/ b/s=x"},
     {}},
    {"a removal, a link and a truncation, synced",
     {"create /s", "write /s 0 abc", "link /s /h", "sync", "unlink /s", "truncate /h 1", "fsync /h", "fsync /"},
     "h=a",
     {"h=a"},
     {}},
};

TEST(CrashModel, LeavesWhatWasSyncedAndSomeOfTheRest) {
  for (const Row& row : kRows) {
    std::set<std::string> seen;
    for (uint64_t seed = 0; seed < 64; ++seed) {
      MapDisk disk;
      crashfs::CrashModel model(&disk, 2);
      for (const std::string& line : row.script) ASSERT_EQ(Do(&model, line), 0) << row.name << ": " << line;
      ASSERT_EQ(disk.Text(), row.before) << row.name;
      model.Lose(seed, false);
      EXPECT_EQ(row.always.count(disk.Text()), 1u) << row.name << ", seed " << seed << ": " << disk.Text();
      // The mount shows the disk after a loss.
      crashfs::Ino ino = 0;
      std::vector<std::string> names;
      ASSERT_EQ(model.List(crashfs::kRoot, &names), 0);
      for (const std::string& name : names) {
        EXPECT_EQ(model.Lookup("/" + name, &ino), 0);
        const bool held = disk.held.count(name) + disk.held.count(name + "/") == 1;
        EXPECT_TRUE(held) << row.name << ": " << name << " is seen but not on the disk";
      }
      seen.insert(disk.Text());
    }
    for (const std::string& outcome : row.sometimes) EXPECT_EQ(seen.count(outcome), 1u) << row.name << ": never " << outcome;
  }
}

// A loss may tear a file in its sectors, leave garbage in one, and leave
// its size ahead of its data; a sector is all old, all new or garbage.
TEST(CrashModel, TearsUnsyncedDataInWholeSectors) {
  bool torn = false;
  for (uint64_t seed = 0; seed < 200; ++seed) {
    MapDisk disk;
    crashfs::CrashModel model(&disk, 4);
    for (const char* line : {"create /s", "write /s 0 aaaaaaaaaaaa", "sync", "write /s 0 bbbbbbbbbbbbbbbb"}) {
      ASSERT_EQ(Do(&model, line), 0);
    }
    model.Lose(seed);
    const std::string& data = disk.held["s"];
    ASSERT_TRUE(data.size() == 12 || data.size() == 16) << data;
    for (size_t at = 0; at < data.size(); at += 4) {
      const std::string unit = data.substr(at, 4);
      torn |= unit == "bbbb" && data.substr(0, 4) == "aaaa";
      if (unit != "aaaa" && unit != "bbbb" && unit != std::string(4, '\0')) {
        // Garbage: not a mix of the two within one sector.
        EXPECT_FALSE(unit.find('a') != std::string::npos && unit.find('b') != std::string::npos) << seed;
      }
    }
  }
  EXPECT_TRUE(torn);
}

// A loss changes only the bytes that unsynced writes touched: synced data
// sharing a sector with them, or before an unaligned append, stays whole.
TEST(CrashModel, SyncedBytesBesideALostWriteStayWhole) {
  bool garbage = false;
  for (uint64_t seed = 0; seed < 200; ++seed) {
    MapDisk disk;
    crashfs::CrashModel model(&disk, 4);
    for (const char* line : {"create /s", "write /s 0 aaaaaaaaaa", "sync", "write /s 5 bb", "write /s 10 cccc"}) {
      ASSERT_EQ(Do(&model, line), 0);
    }
    model.Lose(seed);
    const std::string& data = disk.held["s"];
    for (size_t i = 0; i < std::min<size_t>(data.size(), 10); ++i) {
      if (i == 5 || i == 6) {
        garbage |= data[i] != 'a' && data[i] != 'b';
      } else {
        EXPECT_EQ(data[i], 'a') << "seed " << seed << ": " << data;
      }
    }
  }
  EXPECT_TRUE(garbage);
}

// A disk that refuses fails the sync; the sync after it writes all.
TEST(CrashModel, AFullDiskFailsTheSync) {
  MapDisk disk;
  crashfs::CrashModel model(&disk);
  for (const char* line : {"create /s", "write /s 0 x", "fsync /"}) ASSERT_EQ(Do(&model, line), 0);
  disk.full = true;
  EXPECT_EQ(Do(&model, "fsync /s"), -EIO);
  disk.full = false;
  EXPECT_EQ(Do(&model, "write /s 1 y"), 0);
  EXPECT_TRUE(model.SyncAll());
  EXPECT_EQ(disk.Text(), "s=xy");
}

TEST(CrashModel, RefusesWhatAFileSystemRefuses) {
  MapDisk disk;
  crashfs::CrashModel model(&disk);
  for (const char* line : {"mkdir /d", "create /d/f", "create /g"}) ASSERT_EQ(Do(&model, line), 0);
  const std::pair<const char*, int> kRefusals[] = {
      {"create /d/f", -EEXIST},     {"rmdir /d", -ENOTEMPTY},     {"unlink /d", -EISDIR},
      {"rmdir /g", -ENOTDIR},       {"rename /d /d/e", -EINVAL},  {"rename /g /d", -EISDIR},
      {"link /d /e", -EPERM},       {"create /none/f", -ENOENT},  {"fsync /none", -ENOENT},
      {"create /g/f", -ENOTDIR},    {"link /g /d/f", -EEXIST},    {"unlink /none", -ENOENT},
  };
  for (const auto& [line, error] : kRefusals) EXPECT_EQ(Do(&model, line), error) << line;
}

// A plan fires each event once, at the operation it names, and refuses
// what it cannot plan.
TEST(CrashPlan, FiresAtTheNthOperationItNames) {
  crashfs::Plan plan;
  std::string error;
  for (const char* command : {"fail write:state.tmp 2 ENOSPC", "kill rename:state 1", "kill write:* 1 half",
                              "fail fsync:* 1 EIO", "count write:*.vol", "kill fsyncdir:/ 1"}) {
    ASSERT_TRUE(plan.Add(command, &error)) << command << ": " << error;
  }
  EXPECT_TRUE(plan.After("write", "data", "", true));  // a write killed at its half
  EXPECT_FALSE(plan.After("write", "1.vol", "", false, 4096));
  EXPECT_FALSE(plan.After("write", "2.vol", "", true, 99));  // a half asked for is not counted
  EXPECT_FALSE(plan.After("write", "2.vol", "", false, 100));
  EXPECT_FALSE(plan.After("fsyncdir", "destinations"));
  EXPECT_TRUE(plan.After("fsyncdir", "/"));
  EXPECT_EQ(plan.Before("write", "state.tmp"), 0);
  EXPECT_EQ(plan.Before("write", "state.tmp"), ENOSPC);
  EXPECT_EQ(plan.Before("write", "state.tmp"), 0);  // once
  EXPECT_FALSE(plan.After("rename", "a", "b"));
  EXPECT_TRUE(plan.After("rename", "state.tmp", "state"));  // either name
  EXPECT_EQ(plan.Before("fsyncdir", "x"), 0);
  EXPECT_EQ(plan.Before("fsync", "x"), EIO);
  EXPECT_EQ(plan.Report(),
            "fail write:state.tmp 2 ENOSPC: fired\nkill rename:state 1: fired\nkill write:* 1 half: fired\n"
            "fail fsync:* 1 EIO: fired\ncount write:*.vol: 2 seen, 4196 bytes\nkill fsyncdir:/ 1: fired\n");
  plan.Clear();
  EXPECT_EQ(plan.Report(), "");
  for (const char* command : {"kill sing:x 1", "kill write 1", "fail write:x 0 EIO", "fail write:x 1", "fail write:x 1 EPERM",
                              "kill write:x 1 whole", "kill rename:x 1 half", "nap write:x 1", "kill write:x 1 half more", "count write:x 1", "count write:x half", "fail write:x 1 EIO half"}) {
    EXPECT_FALSE(plan.Add(command, &error)) << command;
  }
}

}  // namespace
