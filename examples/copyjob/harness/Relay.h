// jx-copy-relay stands between the job manager and the job: the driver
// names it as the manager's job program, and it runs the real job and
// passes their lines on both ways (Protocol.h). Being the one that hands
// the job its answer, it is where the harness takes the acknowledgement:
// when it passes an "ok" on, it first reads the state file itself and
// requires it to hold that state, whole. It also kills at the protocol's
// steps that no file operation marks (Steps.h). Set in the environment:
//   JX_RELAY_JOB=PROGRAM    the job
//   JX_RELAY_EVENTS=FD      where it tells the driver what it saw
//   JX_RELAY_STATE=PATH     the state file
//   JX_RELAY_KILL=STEP:N    SIGKILL at the N-th time STEP is passed: the
//                           job, or with JX_RELAY_GROUP=1 the process group
//                           (the job and its manager, as a crash would)
//
// Threading: one thread.
#ifndef EXAMPLES_COPYJOB_HARNESS_RELAY_H_
#define EXAMPLES_COPYJOB_HARNESS_RELAY_H_

namespace copyjob {
namespace relay {

constexpr char kJob[] = "JX_RELAY_JOB";
constexpr char kEvents[] = "JX_RELAY_EVENTS";
constexpr char kState[] = "JX_RELAY_STATE";
constexpr char kKill[] = "JX_RELAY_KILL";
constexpr char kGroup[] = "JX_RELAY_GROUP";

// Its events, one line each, fields separated by tabs, among the manager's.
constexpr char kJobStarted[] = "relay-job";  // \t<pid>: the real job runs
constexpr char kAcked[] = "relay-acked";     // \t<job string>\t<volume string>: handed to the job as saved
constexpr char kKilled[] = "relay-killed";   // \t<step>: it kills at that step
constexpr char kFailed[] = "relay-failed";   // \t<what>: an acknowledgement the state file does not bear out

}  // namespace relay
}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_HARNESS_RELAY_H_
