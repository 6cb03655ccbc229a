#include "tools/jxrestart/log/Engine.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace jxrestart {
namespace tool {

namespace {

// Blocks are read ahead only so far, so that long lines in flight cost no
// more than this beyond the one being taken.
constexpr size_t kAhead = 8 << 20;

struct Slot {
  Block block;
  std::vector<LineTexts> lines;
  std::vector<size_t> lineEnds;  // in the data
  size_t count = 0;
  bool ready = false;
};

// The blocks in flight: given out to the workers in order, taken in order.
class Blocks {
 public:
  Blocks(LogSource* source, unsigned threads) : source_(source), slots_(2 * threads + 2) {}

  // The next block to read and the slot it goes in, or null at the end.
  Slot* Give() {
    std::unique_lock<std::mutex> lock(mutex_);
    // The next block to take may always be read; others while they fit.
    changed_.wait(lock, [&] {
      return stopped_ || given_ == taken_ ||
             (given_ < taken_ + slots_.size() && inFlight_ <= kAhead);
    });
    Slot& slot = slots_[given_ % slots_.size()];
    if (stopped_ || !source_->Next(&slot.block)) {
      stopped_ = true;
      changed_.notify_all();
      return nullptr;
    }
    inFlight_ += slot.block.text.size();
    ++given_;
    return &slot;
  }

  void Ready(Slot* slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    slot->ready = true;
    changed_.notify_all();
  }

  // The next block in order, once it is read; null when there is none.
  Slot* Take() {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[taken_ % slots_.size()];
    changed_.wait(lock, [&] { return slot.ready || (stopped_ && given_ == taken_); });
    return slot.ready ? &slot : nullptr;
  }

  void Done(Slot* slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    inFlight_ -= slot->block.text.size();
    slot->ready = false;
    ++taken_;
    changed_.notify_all();
  }

  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  LogSource* source_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t given_ = 0, taken_ = 0, inFlight_ = 0;
  bool stopped_ = false;
};

void ReadBlock(const JobPattern& pattern, JobPattern::Matches* matches, Slot* slot) {
  const std::string_view text = slot->block.text;
  const size_t base = slot->block.end - text.size();
  slot->count = 0;
  for (size_t at = 0; at < text.size(); ++slot->count) {
    const size_t end = std::min(text.find('\n', at), text.size());
    if (slot->lines.size() == slot->count) {
      slot->lines.emplace_back();
      slot->lineEnds.emplace_back();
    }
    ReadLine(text.substr(at, end - at), pattern, matches, &slot->lines[slot->count]);
    slot->lines[slot->count].unfinished = end == text.size();
    slot->lineEnds[slot->count] = base + end;
    at = end + 1;
  }
}

}  // namespace

bool ReadLines(LogSource* source, const JobPattern& pattern, unsigned threads, const TakeLine& take) {
  Blocks blocks(source, threads);
  const auto work = [&] {
    JobPattern::Matches matches(pattern);
    while (Slot* slot = blocks.Give()) {
      ReadBlock(pattern, &matches, slot);
      blocks.Ready(slot);
    }
  };
  std::vector<std::thread> workers;
  for (unsigned i = 0; i < threads; ++i) workers.emplace_back(work);
  size_t number = 1;
  bool whole = true;
  while (Slot* slot = whole ? blocks.Take() : nullptr) {
    // What lies past a cut reads as zeros: the lines that reach it are not
    // the file's.
    const size_t valid = source->ValidUpTo();
    whole = valid >= slot->block.end;
    for (size_t i = 0; i < slot->count && (whole || slot->lineEnds[i] <= valid); ++i) {
      take(&slot->lines[i], number++);
      // A state of many volumes leaves its items here: they go, so that
      // the slots do not keep the memory of the longest lines.
      for (StrictReading& r : slot->lines[i].readings) {
        if (r.items.capacity() + r.records.capacity() > 65536) r = StrictReading();
      }
    }
    // So do the bytes of a block grown for a long line.
    if (slot->block.owned.capacity() > 2 * LogSource::kBlock) slot->block.owned = Bytes();
    blocks.Done(slot);
  }
  blocks.Stop();
  for (std::thread& worker : workers) worker.join();
  return whole;
}

}  // namespace tool
}  // namespace jxrestart
