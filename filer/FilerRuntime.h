// SPDX-License-Identifier: Apache-2.0
// The process-wide side of the simulated file server: which store is open,
// the lock that serialises every use of it, and the frame every client
// command runs in (fault injection, login check, one transaction, journal,
// latency, last error).
//
// Thread-safe: one mutex guards the open store; each command or API call
// holds it for the length of its transaction. Latency is waited out after
// the lock is released, so slow commands of many threads overlap.
#ifndef ZK_FILER_FILERRUNTIME_H_
#define ZK_FILER_FILERRUNTIME_H_

#include <functional>
#include <memory>
#include <string>

#include "filer/FilerDb.h"
#include "filer/FilerSim.h"
#include "filer/FilerStore.h"
#include "host/ManageCelerra.h"

namespace zkfiler {

// Replaces the store of this process (the old one is closed).
void SelectStore(std::unique_ptr<FilerDb> db);
// Name of the open store (":memory:" or the state file); empty when none.
std::string SelectedStoreName();

// Removes data directories no row of the open store names and temporary
// ones left by killed processes; with `make_dirs`, makes the missing
// directories of file systems and checkpoints. Best effort; nothing for a
// store that keeps no data.
void TidyData(bool make_dirs);

// Runs fn in one transaction on the current store (opening the ZK_FILER_DB
// state file first when no store was chosen). Any exception becomes the
// returned Status; a failure rolls the transaction back. A `read_only`
// transaction must not write; it works on a state file that cannot be
// written.
Status WithStore(const std::function<void(FilerStore&)>& fn,
                 bool read_only = false);

// Runs one client command. `args` is the journal text ("key=value ...",
// never the password). `body` does the work against the file server the
// client's control host names, throwing Refusal to refuse; its changes are
// undone when it refuses. Returns true on success; on failure sets the
// client's last error and returns false. Never throws.
bool RunCommand(ManageCelerra& client, const std::string& command,
                const std::string& args,
                const std::function<void(FilerStore&, const ServerRow&)>& body);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERRUNTIME_H_
