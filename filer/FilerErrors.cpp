// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerErrors.h"

#include <cstddef>
#include <utility>

namespace zkfiler {
namespace {

// Status numbers: 3 no answer from the control station, 4 no reply in time
// to a command it received, 5 login refused, 6 command refused by the file
// server, 8 local state unusable.
struct ErrorText {
  Cause cause;
  int32_t status;
  const char* component;
  const char* facility;
  const char* code;
  const char* severity;
  const char* description;
  const char* action;
};

// One row per cause; every message code is distinct. 13690535947 and
// 13690535984 are the file server family's own codes.
const ErrorText kErrors[] = {
    {Cause::kUnreachable, 3, "APL", "Connection", "13958643713", "CRITICAL",
     "The control station did not answer.",
     "Check the control station name and that it is up and reachable."},
    {Cause::kAuthFailed, 5, "APL", "Authentication", "13958643714", "ERROR",
     "The control station refused the login.",
     "Check the user name and password of the array entry."},
    {Cause::kStateFile, 8, "ZKFILER", "StateFile", "13958643720", "CRITICAL",
     "The simulated file server's state file cannot be used.",
     "Create the state file with 'zkfiler load' or point ZK_FILER_DB at a "
     "valid one."},
    {Cause::kBadArgument, 6, "APL", "Request", "13690535937", "ERROR",
     "The request holds an empty or malformed argument.",
     "Correct the request and retry."},
    {Cause::kNoFileSystem, 6, "CS_CORE", "FileSystem", "13690535940", "ERROR",
     "The file system does not exist.",
     "Check the file system id with nas_fs -list."},
    {Cause::kStorageMismatch, 6, "CS_CORE", "FileSystem", "13690535941",
     "ERROR",
     "The storage type or storage details do not match the file "
     "system.",
     "Use the storage details the file system reports."},
    {Cause::kNameInvalid, 6, "CS_CORE", "Checkpoint", "13690535948", "ERROR",
     "The checkpoint name is empty or holds characters other than letters, "
     "digits, '.', '_' and '-'.",
     "Choose a valid checkpoint name."},
    {Cause::kNameNumeric, 6, "CS_CORE", "Checkpoint", "13690535949", "ERROR",
     "A checkpoint name cannot consist of digits only.",
     "Choose a name holding at least one non-digit."},
    {Cause::kNameTooLong, 6, "CS_CORE", "Checkpoint", "13690535950", "ERROR",
     "The checkpoint name is too long.", "Choose a shorter name."},
    {Cause::kNameInUse, 6, "CS_CORE", "Checkpoint", "13690535947", "ERROR",
     "The name is already in use by a file system or checkpoint.",
     "Choose a unique name."},
    {Cause::kRoLimit, 6, "CS_CORE", "Checkpoint", "13690535984", "ERROR",
     "The file system has reached the maximum number of checkpoints.",
     "Delete checkpoints that are no longer needed."},
    {Cause::kRwBaselineLimit, 6, "CS_CORE", "Checkpoint", "13690535985",
     "ERROR",
     "The checkpoint already has the maximum number of writable "
     "checkpoints.",
     "Delete the existing writable checkpoint first."},
    {Cause::kRwFsLimit, 6, "CS_CORE", "Checkpoint", "13690535986", "ERROR",
     "The file system has reached the maximum number of writable "
     "checkpoints.",
     "Delete writable checkpoints that are no longer needed."},
    {Cause::kNoCheckpoint, 6, "CS_CORE", "Checkpoint", "13690535955", "ERROR",
     "The checkpoint does not exist.",
     "Check the checkpoint id with fs_ckpt -list."},
    {Cause::kNotReadOnlyOfFs, 6, "CS_CORE", "Checkpoint", "13690535960",
     "ERROR",
     "A writable checkpoint can only be made from a read-only "
     "checkpoint of the same file system.",
     "Name a read-only checkpoint of this file system as baseline."},
    {Cause::kNotWritable, 6, "CS_CORE", "Checkpoint", "13690535972", "ERROR",
     "The checkpoint is not a writable checkpoint.",
     "Name a writable checkpoint."},
    {Cause::kHasWritable, 6, "CS_CORE", "Checkpoint", "13690535962", "ERROR",
     "The checkpoint still has a writable checkpoint.",
     "Delete the writable checkpoint first."},
    {Cause::kHasExport, 6, "CS_CORE", "Checkpoint", "13690535963", "ERROR",
     "The checkpoint is still exported.", "Remove the NFS export first."},
    {Cause::kBaselineMismatch, 6, "CS_CORE", "Checkpoint", "13690535964",
     "ERROR", "The checkpoint is not a writable checkpoint of that baseline.",
     "Name the writable checkpoint and its own baseline."},
    {Cause::kRestoreMismatch, 6, "CS_CORE", "Checkpoint", "13690535970",
     "ERROR", "The checkpoint name, id and file system do not agree.",
     "Name a checkpoint of the file system to restore."},
    {Cause::kRestoreWritable, 6, "CS_CORE", "Checkpoint", "13690535971",
     "ERROR", "A file system cannot be restored from a writable checkpoint.",
     "Restore from the read-only baseline checkpoint."},
    {Cause::kNoMover, 6, "DART", "DataMover", "13691060225", "ERROR",
     "The data mover does not exist.", "Check the data mover id."},
    {Cause::kNoVdm, 6, "DART", "VDM", "13691060226", "ERROR",
     "The virtual data mover does not exist.", "Check the VDM id."},
    {Cause::kNoMountPoint, 6, "DART", "Mount", "13691060230", "ERROR",
     "The path is not a mount point on that data mover.",
     "Check the mount path with server_mount."},
    {Cause::kNotMounted, 6, "DART", "NFS", "13691322369", "ERROR",
     "The path is not mounted on that data mover.",
     "Mount the file system or checkpoint before exporting it."},
    {Cause::kNoExport, 6, "DART", "NFS", "13691322370", "ERROR",
     "There is no NFS export of that path on that data mover.",
     "Check the export with server_export."},
    {Cause::kExportPathInvalid, 6, "DART", "NFS", "13691322371", "ERROR",
     "The export path holds characters or components the NFS service does "
     "not accept.",
     "Export a path of letters, digits, '.', '_' and '-' components."},
    {Cause::kExportHostInvalid, 6, "DART", "NFS", "13691322372", "ERROR",
     "A host entry of the export is not a single host: a wildcard, netgroup, "
     "network or 0.0.0.0 (any client), or no valid host name or address.",
     "Name each host by its host name or IPv4 address."},
    {Cause::kNoShare, 6, "DART", "CIFS", "13691453441", "ERROR",
     "The CIFS share does not exist.", "Check the share name."},
    {Cause::kNoSpace, 6, "CS_CORE", "Checkpoint", "13690535990", "ERROR",
     "The file server has no space left for the files of this command; "
     "nothing was changed.",
     "Free space on the file server (delete checkpoints that are no longer "
     "needed), then retry."},
    {Cause::kDataFailed, 6, "CS_CORE", "Checkpoint", "13690535991", "ERROR",
     "The file server could not copy the files of this command; nothing was "
     "changed.",
     "See the message for the file and the cause, correct it, then retry."},
    // The connection family's next code: the control station took the
    // command but its reply never came, so the command may have run.
    {Cause::kReplyLost, 4, "APL", "Connection", "13958643715", "ERROR",
     "The control station did not reply in time; the command may have "
     "taken effect.",
     "Check on the file server whether the command took effect before "
     "repeating it."},
    {Cause::kInjected, 6, "ZKFILER", "FaultInjection", "13958643799", "ERROR",
     "The command failed as armed by a test.", "Clear the armed faults."},
};

const ErrorText& Lookup(Cause cause) {
  for (const ErrorText& row : kErrors) {
    if (row.cause == cause) return row;
  }
  return kErrors[sizeof(kErrors) / sizeof(kErrors[0]) - 1];
}

}  // namespace

const char* MessageCode(Cause cause) { return Lookup(cause).code; }

CelerraError MakeError(Cause cause, const std::string& message,
                       const std::string& diagnostics) {
  const ErrorText& row = Lookup(cause);
  CelerraError error;
  error.nStatus = row.status;
  error.sComponent = row.component;
  error.sFacility = row.facility;
  error.sMessage = message;
  error.sMessageCode = row.code;
  error.sSeverity = row.severity;
  error.sDescription = row.description;
  error.sAction = row.action;
  error.sDiagnostics = diagnostics;
  return error;
}

namespace {

CelerraError Complete(CelerraError error, const CelerraError& fill) {
  if (error.nStatus == 0) error.nStatus = fill.nStatus;
  if (error.sComponent.empty()) error.sComponent = fill.sComponent;
  if (error.sFacility.empty()) error.sFacility = fill.sFacility;
  if (error.sMessage.empty()) error.sMessage = fill.sMessage;
  if (error.sMessageCode.empty()) error.sMessageCode = fill.sMessageCode;
  if (error.sSeverity.empty()) error.sSeverity = fill.sSeverity;
  if (error.sDescription.empty()) error.sDescription = fill.sDescription;
  if (error.sAction.empty()) error.sAction = fill.sAction;
  if (error.sDiagnostics.empty()) error.sDiagnostics = fill.sDiagnostics;
  return error;
}

}  // namespace

CelerraError CompleteInjectedError(CelerraError error,
                                   const std::string& command) {
  return Complete(std::move(error),
                  MakeError(Cause::kInjected, "Injected failure of " + command,
                            "command=" + command));
}

CelerraError CompleteLostReplyError(CelerraError error,
                                    const std::string& command) {
  return Complete(
      std::move(error),
      MakeError(
          Cause::kReplyLost,
          "Timed out waiting for the control station's reply to " + command,
          "command=" + command));
}

}  // namespace zkfiler
