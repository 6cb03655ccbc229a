#include "tools/jxrestart/log/Report.h"

#include <algorithm>
#include <iostream>

#include "tools/jxrestart/Json.h"
#include "tools/jxrestart/Texts.h"

namespace jxrestart {
namespace tool {

namespace {

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string Rendered(const LibraryReading& library) {
  return library.read ? library.rendered() : "(" + library.refusal + ")";
}

void PrintRow(const std::string (&row)[3], const size_t (&width)[3]) {
  for (int c = 0; c < 3; ++c) std::cout << (c > 0 ? "  " : "") << std::string(width[c] - row[c].size(), ' ') << row[c];
  std::cout << '\n';
}

// Each volume's first and last offset, in columns; printed row by row,
// so that a table of millions of volumes costs no memory of its own.
void PrintProgress(const Progress& shown, Family family) {
  const std::string header[3] = {VolumeWord(family), "first offset", "last offset"};
  size_t width[3] = {header[0].size(), header[1].size(), header[2].size()};
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      std::cout << '\n';
      PrintRow(header, width);
    }
    const std::vector<Entry>& firsts = shown.First();
    const std::vector<Entry>& lasts = shown.lasts;
    for (size_t i = 0, j = 0; i < firsts.size() || j < lasts.size();) {
      const bool hasFirst = i < firsts.size() && (j == lasts.size() || firsts[i].id <= lasts[j].id);
      const bool hasLast = j < lasts.size() && (i == firsts.size() || lasts[j].id <= firsts[i].id);
      const std::string row[3] = {std::to_string(hasFirst ? firsts[i].id : lasts[j].id),
                                  hasFirst ? OffsetText(firsts[i].offset) : "-",
                                  hasLast ? OffsetText(lasts[j].offset) : "-"};
      if (pass == 0) {
        for (int c = 0; c < 3; ++c) width[c] = std::max(width[c], row[c].size());
      } else {
        PrintRow(row, width);
      }
      i += hasFirst;
      j += hasLast;
    }
  }
}

std::string JobName(const std::vector<Job>& jobs, size_t index) {
  return jobs[index].name.empty() ? std::to_string(index + 1) : jobs[index].name;
}

}  // namespace

void Report::Found(const Place& place, const FoundText& found, const StrictReading& strict, const std::string& job) {
  for (const Deviation& d : strict.deviations.kept()) Deviate(place, d.offset, d.problem, d.effect);
  deviations_ += strict.deviations.count() - strict.deviations.kept().size();
  if (!invocation_.all) return;
  const std::string* named = history_->named() ? &job : nullptr;
  if (strict.asWritten && invocation_.json) {
    while (quotedFiles_.size() <= place.file) quotedFiles_.push_back(Quoted(history_->files()[quotedFiles_.size()]));
    const std::string quotedJob = named ? Quoted(job) : std::string();
    const size_t size = WriteLogStateAsWritten(quotedFiles_[place.file], place, named ? &quotedJob : nullptr,
                                               found.kind, found.text, strict, &written_);
    std::cout.write(written_.data(), static_cast<std::streamsize>(size));
    return;
  }
  line_.clear();
  if (invocation_.json) {
    const LibraryReading library = ReadByLibrary(std::string(found.text), FamilyOf(found.kind));
    line_ = Dump(LogStateJson(history_->files()[place.file], place, named, found.kind, found.text, strict, library)) + '\n';
  } else {
    line_.append(history_->Where(place)).append(": ").append(named ? "job " + job + ": " : std::string());
    line_.append(KindName(found.kind)).append(": ");
    line_.append(strict.asWritten ? RenderedAsWritten(found.text, strict)
                                  : Rendered(ReadByLibrary(std::string(found.text), FamilyOf(found.kind))));
    line_ += '\n';
  }
  std::cout.write(line_.data(), static_cast<std::streamsize>(line_.size()));
}

bool Report::Counted() {
  ++deviations_;
  if (shown_ == Deviations::kShown) return false;
  ++shown_;
  return true;
}

void Report::Deviate(const Place& place, size_t offset, const std::string& problem, const std::string& effect) {
  if (!Counted()) return;
  const std::string text =
      history_->Where(place) + ":" + std::to_string(place.column + offset) + ": " + problem + "; " + effect;
  Warn(text);
  if (drawing()) picture_.Deviation(&place, text);
  if (invocation_.json) {
    first_.push_back(PlacedDeviationJson(history_->files()[place.file], place, offset, problem, effect));
  }
}

