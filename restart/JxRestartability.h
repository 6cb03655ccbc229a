// JxRestartability keeps the restart state of one job: for every volume of
// the job the offset its copy has reached, and the job restart string that
// renders those offsets:
//
//   -Restart 3|0@17|4096@
//
// Volumes are keyed by numeric id (restart type RESTART_NUMBER_BASED, the
// default, map volumeOffsetMap) or by name (RESTART_STRING_BASED, map
// volumeNameOffsetMap); each operation works only in its own type and only
// on that type's map. Every operation that changes a map rebuilds
// restartString through the virtual BuildJobRestartString, so an override
// in a derived class is the one that runs. Failures are reported by a false
// result, never by an exception of its own. A refusal writes one line in the
// debug log and changes nothing; a failed rebuild writes two, the rebuild's
// own and then the operation's, and the change stays made. Out-parameters
// are written only on success.
//
// The destructor is not virtual, by contract: the binary interface is
// exactly twelve virtual operations, in slots 0 to 11, and a virtual
// destructor would add two. So never delete a derived tracker through a
// JxRestartability*; hold a derived tracker by its own type (by value, or
// by a pointer to the derived class). Both compilers warn where this is
// broken, under -Wall: g++ with -Wdelete-non-virtual-dtor, clang with
// -Wdelete-non-abstract-non-virtual-dtor.
//
// Numbers read from text follow atoi's rules; a value outside the int32
// range saturates at the nearest int32 limit.
//
// The names of the types, operations and fields follow the host code base
// and are the binary interface with existing callers: keep them as they are.
//
// Threading: an object is used by one thread at a time; distinct objects
// are independent. The class does no I/O and starts no threads.
#ifndef RESTART_JXRESTARTABILITY_H_
#define RESTART_JXRESTARTABILITY_H_

#if __cplusplus < 201103L
#include "restart/JxRestartCxx11.h"
#else

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "restart/JxRestartAbi.h"

// The caller's per-volume record; only volId is read.
struct RecoveryVolData_t {
  int32_t volId;
};

namespace jxrestart {
// Values of JxRestartability::restartType, logged under the names in the
// comments.
enum RestartType {
  kRestartNumberBased = 0,  // "RESTART_NUMBER_BASED": volumes keyed by numeric id
  kRestartStringBased = 1   // "RESTART_STRING_BASED": volumes keyed by name
};
}  // namespace jxrestart

class JXRESTART_API JxRestartability {
 public:
  // Starts in RESTART_NUMBER_BASED with empty maps and restartString, and
  // logs the restart type.
  JxRestartability();
  ~JxRestartability();  // not virtual: see above

  // Reads the restart input the job manager hands back ("3|0@17|4096@",
  // leniently) into volumeOffsetMap, adding to what it holds, then rebuilds.
  // Returns false in RESTART_STRING_BASED, for a null input, or when the
  // rebuild fails (the map is still empty).
  virtual bool ParseRestartInputFromJM(char* input);

  // Fills the empty map of the matching type with every volume at offset 0,
  // then rebuilds. Returns false if the map already holds an entry or the
  // rebuild fails (an empty list; the call may then be repeated).
  virtual bool PopulateVolumeOffsetMap(std::vector<RecoveryVolData_t> volumes);
  virtual bool PopulateVolumeOffsetMap(std::vector<std::string> volumeNames);

  // Sets the offset of a volume already in the map (any value), then
  // rebuilds. Returns false if the map is empty or lacks the volume.
  virtual bool UpdateJobRestartInfoMapAndString(int32_t volId, int32_t offset);
  virtual bool UpdateJobRestartInfoMapAndString(std::string volumeName, int32_t offset);

  // Stores the volume's offset in *offset. Returns false, leaving *offset
  // untouched, if the map is empty or lacks the volume. A null `offset` is
  // checked last: the volume is looked up as usual, and when it is found
  // the call returns false without a line.
  virtual bool GetBMOffsetFromVolId(int32_t volId, int32_t* offset);
  virtual bool GetBMOffsetFromVolId(std::string volumeName, int32_t* offset);

  // Adds or replaces a volume's offset, then rebuilds. REQUIRES iOffset >= -1
  // and, by id, volId > 0; otherwise returns false.
  virtual bool InsertIntoVolumeOffsetMap(int32_t volId, int32_t iOffset);
  virtual bool InsertIntoVolumeOffsetMap(std::string volumeName, int32_t iOffset);

  // Derives nothing: always returns false and leaves *id untouched.
  virtual bool FigureOutSNRIdFromVolName(std::string volumeName, int32_t* id);

  // Chooses RESTART_NUMBER_BASED or RESTART_STRING_BASED; any other value
  // returns false. Neither map nor restartString changes.
  virtual bool SetRestartType(int32_t type);

  // Renders the map of the current type into restartString. Empties
  // restartString first; returns false, leaving it empty, if that map is empty.
  virtual bool BuildJobRestartString();

  // The job restart string as last built; empty after a failed build.
  std::string restartString;
  std::map<int32_t, int32_t> volumeOffsetMap;
  std::map<std::string, int32_t> volumeNameOffsetMap;
  EvEvent debugLog;
  int32_t restartType;
};

#endif  // C++11
#endif  // RESTART_JXRESTARTABILITY_H_
