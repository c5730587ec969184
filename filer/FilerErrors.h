// SPDX-License-Identifier: Apache-2.0
// Refusals of the simulated file server: one cause per reason a command can
// be refused, each with its own message code and the texts the file server
// family answers with (the table is in FilerErrors.cpp).
//
// Inside the library a refusal travels as a thrown Refusal; the client's
// command boundary (FilerRuntime) catches it and turns it into the client's
// last error. Nothing here holds a password.
#ifndef ZK_FILER_FILERERRORS_H_
#define ZK_FILER_FILERERRORS_H_

#include <stdexcept>
#include <string>

#include "host/ManageCelerra.h"

namespace zkfiler {

enum class Cause {
  kUnreachable,  // unknown control host: no answer
  kAuthFailed,   // wrong user or password
  kStateFile,    // state file missing, corrupt or unusable
  kBadArgument,  // empty id, path without "/", bad host entry, ...
  kNoFileSystem,
  kStorageMismatch,  // storage type or extra not those of the file system
  kNameInvalid,      // empty name or characters outside [A-Za-z0-9._-]
  kNameNumeric,      // all digits
  kNameTooLong,
  kNameInUse,
  kRoLimit,          // read-only checkpoints of a file system
  kRwBaselineLimit,  // writable checkpoints of one baseline
  kRwFsLimit,        // writable checkpoints of a file system
  kNoCheckpoint,
  kNotReadOnlyOfFs,   // baseline is not a read-only checkpoint of that fs
  kNotWritable,       // a writable checkpoint was required
  kHasWritable,       // delete: a writable checkpoint still depends on it
  kHasExport,         // delete: still exported
  kBaselineMismatch,  // delete with baseline: the pair does not match
  kRestoreMismatch,   // restore: name, id and file system disagree
  kRestoreWritable,   // restore from a writable checkpoint
  kNoMover,
  kNoVdm,
  kNoMountPoint,
  kNotMounted,  // export of a path not mounted on that mover
  kNoExport,
  kExportPathInvalid,  // an export path the NFS server cannot take safely
  kExportHostInvalid,  // a host entry that is a wildcard or no host
  kNoShare,
  kNoSpace,     // the files of a copy or restore do not fit on the disk
  kDataFailed,  // the files of a copy or restore could not be made
  kInjected,    // default texts of an armed fault
  kReplyLost,   // default texts of an armed lost reply: the command ran
};

// A CelerraError for `cause`: the table's fixed texts, with `message` (what
// went wrong, with the ids and names involved) and `diagnostics`.
CelerraError MakeError(Cause cause, const std::string& message,
                       const std::string& diagnostics = "");

// The message code of a cause, e.g. "13690535984" for kRoLimit.
const char* MessageCode(Cause cause);

// Fills the empty fields of an injected fault's error with the kInjected
// texts.
CelerraError CompleteInjectedError(CelerraError error,
                                   const std::string& command);
// Fills the empty fields of a lost reply's error with the kReplyLost texts.
CelerraError CompleteLostReplyError(CelerraError error,
                                    const std::string& command);

// A refused command, thrown inside the library only.
class Refusal : public std::runtime_error {
 public:
  explicit Refusal(CelerraError error)
      : std::runtime_error(error.sMessage), error_(std::move(error)) {}
  Refusal(Cause cause, const std::string& message)
      : Refusal(MakeError(cause, message)) {}
  const CelerraError& error() const { return error_; }

 private:
  CelerraError error_;
};

}  // namespace zkfiler

#endif  // ZK_FILER_FILERERRORS_H_
