// The journal that the fault layer keeps of the job's and the manager's
// file operations in a torture round, and from which a power loss is
// simulated (PowerLoss.h). Each process appends one record per write(), so
// records of the two processes never mix and a kill tears at most the
// last one, which is then ignored.
//
// A record is a line of fields separated by tabs,
//   <kind> <inode> <offset> <length> <size> <undo bytes> <path> <other> <saved>
// followed by <undo bytes> raw bytes: the content that a write or a
// truncation is about to replace, written before the operation so that it
// can be put back.
#ifndef EXAMPLES_COPYJOB_TORTURE_JOURNAL_H_
#define EXAMPLES_COPYJOB_TORTURE_JOURNAL_H_

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace copyjob {
namespace journal {

enum Kind : char {
  kWrite = 'W',       // [offset, offset + length) of inode is about to be written; size: its size before
  kTruncate = 'Z',    // inode is about to be cut to length; size: its size before
  kSync = 'S',        // inode's data is durable; size: its size then
  kCreate = 'C',      // path was created (inode)
  kRename = 'R',      // path is about to be renamed to other; saved: a link to what other held, or ""
  kRenamed = 'r',     // that rename is done
  kRemove = 'U',      // path is about to be removed; saved: a link to it
  kRemoved = 'u',     // that removal is done
  kFolderSync = 'D',  // the names in folder path are durable
};

struct Record {
  char kind = 0;
  uint64_t inode = 0;
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t size = 0;
  std::string path, other, saved;
  std::string undo;
};

inline std::string Encode(const Record& r) {
  std::string text(1, r.kind);
  for (uint64_t n : {r.inode, r.offset, r.length, r.size, static_cast<uint64_t>(r.undo.size())}) {
    text += '\t' + std::to_string(n);
  }
  text += '\t' + r.path + '\t' + r.other + '\t' + r.saved + '\n';
  return text + r.undo;
}

// The records of a journal, up to a torn last one.
inline std::vector<Record> Decode(const std::string& text) {
  std::vector<Record> records;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    std::vector<std::string> fields;
    for (size_t p = at;;) {
      const size_t tab = text.find('\t', p);
      if (tab == std::string::npos || tab > end) {
        fields.push_back(text.substr(p, end - p));
        break;
      }
      fields.push_back(text.substr(p, tab - p));
      p = tab + 1;
    }
    if (fields.size() != 9 || fields[0].size() != 1) break;
    Record r;
    r.kind = fields[0][0];
    uint64_t* numbers[] = {&r.inode, &r.offset, &r.length, &r.size};
    for (int i = 0; i < 4; ++i) *numbers[i] = std::strtoull(fields[1 + i].c_str(), nullptr, 10);
    const uint64_t undo = std::strtoull(fields[5].c_str(), nullptr, 10);
    r.path = fields[6];
    r.other = fields[7];
    r.saved = fields[8];
    if (text.size() - (end + 1) < undo) break;
    r.undo = text.substr(end + 1, undo);
    records.push_back(std::move(r));
    at = end + 1 + undo;
  }
  return records;
}

}  // namespace journal
}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_TORTURE_JOURNAL_H_
