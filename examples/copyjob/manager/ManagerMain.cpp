// jx-copy-manager: the example job manager as a process of its own, for a
// driver that watches it (the demo, the torture run). It starts the copy
// job, fresh or from its state file when there is one, saves each state
// the job hands on, and tells the driver what happens (Protocol.h).
//
//   jx-copy-manager --job PROGRAM --manifest FILE --state FILE --block BYTES [--job-log PATH]
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "examples/copyjob/manager/JobManager.h"
#include "examples/copyjob/Protocol.h"
#ifdef JX_COPY_CARELESS
#include "examples/copyjob/careless/CarelessSaves.h"
#endif

namespace copyjob {
namespace {

void Tell(std::initializer_list<std::string> fields) {
  if (!WriteLine(STDOUT_FILENO, Fields(fields))) std::_Exit(kManagerFailed);  // the driver is gone
}

int Run(int argc, char** argv) {
  std::string job, manifest, state, log, plant;
  uint64_t block = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--job") job = value;
    if (option == "--manifest") manifest = value;
    if (option == "--state") state = value;
    if (option == "--block") block = std::strtoull(value.c_str(), nullptr, 10);
    if (option == "--job-log") log = value;
    if (option == "--plant") plant = value;
  }
  if (job.empty() || manifest.empty() || state.empty() || block == 0 || argc % 2 == 0) {
    std::cerr << "usage: jx-copy-manager --job PROGRAM --manifest FILE --state FILE --block BYTES [--job-log PATH]\n";
    return kManagerUsage;
  }
  // A job killed before it reads its answer must not take the manager along.
  ::signal(SIGPIPE, SIG_IGN);
  JobManager manager(job, manifest, state, block);
  manager.SetJobLog(log);
#ifdef JX_COPY_CARELESS
  // This build saves as a careless manager would (CarelessSaves.h).
  manager.SetSaver(CarelessSave(plant));
  if (!CarelessSave(plant)) {
    std::cerr << "jx-copy-careless-manager: --plant takes " << kCarelessSaves << "\n";
    return kManagerUsage;
  }
#else
  if (!plant.empty()) {
    std::cerr << "jx-copy-manager: --plant is for jx-copy-careless-manager\n";
    return kManagerUsage;
  }
#endif
  manager.OnSave([](const SavedState& s) { Tell({event::kSaving, s.jobString, s.volumeString}); });
  const bool restart = ::access(state.c_str(), F_OK) == 0;
  if (!manager.Start(restart)) {
    Tell({event::kStartFailed, restart ? "cannot load " + state : "cannot start " + job});
    return kManagerFailed;
  }
  if (restart) Tell({event::kLoaded, manager.state().jobString, manager.state().volumeString});
  if (manager.cleanedTemporary()) Tell({event::kCleaned});
  Tell({event::kStarted, std::to_string(manager.pid())});
  for (;;) {
    switch (manager.Next()) {
      case JobManager::Event::kResume:
        Tell({event::kResumed, manager.resumed()});
        break;
      case JobManager::Event::kState:
        Tell({event::kSaved});
        manager.Acknowledge();
        break;
      case JobManager::Event::kSaveFailed:
        Tell({event::kSaveFailed, manager.saveError()});
        manager.Wait();
        return kManagerFailed;
      case JobManager::Event::kDone:
        Tell({event::kDone, std::to_string(manager.written())});
        return manager.Wait() == kJobDone ? kManagerDone : kManagerFailed;
      case JobManager::Event::kGone:
        Tell({event::kGone, std::to_string(manager.Wait())});
        return kManagerFailed;
    }
  }
}

}  // namespace
}  // namespace copyjob

int main(int argc, char** argv) { return copyjob::Run(argc, argv); }
