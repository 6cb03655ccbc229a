// Ways a careless job manager saves its state, each a real mistake, for
// the torture to show that it catches them: they are built only into
// jx-copy-careless-manager, never into the manager the example shows.
//
//   stream-temp   the temporary file written through a stream, not synced
//   new-name      the temporary file named state.new, not synced
//   in-place      the state file rewritten in place (truncated, one
//                 write, synced): no moment leaves the old file whole
//   rename-first  the temporary file renamed before it is synced
//   ack-early     each save's syncs made only at the next save, so the
//                 job is told "ok" for a state that is not yet durable
//
// Threading: one thread, as the manager.
#ifndef EXAMPLES_COPYJOB_CARELESS_CARELESSSAVES_H_
#define EXAMPLES_COPYJOB_CARELESS_CARELESSSAVES_H_

#include <string>

#include "examples/copyjob/JobManager.h"

namespace copyjob {

// The names above, for a usage message.
extern const char kCarelessSaves[];

// The save named `plant`; an empty function when there is none.
Saver CarelessSave(const std::string& plant);

}  // namespace copyjob

#endif  // EXAMPLES_COPYJOB_CARELESS_CARELESSSAVES_H_
