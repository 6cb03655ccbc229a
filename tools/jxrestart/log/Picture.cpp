#include "tools/jxrestart/log/Picture.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace jxrestart {
namespace tool {

namespace {

constexpr double kWidth = 1000, kLeft = 110, kRight = 30, kPlot = kWidth - kLeft - kRight;
constexpr double kProgressHeight = 240;
const char kLine[] = "#1f77b4", kRestart[] = "#d62728", kBand[] = "#ff7f0e", kDeviation[] = "#e45756";
const char* const kByRestarts[] = {"#4c78a8", "#72b7b2", "#54a24b", "#eeca3b"};

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // XML 1.0 allows no other control character.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') out += c;
        else out += "?";
    }
  }
  return out;
}

std::string Decimal(__int128 value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  std::string digits;
  for (; value != 0; value /= 10) digits += static_cast<char>('0' + (negative ? -(value % 10) : value % 10));
  if (negative) digits += '-';
  return std::string(digits.rbegin(), digits.rend());
}

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A sum of offsets as people read it: bytes in binary units.
std::string Amount(__int128 value, Family family) {
  if (family == Family::kJob) return Decimal(value);
  const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double scaled = static_cast<double>(value);
  int unit = 0;
  for (; unit < 6 && (scaled >= 1024 || scaled <= -1024); ++unit) scaled /= 1024;
  char text[48];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", scaled, kUnits[unit]);
  return text;
}

std::string Where(const std::vector<std::string>& files, const Place& place) {
  return files[place.file] + ":" + std::to_string(place.line);
}

std::string Text(double x, double y, const std::string& text, const char* extra = "") {
  return "<text x=\"" + Fixed(x) + "\" y=\"" + Fixed(y) + "\"" + extra + ">" + Escaped(text) + "</text>\n";
}

// "2026-12-10 12:00:00 UTC".
std::string TimeText(double seconds) {
  const time_t whole = static_cast<time_t>(seconds);
  struct tm utc;
  char text[40];
  gmtime_r(&whole, &utc);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

__int128 SumOf(const StrictReading& state, Family family) {
  __int128 sum = 0;
  if (family == Family::kJob) {
    for (const auto& item : state.items) sum += item.second;
  } else {
    for (const _JxRestartVolumeInfo& r : state.records) sum += static_cast<int64_t>(r.offset);
  }
  return sum;
}

}  // namespace

void Picture::Taken(size_t job, Family family, const Place& place, double time, const StrictReading& state,
                    bool restart, bool repeat, const std::vector<int32_t>& deviating) {
  Series& s = series_[{job, static_cast<int>(family)}];
  if (repeat && !restart) return;
  const __int128 sum = SumOf(state, family);
  const Point point{place, s.states++, time, sum, restart, !deviating.empty(), s.states > 1 ? s.last.sum : sum};
  s.timed &= time >= 0 && (s.states == 1 || time >= s.last.time);
  if (restart) {
    ++s.restarts;
    const auto count = [&s](int32_t id) { ++s.restartsOf[id]; };
    if (family == Family::kJob) {
      for (const auto& item : state.items) count(item.first);
    } else {
      for (const _JxRestartVolumeInfo& r : state.records) count(r.srcVolId);
    }
  }
  for (const int32_t id : deviating) s.deviating.emplace(id, place);
  // The first state, each restart and deviation (as many as the document
  // has room for), and one in each stride.
  const bool special = point.order == 0 || restart || point.deviation;
  if (special && s.special == kPoints) {
    ++s.dropped;
  } else if (special || point.order % s.stride == 0) {
    s.points.push_back(point);
    s.special += special;
  }
  s.last = point;
  if (s.points.size() > 2 * kPoints) Thin(&s);
}

void Picture::Thin(Series* s) const {
  s->stride *= 2;
  std::vector<Point> kept;
  for (const Point& p : s->points) {
    if (p.order == 0 || p.restart || p.deviation || p.order % s->stride == 0) kept.push_back(p);
  }
  s->points.swap(kept);
}

