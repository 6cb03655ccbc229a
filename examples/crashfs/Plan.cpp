#include "examples/crashfs/Plan.h"

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
  in >> what >> event >> e.nth;
  const size_t colon = event.find(':');
  e.kill = what == "kill";
  e.op = event.substr(0, colon);
  e.name = colon == std::string::npos ? std::string() : event.substr(colon + 1);
  bool known = false;
  for (const char* op : kOps) known |= e.op == op;
  if ((!e.kill && what != "fail") || !known || e.name.empty() || e.nth == 0) {
    *error = "expected \"fail OP:NAME N ERRNO\" or \"kill OP:NAME N [half]\", OP one of write, truncate, fsync, "
             "fsyncdir, create, rename, link, unlink: " + command;
    return false;
  }
  in >> (e.kill ? extra : errorName);
  e.half = extra == "half" && e.op == "write";
  for (const Errno& named : kErrnos) {
    if (errorName == named.name) e.error = named.value;
  }
  if ((e.kill && !extra.empty() && !e.half) || (!e.kill && e.error == 0) || !(in >> extra).fail()) {
    *error = "a kill may end in \"half\" (of a write); a failure in ENOSPC, EIO, EDQUOT or EROFS: " + command;
    return false;
  }
  events_.push_back(e);
  return true;
}

bool Plan::Matches(const Event& e, const char* op, const std::string& name, const std::string& other) {
  return !e.fired && e.op == op && (e.name == "*" || e.name == name || (!other.empty() && e.name == other));
}

int Plan::Before(const char* op, const std::string& name, const std::string& other) {
  for (Event& e : events_) {
    if (e.kill || !Matches(e, op, name, other) || ++e.seen < e.nth) continue;
    e.fired = true;
    return e.error;
  }
  return 0;
}

bool Plan::After(const char* op, const std::string& name, const std::string& other, bool half) {
  for (Event& e : events_) {
    if (!e.kill || e.half != half || !Matches(e, op, name, other) || ++e.seen < e.nth) continue;
    e.fired = true;
    return true;
  }
  return false;
}

std::string Plan::Report() const {
  std::string report;
  for (const Event& e : events_) {
    report += (e.kill ? "kill " : "fail ") + e.op + ":" + e.name + " " + std::to_string(e.nth);
    report += e.kill ? (e.half ? " half" : "") : std::string(" ") + ErrnoName(e.error);
    report += e.fired ? ": fired\n" : ": not fired (" + std::to_string(e.seen) + " seen)\n";
  }
  return report;
}

}  // namespace crashfs
