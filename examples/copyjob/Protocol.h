// What the example copy job and its job manager say to each other.
//
// The manager starts the job with a manifest, one volume per line:
//   <source id>\t<copy type>\t<destination id>\t<source path>\t<destination path>
// and, on a restart, the saved state:
//   jx-copy-job --manifest FILE --block BYTES -Restart <items> --volumes <volume restart string>
//
// The job first writes the offsets it resumes at,
//   RESUME\t<volume restart string>
// then, after each block is on disk,
//   STATE\t<job restart string>\t<volume restart string>
// and waits for "ok" on standard input, so the state the manager keeps is
// never ahead of the data, and the job never more than one block ahead of
// the state. A manager that cannot save the state answers "fail <reason>"
// and the job stops. At the end the job writes "DONE\t<bytes written in
// this run>".
#ifndef EXAMPLES_COPYJOB_PROTOCOL_H_
#define EXAMPLES_COPYJOB_PROTOCOL_H_

namespace copyjob {

constexpr char kResumeLine[] = "RESUME";
constexpr char kStateLine[] = "STATE";
constexpr char kDoneLine[] = "DONE";
constexpr char kAck[] = "ok";
constexpr char kRefusal[] = "fail";
constexpr char kSeparator = '\t';

// The job's exit statuses.
constexpr int kJobDone = 0;
constexpr int kJobUsage = 2;
constexpr int kJobFailed = 3;

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_PROTOCOL_H_