std::string Picture::Draw(const History& h) const {
  const History* history = &h;
  std::string body;
  double top = 20;
  size_t drawn = 0;
  for (size_t job = 0; job < history->jobs().size(); ++job) {
    // The volume records' offsets are bytes: drawn when the job has them.
    const auto volumes = series_.find({job, static_cast<int>(Family::kVolumes)});
    const bool records = volumes != series_.end() && volumes->second.states > 0;
    const auto it = records ? volumes : series_.find({job, static_cast<int>(Family::kJob)});
    if (it == series_.end() || it->second.states == 0) continue;
    double height = 0;
    body += DrawJob(*history, job, it->second, records ? Family::kVolumes : Family::kJob, top, &height);
    top += height;
    ++drawn;
  }
  if (drawn == 0) {
    body += Text(kLeft, top + 20, "No job: no restart string found in " + std::to_string(history->lines()) + " lines.",
                 " class=\"nothing\"");
    top += 40;
  }
  body += Text(20, top + 20, caption_.empty() ? "No deviation." : "Deviations:", " font-weight=\"bold\"");
  top += 24;
  for (const Caption& c : caption_) {
    const std::string where = c.placed ? " data-file=\"" + Escaped(history->files()[c.place.file]) +
                                             "\" data-line=\"" + std::to_string(c.place.line) + "\""
                                       : std::string();
    body += "<text class=\"deviation\" x=\"20\" y=\"" + Fixed(top + 16) + "\"" + where + " fill=\"" + kDeviation +
            "\">" + Escaped(c.text) + "</text>\n";
    top += 18;
  }
  if (notShown_ > 0) {
    body += Text(20, top + 16, std::to_string(notShown_) + " more not shown", " class=\"more\"");
    top += 18;
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fixed(kWidth) + "\" height=\"" + Fixed(top + 20) +
         "\" viewBox=\"0 0 " + Fixed(kWidth) + " " + Fixed(top + 20) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n" +
         body + "</svg>\n";
}

std::string Picture::DrawJob(const History& history, size_t index, const Series& s, Family family, double top,
                             double* height) const {
  const Job& job = history.jobs()[index];
  std::string out = "<g class=\"job\" data-job=\"" + Escaped(job.name.empty() ? std::to_string(index + 1) : job.name) +
                    "\" data-family=\"" + (family == Family::kJob ? "job" : "volumes") + "\">\n";
  out += Text(20, top + 16,
              "job " + (job.name.empty() ? std::to_string(index + 1) : job.name) + ": " + std::to_string(s.states) +
                  (s.states == 1 ? " state, " : " states, ") + std::to_string(s.restarts) +
                  (s.restarts == 1 ? " restart" : " restarts") +
                  (s.dropped > 0 ? " (" + std::to_string(s.dropped) + " more restarts and deviations not drawn)" : ""),
              " font-weight=\"bold\" font-size=\"14\"");
  double axis = 0, bottom = 0;
  out += DrawProgress(history, s, family, top, &axis);
  out += DrawVolumes(history, job, s, family, axis + 40, &bottom);
  *height = bottom + 30 - top;
  return out + "</g>\n";
}

// The sum of the offsets over the states, the restarts marked and what
// they copied again shaded; *axis: where the x axis is drawn.
std::string Picture::DrawProgress(const History& history, const Series& s, Family family, double top,
                                  double* axis) const {
  const std::vector<std::string>& files = history.files();
  std::string out;
  std::vector<Point> points = s.points;
  if (points.back().order != s.last.order) points.push_back(s.last);
  __int128 most = 1;
  for (const Point& p : points) most = std::max({most, p.sum, p.reached});
  const double y0 = top + 30 + kProgressHeight;
  // x: the time, where every line says it, or the order.
  const double start = s.timed ? points.front().time : 0;
  const double span = std::max(s.timed ? s.last.time - start : static_cast<double>(s.last.order), 1e-9);
  const auto X = [&](const Point& p) {
    return kLeft + kPlot * ((s.timed ? p.time - start : static_cast<double>(p.order)) / span);
  };
  const auto Y = [y0, most](__int128 v) {
    return y0 - kProgressHeight * std::max(0.0, static_cast<double>(v) / static_cast<double>(most));
  };
  out += "<line x1=\"" + Fixed(kLeft) + "\" y1=\"" + Fixed(y0) + "\" x2=\"" + Fixed(kLeft + kPlot) + "\" y2=\"" +
         Fixed(y0) + "\" stroke=\"black\"/>\n<line x1=\"" + Fixed(kLeft) + "\" y1=\"" + Fixed(y0) + "\" x2=\"" +
         Fixed(kLeft) + "\" y2=\"" + Fixed(y0 - kProgressHeight) + "\" stroke=\"black\"/>\n";
  out += Text(kLeft + 4, y0 - kProgressHeight - 6,
              family == Family::kJob ? "sum of the volumes' offsets (the job string's unit)" : "bytes saved, all sources",
              " font-size=\"10\"");
  out += Text(kLeft - 4, y0 - kProgressHeight + 10, Amount(most, family), " text-anchor=\"end\"");
  out += Text(kLeft - 4, y0, "0", " text-anchor=\"end\"");
  if (s.timed) {
    out += Text(kLeft, y0 + 26, TimeText(start), " font-size=\"10\"");
    out += Text(kLeft + kPlot, y0 + 26, TimeText(s.last.time), " font-size=\"10\" text-anchor=\"end\"");
  }
  // One label per file read, where its first state stands.
  for (size_t i = 0; i < points.size(); ++i) {
    if (i == 0 || points[i].place.file != points[i - 1].place.file) {
      out += Text(X(points[i]), y0 + 14, files[points[i].place.file], " class=\"file\" font-size=\"10\"");
    }
  }
  // Restarts: the work copied again shaded from the restart until the
  // job is back where it had been.
  for (size_t i = 0; i < points.size(); ++i) {
    const Point& p = points[i];
    if (!p.restart) continue;
    const __int128 again = std::max<__int128>(0, p.reached - p.sum);
    size_t back = i;
    while (back + 1 < points.size() && points[back].sum < p.reached) ++back;
    if (again > 0) {
      out += "<rect class=\"recopied\" x=\"" + Fixed(X(p)) + "\" y=\"" + Fixed(Y(p.reached)) + "\" width=\"" +
             Fixed(X(points[back]) - X(p)) + "\" height=\"" + Fixed(Y(p.sum) - Y(p.reached)) +
             "\" fill=\"" + kBand + "\" fill-opacity=\"0.35\" data-from=\"" + Decimal(p.sum) + "\" data-to=\"" +
             Decimal(p.reached) + "\"/>\n";
    }
    const std::string saying = "restart at " + Where(files, p.place) + ": saved " + Amount(p.sum, family) +
                               ", copied again " + Amount(again, family);
    out += "<line class=\"restart\" x1=\"" + Fixed(X(p)) + "\" y1=\"" + Fixed(y0) + "\" x2=\"" +
           Fixed(X(p)) + "\" y2=\"" + Fixed(y0 - kProgressHeight) + "\" stroke=\"" + kRestart +
           "\" stroke-dasharray=\"4 3\" data-file=\"" + Escaped(files[p.place.file]) + "\" data-line=\"" +
           std::to_string(p.place.line) + "\" data-saved=\"" + Decimal(p.sum) + "\" data-recopied=\"" +
           Decimal(again) + "\"><title>" + Escaped(saying) + "</title></line>\n";
    out += Text(X(p) + 3, y0 - kProgressHeight + 12 + 12 * static_cast<double>(i % 3), saying,
                " font-size=\"10\" fill=\"#d62728\"");
  }
  std::string line;
  for (const Point& p : points) line += Fixed(X(p)) + "," + Fixed(Y(p.sum)) + " ";
  out += "<polyline fill=\"none\" stroke=\"" + std::string(kLine) + "\" points=\"" + line + "\"/>\n";
  for (const Point& p : points) {
    out += "<circle class=\"state\" cx=\"" + Fixed(X(p)) + "\" cy=\"" + Fixed(Y(p.sum)) + "\" r=\"2.5\" fill=\"" +
           (p.deviation ? kDeviation : kLine) + "\" data-file=\"" + Escaped(files[p.place.file]) + "\" data-line=\"" +
           std::to_string(p.place.line) + "\" data-order=\"" + std::to_string(p.order) +
           (s.timed ? "\" data-time=\"" + Fixed(p.time) : std::string()) + "\" data-sum=\"" +
           Decimal(p.sum) + "\"><title>" + Escaped(Where(files, p.place)) + ": " + Escaped(Amount(p.sum, family)) +
           "</title></circle>\n";
  }
  *axis = y0;
  return out;
}

// The volumes at the last state, a bar each; *bottom: below the last.
std::string Picture::DrawVolumes(const History& history, const Job& job, const Series& s, Family family, double at,
                                 double* bottom) const {
  const std::vector<std::string>& files = history.files();
  std::string out;
  // The volumes at the last state, grouped when there are too many.
  const Track& track = job.tracks[static_cast<int>(family)];
  std::vector<std::pair<int32_t, int64_t>> lasts;
  for (const auto& item : track.last.items) lasts.emplace_back(item.first, item.second);
  for (const _JxRestartVolumeInfo& r : track.last.records) lasts.emplace_back(r.srcVolId, static_cast<int64_t>(r.offset));
  const size_t group = (lasts.size() + kBars - 1) / kBars;
  out += Text(20, at, std::string(family == Family::kJob ? "volumes" : "sources") + " at the last state (" +
                          Where(files, track.lastPlace) + ")" +
                          (group > 1 ? ": each bar " + std::to_string(group) + " of them, its length their least" : ""));
  at += 8;
  int64_t longest = 1;
  for (const auto& v : lasts) longest = std::max(longest, v.second);
  // Bars as thick as there is room for, in some 600 points.
  const double bar = std::min(14.0, std::max(3.0, 600.0 / static_cast<double>((lasts.size() + group - 1) / std::max<size_t>(1, group))));
  for (size_t first = 0; first < lasts.size(); first += group) {
    const size_t end = std::min(lasts.size(), first + group);
    int64_t least = lasts[first].second;
    uint32_t restarted = 0;
    bool deviates = false;
    for (size_t i = first; i < end; ++i) {
      least = std::min(least, lasts[i].second);
      const auto r = s.restartsOf.find(lasts[i].first);
      restarted = std::max(restarted, r == s.restartsOf.end() ? 0u : r->second);
      deviates |= s.deviating.count(lasts[i].first) != 0;
    }
    const std::string ids = std::to_string(lasts[first].first) + (end - first > 1 ? "-" + std::to_string(lasts[end - 1].first) : "");
    out += "<rect class=\"volume\" x=\"" + Fixed(kLeft) + "\" y=\"" + Fixed(at) + "\" width=\"" +
           Fixed(kPlot * std::max(0.0, static_cast<double>(least) / static_cast<double>(longest))) + "\" height=\"" +
           Fixed(bar - 0.5) + "\" fill=\"" + (deviates ? kDeviation : kByRestarts[std::min(3u, restarted)]) +
           "\" data-volume=\"" + ids + "\" data-offset=\"" + std::to_string(least) + "\" data-restarts=\"" +
           std::to_string(restarted) + "\"><title>" + ids + ": " + Escaped(Amount(least, family)) + ", " +
           std::to_string(restarted) + " restarts</title></rect>\n";
    if (bar >= 10) out += Text(kLeft - 4, at + bar - 3, ids, " text-anchor=\"end\" font-size=\"10\"");
    at += bar;
  }
  at += 14;
  out += Text(20, at, "colour: restarts gone through 0, 1, 2, 3 or more; a volume that went back in red", " font-size=\"10\"");
  size_t listed = 0;
  for (const auto& [id, place] : s.deviating) {
    at += 14;
    if (++listed > 20) {
      out += Text(20, at, std::to_string(s.deviating.size() - 20) + " more", " class=\"more\"");
      break;
    }
    out += "<text class=\"deviating\" x=\"20\" y=\"" + Fixed(at) + "\" fill=\"" + kDeviation + "\" data-volume=\"" +
           std::to_string(id) + "\" data-file=\"" + Escaped(files[place.file]) + "\" data-line=\"" +
           std::to_string(place.line) + "\">" + Escaped(std::string(family == Family::kJob ? "volume " : "source ") +
                                                          std::to_string(id) + " at " + Where(files, place)) +
           "</text>\n";
  }
  *bottom = at;
  return out;
}


}  // namespace tool
}  // namespace jxrestart
