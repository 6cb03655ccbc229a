#include "examples/copyjob/harness/DemoOptions.h"

#include "examples/copyjob/careless/CarelessSaves.h"

#include <cstdio>
#include <cstring>

namespace copyjob {

namespace {

// Reads all of `text` as a whole number without sign, into *value.
bool ParseWhole(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  *value = n;
  return true;
}

struct Range {
  uint64_t least, most;
};

bool ParseIn(const std::string& text, Range range, uint64_t* value) {
  return ParseWhole(text, value) && *value >= range.least && *value <= range.most;
}

std::string Bad(const std::string& option, const std::string& value, const std::string& expected) {
  return "bad value for " + option + ": '" + value + "' (" + expected + ")";
}

}  // namespace

bool ParseSize(const std::string& text, uint64_t* bytes) {
  static const struct {
    const char* suffix;
    int shift;
  } kUnits[] = {{"KiB", 10}, {"MiB", 20}, {"GiB", 30}, {"K", 10}, {"M", 20}, {"G", 30}, {"", 0}};
  for (const auto& unit : kUnits) {
    const size_t length = std::strlen(unit.suffix);
    if (text.size() <= length || text.compare(text.size() - length, length, unit.suffix) != 0) continue;
    uint64_t number = 0;
    if (!ParseWhole(text.substr(0, text.size() - length), &number)) return false;
    if (number > (UINT64_MAX >> unit.shift)) return false;
    *bytes = number << unit.shift;
    return true;
  }
  return false;
}

std::string FormatSize(uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  for (; value >= 1024 && unit < 3; ++unit) value /= 1024;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool ParseDemoOptions(const std::vector<std::string>& args, DemoOptions* o, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    if (option == "--help" || option == "-h") {
      o->help = true;
      continue;
    }
    if (option == "--version") {
      o->version = true;
      continue;
    }
    if (option.compare(0, 2, "--") != 0) {
      *error = "unexpected argument '" + option + "'";
      return false;
    }
    std::string value;
    const size_t equals = option.find('=');
    if (equals != std::string::npos) {
      value = option.substr(equals + 1);
      option.resize(equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = option + " needs a value";
      return false;
    }
    uint64_t n = 0;
    bool good = true;
    std::string expected;
    if (option == "--volumes") {
      good = ParseIn(value, {1, 1000}, &n);
      o->volumes = static_cast<int>(n);
      expected = "a whole number from 1 to 1000";
    } else if (option == "--size" || option == "--block") {
      good = ParseSize(value, &n) && n > 0;
      (option == "--size" ? o->size : o->block) = n;
      expected = "bytes, more than 0, which may end in K, M or G (or KiB, MiB, GiB)";
    } else if (option == "--kill-at") {
      good = ParseIn(value, {1, 99}, &n);
      o->killAt = static_cast<int>(n);
      expected = "a percentage from 1 to 99";
    } else if (option == "--keep") {
      good = !value.empty();
      o->keep = value;
      expected = "a folder";
    } else if (option == "--torture") {
      good = ParseIn(value, {1, 1000000}, &n);
      o->torture = static_cast<long>(n);
      expected = "a number of rounds from 1 to 1000000";
    } else if (option == "--seed") {
      good = ParseIn(value, {1, UINT64_MAX}, &o->seed);
      expected = "a whole number from 1";
    } else if (option == "--plant") {
      good = CarelessSave(value) || value == kCarelessCopy;
      o->plant = value;
      expected = kCarelessSaves;
    } else if (option == "--round") {
      good = ParseIn(value, {0, 999999}, &n);
      o->round = static_cast<long>(n);
      expected = "a round number from 0";
    } else if (option == "--max-failures") {
      good = ParseIn(value, {1, 1000000}, &n);
      o->maxFailures = static_cast<long>(n);
      expected = "a number of failed rounds from 1";
    } else {
      *error = "unknown option '" + option + "'";
      return false;
    }
    if (!good) {
      *error = Bad(option, value, expected);
      return false;
    }
  }
  if (o->torture == 0 && o->size / o->block > INT32_MAX) {
    *error = "--size " + std::to_string(o->size) + " in blocks of " + std::to_string(o->block) +
             " makes more blocks than a volume may have (2147483647)";
    return false;
  }
  if (!o->plant.empty() && o->torture == 0) {
    *error = "--plant " + o->plant + " needs --torture";
    return false;
  }
  if (o->maxFailures > 0 && o->torture == 0) {
    *error = "--max-failures needs --torture";
    return false;
  }
  if (o->round >= 0 && o->round >= o->torture) {
    *error = "--round " + std::to_string(o->round) + " needs --torture with more rounds than that";
    return false;
  }
  return true;
}

}  // namespace copyjob
