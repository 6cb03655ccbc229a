// set: a state changed through the library, for an operator who must
// repair one during an incident without editing its text by hand.
#include <iostream>
#include <string>
#include <vector>

#include "tools/jxrestart/Texts.h"
#include "tools/jxrestart/Set.h"
#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Numbers.h"
#include "tools/jxrestart/LibraryLog.h"

namespace jxrestart {
namespace tool {

namespace {

// "NAME=VALUE": false unless there is exactly one '=' with text on each side.
bool Split(const std::string& word, const char* shape, std::string* name, std::string* value, std::string* error) {
  const size_t equals = word.find('=');
  if (equals == std::string::npos || word.find('=', equals + 1) != std::string::npos || equals == 0 ||
      equals + 1 == word.size()) {
    *error = Quote(word) + " is not " + shape;
    return false;
  }
  *name = word.substr(0, equals);
  *value = word.substr(equals + 1);
  return true;
}

// The library's reason for its last refusal.
std::string LibraryReason() {
  const std::string& message = LastLibraryMessage();
  return message.empty() ? "the library refuses it" : "the library refuses it: \"" + message + "\"";
}

}  // namespace

bool ParseJobEdits(const std::vector<std::string>& words, std::vector<JobEdit>* edits, std::string* error) {
  bool add = false;
  for (const std::string& word : words) {
    if (word == "add") {
      add = true;
      continue;
    }
    std::string volume, offset;
    int64_t id = 0, at = 0;
    if (!Split(word, "VOLUME=OFFSET", &volume, &offset, error) ||
        !ReadInRange("volume id", volume, INT32_MIN, INT32_MAX, &id, error) ||
        !ReadInRange("offset", offset, INT32_MIN, INT32_MAX, &at, error)) {
      return false;
    }
    edits->push_back({static_cast<int32_t>(id), static_cast<int32_t>(at), add});
  }
  if (edits->empty()) *error = "no VOLUME=OFFSET";
  return !edits->empty();
}

bool ParseVolumeEdits(const std::vector<std::string>& words, VolumeEdit* edit, std::string* error) {
  size_t next = 0;
  edit->add = !words.empty() && words[0] == "add";
  next += edit->add;
  int64_t source = 0;
  if (next == words.size() || words[next].find('=') != std::string::npos) {
    *error = "no SOURCE before the fields to set";
    return false;
  }
  if (!ReadInRange("source volume", words[next++], INT32_MIN, INT32_MAX, &source, error)) return false;
  edit->source = static_cast<int32_t>(source);
  if (next == words.size()) {
    *error = "no FIELD=VALUE for source " + std::to_string(source);
    return false;
  }
  for (; next < words.size(); ++next) {
    std::string field, value;
    if (!Split(words[next], "FIELD=VALUE", &field, &value, error)) return false;
    bool* given = field == "offset" ? &edit->setOffset : field == "dest" ? &edit->setDestination
                                                     : field == "copytype" ? &edit->setCopyType : nullptr;
    if (given == nullptr) {
      *error = "no field " + Quote(field) + " in a record (offset, dest, copytype)";
      return false;
    }
    if (*given) {
      *error = field + " is given twice";
      return false;
    }
    *given = true;
    int64_t number = 0;
    if (field == "offset") {
      bool negative = false;
      uint64_t magnitude = 0;
      // As the string writes it (-1 is 2^64 - 1), or the unsigned value.
      if (!ReadInteger(value, &negative, &magnitude) || (negative && magnitude > uint64_t{1} << 63)) {
        *error = "offset " + Quote(value) + " is not a whole number from -9223372036854775808 to 18446744073709551615";
        return false;
      }
      edit->offset = negative ? 0 - magnitude : magnitude;
    } else if (field == "dest") {
      if (!ReadInRange("destination volume", value, INT32_MIN, INT32_MAX, &number, error)) return false;
      edit->destination = static_cast<int32_t>(number);
    } else {
      if (!ReadInRange("copy type", value, 0, 255, &number, error)) return false;
      edit->copyType = static_cast<uint8_t>(number);
    }
  }
  if (edit->add && !(edit->setOffset && edit->setDestination && edit->setCopyType)) {
    *error = "a record to add needs copytype, dest and offset";
    return false;
  }
  return true;
}

Edited EditJob(LibraryReading* state, const std::vector<JobEdit>& edits, std::string* error) {
  if (!state->read) {
    *error = state->refusal;
    return Edited::kNothingRead;
  }
  JxRestartability& job = *state->job;
  for (const JobEdit& e : edits) {
    const std::string named = std::to_string(e.volume) + "=" + std::to_string(e.offset);
    const bool held = job.volumeOffsetMap.count(e.volume) != 0;
    if (held == e.add) {
      *error = held ? "volume " + std::to_string(e.volume) + " is in the text already; '" + named + "' sets it"
                    : "volume " + std::to_string(e.volume) + " is not in the text; 'add " + named + "' adds it";
      return Edited::kRefused;
    }
    if (!job.InsertIntoVolumeOffsetMap(e.volume, e.offset)) {
      *error = named + ": " + LibraryReason();
      return Edited::kRefused;
    }
  }
  return Edited::kDone;
}

Edited EditVolumes(LibraryReading* state, const VolumeEdit& e, std::string* error) {
  if (!state->read) {
    *error = state->refusal;
    return Edited::kNothingRead;
  }
  ZNJxRestart& table = *state->table;
  const std::string source = std::to_string(e.source);
  const bool held = table.volumeInfoMap.count(e.source) != 0;
  if (held == e.add) {
    *error = held ? "source " + source + " is in the text already; set its fields without 'add'"
                  : "source " + source + " is not in the text; 'add " + source +
                        " copytype=C dest=D offset=O' adds a record";
    return Edited::kRefused;
  }
  bool done = true;
  if (e.add) {
    done = table.AddVolumeInfo({e.copyType, e.source, e.destination, e.offset});
  } else {
    if (done && e.setOffset) done = table.SetOffsetForSrcVolId(e.source, e.offset);
    if (done && e.setDestination) done = table.SetDestVolIdForSrcVolId(e.source, e.destination);
    if (done && e.setCopyType) done = table.SetCopyTypeForSrcVolId(e.source, static_cast<_JxCopyType>(e.copyType));
  }
  if (!done || !state->RenderRecords()) {
    *error = "source " + source + ": " + LibraryReason();
    return Edited::kRefused;
  }
  return Edited::kDone;
}

int Set(const Invocation& invocation) {
  const Family family = *invocation.family;
  KeepLastLibraryLine();  // a refusal's reason
  std::vector<JobEdit> jobEdits;
  VolumeEdit volumeEdit;
  std::string error;
  const bool parsed = family == Family::kJob ? ParseJobEdits(invocation.words, &jobEdits, &error)
                                             : ParseVolumeEdits(invocation.words, &volumeEdit, &error);
  if (!parsed) return Fail(kExitTrouble, error);
  // A state file of the example job manager is edited in its line of the
  // family, and printed whole, so that it can be saved again.
  Text text;
  if (!ReadText(invocation.sources[0], true, &text)) return kExitTrouble;
  std::string& part = text.stateFile && family == Family::kVolumes ? text.second : text.bytes;
  if (!text.stateFile && WrongKind(text, family, "set")) return kExitTrouble;
  if (part.empty()) return Fail(kExitInvalid, text.name + ": the text is empty");
  Examination e = Examine(part, family);
  ReportDeviations(text.name, e.strict.deviations);
  HintQuoting(text, family, e.strict);
  if (!e.strict.wellFormed() && !invocation.lenient) {
    return Fail(kExitInvalid, text.name + ": not well formed, so not edited (--lenient edits it as the library reads it)");
  }
  const Edited edited = family == Family::kJob ? EditJob(&e.library, jobEdits, &error)
                                               : EditVolumes(&e.library, volumeEdit, &error);
  if (edited == Edited::kNothingRead) return Fail(kExitInvalid, text.name + ": " + error);
  if (edited == Edited::kRefused) return Fail(kExitTrouble, error);
  const std::string& result = e.library.rendered();
  if (invocation.json) {
    const TextKind kind = family == Family::kJob ? TextKind::kJob : TextKind::kVolumes;
    std::cout << StateJson(kind, Deviations(), e.library).dump(2) << '\n';
  } else if (text.stateFile) {
    part = result;
    std::cout << text.bytes << '\n' << text.second << '\n';
  } else {
    std::cout << result << '\n';
  }
  return StatusFor(invocation, text.name, e.strict.deviations);
}

}  // namespace tool
}  // namespace jxrestart