void Report::Missing(const std::string& what) {
  if (!Counted()) return;
  Warn(what);
  if (drawing()) picture_.Deviation(nullptr, what);
  if (invocation_.json) first_.push_back({{"problem", what}});
}

void Report::Unreadable(const std::string& name, const std::string& why) {
  ++unreadable_;
  unread_.push_back(name);
  Warn(name + ": " + why);
  if (drawing()) picture_.Deviation(nullptr, name + ": " + why);
}

int Report::Finish(History* history) {
  if (shown_ < deviations_) Warn(Plural(deviations_ - shown_, "more deviation", "more deviations") + " not shown");
  if (drawing()) {
    picture_.NotShown(deviations_ - shown_);
    drawn_ = picture_.Draw(*history);
  }
  if (history->states() == 0) {
    if (invocation_.json) PrintJsonSummary(history);
    Warn("no restart string found in " + Plural(history->lines(), "line", "lines"));
    return unreadable_ > 0 ? kExitTrouble : kExitInvalid;
  }
  if (invocation_.json) {
    PrintJsonSummary(history);
  } else if (!invocation_.all) {
    PrintSummary(history);
  }
  if (deviations_ > 0) {
    Warn(Plural(deviations_, "deviation", "deviations") +
         (invocation_.lenient ? "; accepted as the library reads them (--lenient)"
                              : "; the states are shown as the library reads them (--lenient accepts them)"));
  }
  if (unreadable_ > 0) return kExitTrouble;
  return deviations_ == 0 || invocation_.lenient ? kExitOk : kExitInvalid;
}

void Report::PrintSummary(History* history) {
  const std::vector<Job>& jobs = history->jobs();
  std::cout << Plural(history->lines(), "line", "lines") << ": "
            << Plural(history->states(), "restart string", "restart strings");
  if (jobs.size() > 1) {
    std::cout << ", " << jobs.size() << " jobs"
              << (history->named() ? " (told apart by --job)" : " (told apart by their volumes; --job names them)");
  }
  std::cout << '\n';
  for (size_t i = 0; i < jobs.size(); ++i) PrintJob(history, i);
}

void Report::PrintJob(History* history, size_t index) {
  Job& job = history->jobs()[index];
  std::cout << '\n';
  if (history->jobs().size() > 1) std::cout << "job " << JobName(history->jobs(), index) << ":\n";
  std::cout << Plural(job.tracks[0].states, "job state", "job states") << ", "
            << Plural(job.tracks[0].restarts, "restart", "restarts") << ", "
            << Plural(job.tracks[1].states, "volume state", "volume states") << " (each counted once)\n";
  for (const Family family : {Family::kJob, Family::kVolumes}) {
    Track& track = job.tracks[static_cast<int>(family)];
    if (track.states == 0) continue;
    const Progress shown = ProgressOf(&track, family);
    std::cout << "\nlast " << KindName(family == Family::kJob ? TextKind::kJob : TextKind::kVolumes) << " ("
              << history->Where(track.lastPlace) << "):\n"
              << Rendered(shown.last) << '\n';
    if (family == Family::kJob && track.restarts > 0) {
      std::cout << "\nlast restart input (" << history->Where(track.restartPlace) << "):\n"
                << Rendered(ReadByLibrary(track.restartText, family)) << '\n';
    }
    PrintProgress(shown, family);
  }
}

void Report::PrintJsonSummary(History* history) {
  // One object per job, then one for the whole: no object grows with the log.
  for (size_t i = 0; i < history->jobs().size(); ++i) {
    Job& job = history->jobs()[i];
    Progress progress[2];
    for (const Family family : {Family::kJob, Family::kVolumes}) {
      Track& track = job.tracks[static_cast<int>(family)];
      if (track.states > 0) progress[static_cast<int>(family)] = ProgressOf(&track, family);
    }
    std::cout << Dump(Json{{"job", LogJobJson(JobName(history->jobs(), i), job, progress, history->files())}}) << '\n';
  }
  std::cout << Dump(LogSummaryJson(history->files(), unread_, history->lines(), history->states(), history->jobs().size(),
                                   deviations_, first_))
            << '\n';
}

}  // namespace tool
}  // namespace jxrestart
