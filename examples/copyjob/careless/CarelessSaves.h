// Ways a careless job manager saves its state, each a real mistake, for
// the torture to show that it catches them: they are built only into
// jx-copy-careless-manager, never into the manager the example shows.
//
//   no-sync-temp    the temporary file not synced
//   stream-temp     the same, written through a stream
//   new-name        the same, named state.new
//   rename-first    the temporary file renamed before it is synced
//   no-sync-folder  the folder not synced after the rename
//   folder-first    the folder synced before the rename, not after
//   in-place        the state file rewritten in place (truncated, one
//                   write, synced): no moment leaves the old file whole
//   ack-early       each save's syncs made only at the next save, so the
//                   job is told "ok" for a state that is not yet durable
//   skip-save       every seventh save not made, and told "ok"
//
// And one way a careless job copies, built only into jx-copy-careless-job:
//   state-first     the state handed on before its block is synced
//
// Threading: one thread, as the manager.
#ifndef EXAMPLES_COPYJOB_CARELESS_CARELESSSAVES_H_
#define EXAMPLES_COPYJOB_CARELESS_CARELESSSAVES_H_

#include <string>

#include "examples/copyjob/manager/JobManager.h"

namespace copyjob {

// The names above, for a usage message.
extern const char kCarelessSaves[];
constexpr char kCarelessCopy[] = "state-first";

// The save named `plant`; an empty function when there is none.
Saver CarelessSave(const std::string& plant);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_CARELESS_CARELESSSAVES_H_
