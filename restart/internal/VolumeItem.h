// How the volume restart string is read, item by item: the library's
// reader stores what this gives, and the jxrestart tool checks the same
// items against the strict grammar, so both see one reading.
#ifndef RESTART_INTERNAL_VOLUMEITEM_H_
#define RESTART_INTERNAL_VOLUMEITEM_H_

#include <cstdint>
#include <cstring>

#include "restart/ZNJxRestart.h"
#include "restart/internal/Decimal.h"
#include "restart/internal/TextFormat.h"

namespace jxrestart {
namespace internal {

// One field of an item, ended by a '|' or the item's '$'.
using VolumeField = NumberToken;

// One item: the text up to a '$', split into fields by its first three bars.
struct VolumeItem {
  const char* begin;
  const char* end;  // at its '$'
  int fieldCount;   // kFieldsPerRecord for a record
  VolumeField fields[kFieldsPerRecord];
};

enum class ItemRead {
  kRecord,   // four fields, closed by '$'
  kInvalid,  // closed by '$' with fewer than three bars
  kNone,     // no '$' follows: that text is never read
};

// Reads the item that starts at `begin`.
inline ItemRead ReadVolumeItem(const char* begin, VolumeItem* item) {
  item->begin = begin;
  const char* p = begin;
  for (int i = 0;; ++i) {
    VolumeField& field = item->fields[i];
    item->fieldCount = i + 1;
    const bool last = i + 1 == kFieldsPerRecord;
    field.begin = p;
    field.numberEnd = p = ReadDecimal64(p, &field.number);
    if (last) {
      // Any bar after the third stays in the fourth field.
      if (*p != kRecordTerminator) p = std::strchr(p, kRecordTerminator);
      if (p == nullptr) return ItemRead::kNone;
    } else {
      while (*p != kFieldSeparator && *p != kRecordTerminator && *p != '\0') ++p;
      if (*p == '\0') return ItemRead::kNone;
    }
    field.end = p;
    if (*p == kRecordTerminator) {
      item->end = p;
      return last ? ItemRead::kRecord : ItemRead::kInvalid;
    }
    ++p;
  }
}

// The record an item read as kRecord stores.
inline _JxRestartVolumeInfo RecordOf(const VolumeItem& item) {
  return {static_cast<uint8_t>(item.fields[0].value()), item.fields[1].value(), item.fields[2].value(),
          static_cast<uint64_t>(item.fields[3].number)};
}

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_VOLUMEITEM_H_
