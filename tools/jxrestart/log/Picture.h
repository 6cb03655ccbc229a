// `log --svg`: a picture of each job's history, one SVG document that any
// browser or image viewer opens the same (no script, no external font or
// style sheet). Per job:
//   - its progress over its states: the sum of its volumes' offsets at
//     each state in the order read (bytes for volume restart strings, the
//     job string's unit otherwise), each restart a mark saying what it
//     saved (the offsets it started from) and, shaded, what was copied
//     again (what the state before it had reached beyond them);
//   - its volumes at the last state, a bar each (at most kBars, grouped
//     beyond), coloured by the restarts they went through, a volume that
//     went back with no restart in the deviation colour and listed.
// The deviations of the text report are its caption. Each drawn point
// carries its values in data- attributes and a <title> for hovering; the
// document stays under 2 MB whatever the log, states that the drawing
// cannot tell apart thinned (never a restart, a deviation, the first or
// the last). Threading: one thread.
#ifndef TOOLS_JXRESTART_LOG_PICTURE_H_
#define TOOLS_JXRESTART_LOG_PICTURE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/jxrestart/Jobs.h"
#include "tools/jxrestart/log/History.h"

namespace jxrestart {
namespace tool {

class Picture {
 public:
  static constexpr size_t kBars = 1000;
  static constexpr size_t kPoints = 2000;  // kept per job beyond the restarts and deviations

  void Taken(size_t job, Family family, const Place& place, double time, const StrictReading& state, bool restart,
             bool repeat, const std::vector<int32_t>& deviating);
  // A deviation as the text report words it, at `place` or (null) of no
  // line.
  void Deviation(const Place* place, const std::string& text) {
    caption_.push_back({place != nullptr, place != nullptr ? *place : Place(), text});
  }
  void NotShown(size_t count) { notShown_ = count; }

  // The document, drawn from what was taken and the history's last states
  // (before the report takes them).
  std::string Draw(const History& history) const;

 private:
  struct Point {
    Place place;
    size_t order;  // the state's place among its track's
    double time;   // < 0: its line does not say
    __int128 sum;
    bool restart, deviation;
    __int128 reached;  // a restart: the sum of the state before it
  };
  struct Series {
    std::vector<Point> points;
    Point last;
    size_t states = 0, stride = 1;
    size_t restarts = 0;
    std::map<int32_t, uint32_t> restartsOf;       // a volume's restarts
    std::map<int32_t, Place> deviating;           // a volume's first deviation
    size_t special = 0, dropped = 0;              // restarts and deviations kept, and not
    bool timed = true;                            // every state's line says when, in order
  };
  struct Caption {
    bool placed;
    Place place;
    std::string text;
  };
  void Thin(Series* series) const;
  std::string DrawJob(const History& history, size_t index, const Series& series, Family family, double top,
                      double* height) const;
  std::string DrawProgress(const History& history, const Series& s, Family family, double top, double* axis) const;
  std::string DrawVolumes(const History& history, const Job& job, const Series& s, Family family, double at,
                          double* bottom) const;

  std::map<std::pair<size_t, int>, Series> series_;  // by job and family
  std::vector<Caption> caption_;
  size_t notShown_ = 0;
};

}  // namespace tool
}  // namespace jxrestart

#endif  // TOOLS_JXRESTART_LOG_PICTURE_H_
