#include "examples/crashfs/Plan.h"

#include <fnmatch.h>

#include <cerrno>
#include <sstream>

namespace crashfs {

namespace {

const char* const kOps[] = {"write", "truncate", "fsync", "fsyncdir", "create", "rename", "link", "unlink"};

struct Errno {
  const char* name;
  int value;
};
const Errno kErrnos[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EDQUOT", EDQUOT}, {"EROFS", EROFS}};

const char* ErrnoName(int value) {
  for (const Errno& e : kErrnos) {
    if (e.value == value) return e.name;
  }
  return "?";
}

}  // namespace

bool Plan::Add(const std::string& command, std::string* error) {
  std::istringstream in(command);
  std::string what, event, errorName, extra;
  Event e{};
  in >> what >> event;
  e.kind = what == "kill" ? Event::kKill : what == "count" ? Event::kCount : Event::kFail;
  if (e.kind != Event::kCount) in >> e.nth;
  const size_t colon = event.find(':');
  e.op = event.substr(0, colon);
  e.name = colon == std::string::npos ? std::string() : event.substr(colon + 1);
  bool known = false;
  for (const char* op : kOps) known |= e.op == op;
  if ((e.kind == Event::kFail && what != "fail") || !known || e.name.empty() || (e.nth == 0) != (e.kind == Event::kCount)) {
    *error = "expected \"fail OP:NAME N ERRNO\", \"kill OP:NAME N [half]\" or \"count OP:NAME\", OP one of write, "
             "truncate, fsync, fsyncdir, create, rename, link, unlink: " + command;
    return false;
  }
  in >> (e.kind == Event::kFail ? errorName : extra);
  e.half = extra == "half" && e.op == "write" && e.kind == Event::kKill;
  for (const Errno& named : kErrnos) {
    if (errorName == named.name) e.error = named.value;
  }
  if ((!extra.empty() && !e.half) || (e.kind == Event::kFail && e.error == 0) || !(in >> extra).fail()) {
    *error = "a kill may end in \"half\" (of a write); a failure in ENOSPC, EIO, EDQUOT or EROFS: " + command;
    return false;
  }
  events_.push_back(e);
  return true;
}

bool Plan::Matches(const Event& e, const char* op, const std::string& name, const std::string& other) {
  const auto named = [&e](const std::string& n) { return ::fnmatch(e.name.c_str(), n.c_str(), 0) == 0; };
  return !e.fired && e.op == op && (named(name) || (!other.empty() && named(other)));
}

int Plan::Before(const char* op, const std::string& name, const std::string& other) {
  for (Event& e : events_) {
    if (e.kind != Event::kFail || !Matches(e, op, name, other) || ++e.seen < e.nth) continue;
    e.fired = true;
    return e.error;
  }
  return 0;
}

bool Plan::After(const char* op, const std::string& name, const std::string& other, bool half, uint64_t bytes) {
  bool kill = false;
  for (Event& e : events_) {
    if (e.kind == Event::kCount && !half && Matches(e, op, name, other)) {
      ++e.seen;
      e.bytes += bytes;
    }
    if (e.kind != Event::kKill || kill || e.half != half || !Matches(e, op, name, other) || ++e.seen < e.nth) continue;
    e.fired = kill = true;
  }
  return kill;
}

std::string Plan::Report() const {
  std::string report;
  for (const Event& e : events_) {
    if (e.kind == Event::kCount) {
      report += "count " + e.op + ":" + e.name + ": " + std::to_string(e.seen) + " seen, " + std::to_string(e.bytes) +
                " bytes\n";
      continue;
    }
    const bool kill = e.kind == Event::kKill;
    report += (kill ? "kill " : "fail ") + e.op + ":" + e.name + " " + std::to_string(e.nth);
    report += kill ? (e.half ? " half" : "") : std::string(" ") + ErrnoName(e.error);
    report += e.fired ? ": fired\n" : ": not fired (" + std::to_string(e.seen) + " seen)\n";
  }
  return report;
}

}  // namespace crashfs
