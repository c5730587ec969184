// SPDX-License-Identifier: Apache-2.0
// The zksnap commands. Each takes the command's Context and its arguments,
// prints its result (a table, or JSON with --json) and returns the exit
// status (ZksnapError.h). Bad input and catalog trouble are thrown as
// HostError; a command that throws has changed nothing in the catalog.
//
// Commands that run the plug-in do it in one catalog write transaction:
// load the records, call the plug-in, write everything back, commit.
#ifndef ZK_REFHOST_ZKSNAPCOMMANDS_H_
#define ZK_REFHOST_ZKSNAPCOMMANDS_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "refhost/ZksnapContext.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

// ---- init, demo ----------------------------------------------------------
struct InitArgs {
  bool bDemo = false;   // lay out the demo file server and register it
  bool bForce = false;  // even over an existing demo file server or hosts file
};
int CmdInit(Context& z, const InitArgs& a);

struct DemoArgs {
  bool bKeep = false;  // keep the temporary state directory
};
int CmdDemo(const GlobalOptions& oGlobal, const DemoArgs& a);

// ---- arrays ---------------------------------------------------------------
struct ArrayAddArgs {
  std::string sName;
  std::string sControlHost;
  std::string sUser;
  std::string sVendor = "Dell EMC VNX / Celerra";
  std::string sArrayId;
  std::string sEngine = "celerra";
  std::vector<std::string> vAddresses;
  // Where the password comes from; at most one. None: ask at the terminal.
  std::string sPasswordFile;
  std::string sPasswordEnv;
  bool bPasswordStdin = false;
};
int CmdArrayAdd(Context& z, const ArrayAddArgs& a);
int CmdArrayList(Context& z);
int CmdArrayRemove(Context& z, const std::string& sName, bool bForce);

// ---- devices (records) ----------------------------------------------------
struct DeviceAddArgs {
  std::string sName;
  std::string sSnapName = "zksnap";  // the snap group
  std::string sNfsExport;            // --nfs
  std::string sNasPath;              // --nas
  std::string sIdentifier;           // --identifier (raw)
  std::string sFiler;                // --filer
  bool bVMware = false;
  std::string sEsx, sVCenter;
  std::vector<std::string> vVMKernel;
  std::string sHostIdentifier;  // raw
  int nMountSource = 2;
};
int CmdDeviceAdd(Context& z, const DeviceAddArgs& a);
int CmdDeviceList(Context& z);
int CmdDeviceShow(Context& z, const std::string& sName);
int CmdDeviceRemove(Context& z, const std::string& sName, bool bForce);

// Which records a command works on: names, a snap group, or all.
struct Selection {
  std::vector<std::string> vRecords;
  std::string sSnapName;
  bool bAll = false;
  // Operations: go on although a record still holds a checkpoint that the
  // operation would lose track of (prepare, unprepare, delete).
  bool bForce = false;
};
int CmdStatus(Context& z, const Selection& s);
int CmdLog(Context& z, const std::string& sRecord, uint64_t nJobId);

// ---- operations -----------------------------------------------------------
// sOperation: prepare, unprepare, snap, map, unmap, delete, revert,
// reconcile.
int CmdOperation(Context& z, const std::string& sOperation, const Selection& s);
int CmdSupported(Context& z, const std::string& sIdentifier);

// ---- configuration --------------------------------------------------------
// Refuses a key the plug-in does not read (it would have no effect) unless
// bForce, which sets it with a warning.
int CmdConfigSet(Context& z, const std::string& sSection,
                 const std::string& sKey, const std::string& sValue,
                 bool bForce = false);
int CmdConfigGet(Context& z, const std::string& sSection,
                 const std::string& sKey);
int CmdConfigUnset(Context& z, const std::string& sSection,
                   const std::string& sKey);
int CmdConfigList(Context& z);

// ---- the simulated file server ----------------------------------------------
int CmdFilerShow(Context& z);
// Refuses a layout that replaces a file server records still hold
// something on, unless bForce, which loads it and marks those records with
// what they still hold. A load that fails changes nothing.
int CmdFilerLoad(Context& z, const std::string& sLayoutFile,
                 bool bForce = false);
// Checkpoints and checkpoint exports that no record names; with bRemove
// their removal through the plug-in's unmap and delete (ZksnapOrphans.cpp).
struct OrphansArgs {
  bool bRemove = false;
  bool bYes = false;                // remove without asking at the terminal
  std::vector<std::string> vNames;  // only these objects (with bRemove)
};
int CmdOrphans(Context& z, const OrphansArgs& a = OrphansArgs());

// ---- reading a mapped record's clone over NFS -------------------------------
struct CloneArgs {
  std::string sRecord;
  std::string sPath;  // inside the clone, from its root ("/a/b.txt")
  std::string sServer = "127.0.0.1";  // the NFS server serving the export
  int nPort = 2049;
  // How long to wait for the export to be served, and for each reply.
  int nTimeoutMs = 5000;
};
// The entries of a directory of the clone (name, type, size, mode).
int CmdCloneList(Context& z, const CloneArgs& a);
// A file of the clone, its bytes as they are, on standard output.
int CmdCloneRead(Context& z, const CloneArgs& a);

// ---- shared helpers ---------------------------------------------------------
// Exit status of a plug-in result code.
int ExitForResult(int nResult);
// The records a selection names, in name order; HostError for an unknown
// name or an empty selection. REQUIRES: a transaction open.
std::vector<RecordRow> SelectRecords(Catalog& c, const Selection& s);
// What zksnap says of a record an operation never reached: where the call
// stopped, and the text (naming that record and its reason).
struct NotReached {
  std::string sStoppedAt;
  std::string sText;
};
using Notes = std::map<std::string, NotReached>;  // by record name
// Prints the status table (or JSON array) of the rows; a record with a note
// shows it as its reason (JSON: "not_reached").
void PrintStatus(Context& z, const std::vector<RecordRow>& vRows,
                 const Notes* pNotes = nullptr);
// The rows as 'zksnap status --json' prints them (with the notes).
Json StatusJson(const std::vector<RecordRow>& vRows,
                const Notes* pNotes = nullptr);
// Letters, digits, ".", "_" and "-", not starting with "-": names of records
// and snap groups.
void CheckName(const std::string& sWhat, const std::string& sName);

}  // namespace zkref

#endif  // ZK_REFHOST_ZKSNAPCOMMANDS_H_
