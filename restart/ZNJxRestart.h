// ZNJxRestart holds one restart record per source volume of a job (copy
// type, source id, destination id, offset), keyed and ordered by source
// volume id, and renders them as the volume restart string:
//
//   2|-5|7|-1$1|100|200|4096$      copyType|srcVolId|destVolId|offset$ ...
//
// The constructor decides once whether the object is valid: from a
// non-empty list of records, or from a text longer than 5 bytes that
// ParseRestartString accepts. The accessors, AddVolumeInfo and
// GetCurrentRestartString work only on a valid object holding at least one
// record; otherwise they return false and log one line. Failures are never
// reported by an exception of the class's own, and out-parameters are
// written only on success.
//
// Reading a text follows the C library's number rules. Copy type, source
// and destination fields outside the int32 range saturate at the nearest
// int32 limit (the copy type then keeps its low 8 bits); the offset
// saturates at the int64 limits, as strtoll does, and is stored as its
// 64 bits, so offsets of 2^63 and more travel in their negative form.
//
// The names of the types, operations and fields follow the host code base
// and are the binary interface with existing callers: keep them as they are.
//
// Threading: an object is used by one thread at a time; distinct objects
// are independent. The class does no I/O and starts no threads.
#ifndef RESTART_ZNJXRESTART_H_
#define RESTART_ZNJXRESTART_H_

#if __cplusplus < 201103L
#include "restart/JxRestartCxx11.h"
#else

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "restart/JxRestartAbi.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunknown-warning-option"
#pragma clang diagnostic ignored "-Wreserved-identifier"
#endif

// A volume's copy type. The library gives no value a meaning: every 32-bit
// value is a valid copy type, and a record keeps its low 8 bits.
enum _JxCopyType : int32_t { JxCopyTypeNone = 0 };

// One source volume's restart record; plain and unpacked.
struct _JxRestartVolumeInfo {
  uint8_t copyType;
  int32_t srcVolId;
  int32_t destVolId;
  uint64_t offset;
};

class JXRESTART_API ZNJxRestart {
 public:
  // Valid when `records` is not empty; stores every record.
  explicit ZNJxRestart(std::vector<_JxRestartVolumeInfo> records);
  // Valid when `text` is longer than 5 bytes and ParseRestartString accepts
  // it. A shorter or null text is not read and logs nothing.
  explicit ZNJxRestart(const char* text);
  ~ZNJxRestart();

  // Adds the records of a volume restart string; returns ParseRestartString's
  // result. Never changes isValid.
  bool InitializeRestartVolInfo(const char* text);
  // Adds or replaces each record; returns false for an empty list. Never
  // changes isValid.
  bool InitializeRestartVolInfo(std::vector<_JxRestartVolumeInfo> records);

  // Each getter stores the field of srcVolId's record in its out-parameter;
  // each setter changes only that field. All return false when the object
  // is invalid, holds no record, or lacks srcVolId.
  bool GetOffsetForSrcVolId(int32_t srcVolId, uint64_t& offset);
  bool GetDestVolIdForSrcVolId(int32_t srcVolId, int32_t& destVolId);
  bool GetCopyTypeForSrcVolId(int32_t srcVolId, _JxCopyType& copyType);
  bool SetOffsetForSrcVolId(int32_t srcVolId, uint64_t offset);
  bool SetDestVolIdForSrcVolId(int32_t srcVolId, int32_t destVolId);
  bool SetCopyTypeForSrcVolId(int32_t srcVolId, _JxCopyType copyType);

  // Adds `info`, or replaces the record with its srcVolId. Returns false
  // when the object is invalid or holds no record (it never adds the first).
  bool AddVolumeInfo(const _JxRestartVolumeInfo& info);

  // Adds the records of `text` item by item, replacing records with the same
  // source id. Returns false at the first item with fewer than three bars,
  // keeping the records read before it, and for a null text; true otherwise,
  // also when the text holds no item.
  bool ParseRestartString(const char* text);

  // Replaces `out` with the volume restart string of every record. Returns
  // false, leaving `out` untouched, when the object is invalid or empty.
  bool GetCurrentRestartString(std::string& out);

  bool isValid;
  std::map<int32_t, _JxRestartVolumeInfo> volumeInfoMap;
  EvEvent debugLog;
};

#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#endif  // C++11
#endif  // RESTART_ZNJXRESTART_H_
