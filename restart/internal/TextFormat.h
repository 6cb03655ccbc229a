// The restart texts and the log lines, shared by their writers and readers.
//
// Every tag and message below is part of the interface: job logs are read
// by people and by scripts, and existing hosts match these exact words.
// The misspellings ("Unalble"), the single-colon tags and the differing
// capitals are deliberate; do not correct them.
#ifndef RESTART_INTERNAL_TEXTFORMAT_H_
#define RESTART_INTERNAL_TEXTFORMAT_H_

#include <cstddef>
#include <string_view>

namespace jxrestart {
namespace internal {

// Job restart string: "-Restart " then "<volume>|<offset>@" per volume.
constexpr char kJobRestartPrefix[] = "-Restart ";
constexpr char kKeySeparator = '|';
constexpr char kItemTerminator = '@';

// Volume restart string: "<copyType>|<srcVolId>|<destVolId>|<offset>$".
constexpr char kFieldSeparator = '|';
constexpr char kRecordTerminator = '$';
constexpr int kFieldsPerRecord = 4;
// The text constructor reads only texts of this many bytes or more.
constexpr size_t kShortestReadableText = 6;

// Only spaces are skipped before the first item; other white space is left
// to the number conversion.
constexpr char kLeadingSpace = ' ';
inline const char* SkipLeadingSpaces(const char* text) {
  while (*text == kLeadingSpace) ++text;
  return text;
}

constexpr const char* kRestartTypeNames[] = {"RESTART_NUMBER_BASED", "RESTART_STRING_BASED"};

namespace tag {
constexpr char kParse[] = "JxRestartability::ParseRestartInputFromJM";
constexpr char kPopulate[] = "JxRestartability:PopulateVolumeOffsetMap";
constexpr char kPopulateNames[] = "JxRestartability:PopulateVolumeOffsetMap - Input String Vector";
constexpr char kInsert[] = "JxRestartability::InsertIntoVolumeOffsetMap";
constexpr char kUpdate[] = "JxRestartability::UpdateJobRestartInfoMap";
constexpr char kQuery[] = "JxRestartability::GetBMOffsetFromVolId";
constexpr char kBuild[] = "JxRestartability::BuildJobRestartString";
// SetRestartType writes under the populate's tag.
constexpr const char* kSetRestartType = kPopulate;

constexpr char kInitialize[] = "ZNJxRestart::InitializeRestartVolInfo";
constexpr char kGetOffset[] = "ZNJxRestart::GetOffsetForSrcVolId";
constexpr char kGetDestVolId[] = "ZNJxRestart::GetDestVolIdForSrcVolId";
constexpr char kGetCopyType[] = "ZNJxRestart::GetCopyTypeForSrcVolId";
constexpr char kSetOffset[] = "ZNJxRestart::SetOffsetForSrcVolId";
constexpr char kSetDestVolId[] = "ZNJxRestart::SetDestVolIdForSrcVolId";
constexpr char kSetCopyType[] = "ZNJxRestart::SetCopyTypeForSrcVolId";
constexpr char kAddVolumeInfo[] = "ZNJxRestart::AddVolumeInfo";
constexpr char kParseVolumes[] = "ZNJxRestart::ParseRestartString";
constexpr char kWriteVolumes[] = "ZNJxRestart::GetCurrentRestartString";
}  // namespace tag

namespace msg {
// JxRestartability
constexpr char kRestartTypeSet[] = "Restart Type is set to: %s";
constexpr char kBuildEmpty[] = "Attempting to build from empty map. Returning Failure";
constexpr char kBuilt[] = "The Restart string: %s";
constexpr char kNumberGate[] = "Only Jx is expected to use this Method. Potential error. Returning false.";
constexpr char kPopulateNamesGate[] =
    "Only RESTART_STRING_BASED is expected to use this type. Potential error. Returning false.";
constexpr char kNameGate[] =
    "Only RESTART_STRING_BASED is expected to use this Method. Potential error. Returning false.";
constexpr char kRepopulate[] = "Attempting to re-populate. Returning Failure";
constexpr char kPopulated[] = "Base Map populated and Restart string built";
constexpr char kPopulateBuildFailed[] = "Failure while Building the Restart String";
constexpr char kChangeBuildFailed[] = "Failure while building the Restart String";
constexpr char kBadOffset[] = "Wrong input value for iOffset: %d";
constexpr char kBadVolId[] = "Wrong input value for vol id: %d";
constexpr char kUpdateEmpty[] = "Attempting to update empty map. Returning Failure";
constexpr char kUpdateMissingId[] = "Unalble to find the matching element during update of the map volId = %d";
constexpr char kUpdateMissingName[] = "Unalble to find the matching element during update of the map volId = %s";
constexpr char kQueryEmpty[] = "Attempting to query empty map. Returning Failure";
constexpr char kQueryMissing[] = "Unalble to find the matching element during query of the map";
constexpr char kNoInput[] = "No Restart info supplied by the JobManager for this job";
constexpr char kInputFromJM[] = "Input from JM = %s";

// ZNJxRestart
constexpr char kInvalidClass[] = "Invalid class";
constexpr char kEmptyTable[] = "Attempting to update empty map. Returning Failure";
constexpr char kEmptyVector[] = "Attempting to update from empty vector. Returning Failure";
constexpr char kAddingRecord[] = "Adding to vector src volumeid = %d , Destination = %d";
constexpr char kGetMissing[] = "Unable to find the matching element during getting info for volId = %d";
constexpr char kGetCopyTypeMissing[] = "Unalble to find the matching element during getting info for volId = %d";
constexpr char kSetMissing[] = "Unalble to find the matching element during update of the map for volId = %d";
constexpr char kReplacingRecord[] = "Already an existing record updating the same";
constexpr char kRestartString[] = "Restart String = %s";
constexpr char kNoRestartString[] = "No Restart String supplied. Returning Failure";
constexpr char kInvalidRecord[] = "Invalid Restart String Record = %s";
constexpr char kWriteEmpty[] = "Attempting to read empty map. Returning Failure";
}  // namespace msg

// What a reader of job logs looks for: the lines in which the library
// logs a whole restart text, at the end of its message. The text follows
// what the message says before its "%s".
namespace marker {
constexpr std::string_view Before(std::string_view message) { return message.substr(0, message.size() - 2); }
constexpr bool EndsWithTheText(std::string_view message) {
  return message.size() >= 2 && message.substr(message.size() - 2) == "%s" && message.find('%') == message.size() - 2;
}
static_assert(EndsWithTheText(msg::kBuilt) && EndsWithTheText(msg::kInputFromJM) &&
                  EndsWithTheText(msg::kRestartString),
              "a log reader finds the text at the end of these messages");
// A job restart string that a tracker built, the restart input it was
// handed, a volume restart string that an object read.
constexpr std::string_view kJobBuilt = Before(msg::kBuilt);
constexpr std::string_view kRestartInput = Before(msg::kInputFromJM);
constexpr std::string_view kVolumesRead = Before(msg::kRestartString);
}  // namespace marker

}  // namespace internal
}  // namespace jxrestart

#endif  // RESTART_INTERNAL_TEXTFORMAT_H_
