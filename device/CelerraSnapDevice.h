// SPDX-License-Identifier: Apache-2.0
// CelerraSnapDevice: the plug-in's object for one host record (one source
// device) during one exported call, and the factory that makes it.
//
// The object carries what the plug-in learns about the device and its
// checkpoint during the call (file server, credentials, file system,
// checkpoint names and ids, exposure details), and it is the only way the
// plug-in reads from or writes to the host record. Four kinds derive from it
// (CelerraSnapDeviceLun, CelerraSnapDeviceNfs, CelerraSnapDeviceUNC,
// CelerraSnapDeviceNAS), chosen from the "type" of the source identifier.
//
// Life of an object, per record of an exported call:
//   CelerraSnapDevicePtr pDevice(
//       CelerraSnapDevice::GetInstance(pSnapInfo, pOSUtil, SNAP_OP_MAP));
//   if (!pDevice) ...;              // the reason is already on the record
//   pDevice->PreOperation();        // failure status first, then loading
//   ... the operation ...
//   pDevice->PostOperation(ZKSO::MAP_SUCCESS);
// The caller owns the object; CelerraSnapDevice::Delete (or the deleter of
// CelerraSnapDevicePtr) releases it. The object borrows the host record and
// the host utility object; both must outlive it. It never owns host objects
// and keeps no reference to other device objects.
//
// Threads: an object is used by one thread inside one exported call; it has
// no locks. The static members may be called from any thread.
//
// The virtual operations are declared in the order of their slots; do not
// reorder them. Operations return a success flag: the failing operation
// writes its reason to the debug log, the step that knows the context writes
// the record's job log line and, where the user must act, the reason message.
// Nothing here throws into the caller for bad input.
#ifndef ZK_DEVICE_CELERRASNAPDEVICE_H_
#define ZK_DEVICE_CELERRASNAPDEVICE_H_

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device/CelerraIntent.h"
#include "device/CelerraMountWork.h"
#include "device/ZkCriticalSection.h"
#include "host/ManageCelerra.h"
#include "host/ZKSnapHost.h"
#include "host/ZKSnapTypes.h"
#include "utils/CelerraUtils.h"

// What GetSnapData reads from the host record, and through which host
// operation.
enum _eCelerraSnapInfoDataType : int32_t {
  CELERRA_SNAPINFO_NONE = 0,             // nothing; reads as ""
  CELERRA_SNAPINFO_HOST_IDENTIFIER = 1,  // GetHostIdentifier
  CELERRA_SNAPINFO_SNAP_NAME = 2,        // GetSnapName
  CELERRA_SNAPINFO_SOURCE_DEVICE = 3,    // GetSourceDevice
  CELERRA_SNAPINFO_ARRAY_INFO = 4,       // GetArrayInfo
  CELERRA_SNAPINFO_SNAP_DEVICE = 5,      // GetSnapDevice
};

// The production file system of a device; also the grouping key of snap
// creation. Copied by value.
struct _CelerraStorageResource {
  std::string sPFSId;  // file system id as the client names it ("PFSId")
  eCelerraStgType eStorageType = CELERRA_STG_UNSET;
  std::string sStorageExtra;  // third GetPFSInfo value, passed back unchanged
};

class CelerraSnapDevice {
 public:
  // ---- Factory ----

  // Reads the record's source identifier and makes the object of its kind,
  // initialised for eOperation. Null when the identifier cannot be read or
  // is empty, or no object can be made; the reason (62001) is then posted on
  // the record. The caller owns the result (release with Delete).
  static CelerraSnapDevice* GetInstance(ZKSO::SnapInfo* pSnapInfo,
                                        ZKSO::ZKOSUtil* pOSUtil,
                                        _SnapOperationType eOperation);
  // A new, initialised object of the kind (1, 2, 4 or 8); null otherwise.
  static CelerraSnapDevice* InitializeDeviceObj(
      const _CelerraSourceDeviceType& eDeviceType, ZKSO::ZKOSUtil* pOSUtil,
      ZKSO::SnapInfo* pSnapInfo, const std::string& sSourceDevice,
      const _SnapOperationType& eOperation);
  // Destroys the object and nulls the pointer; a null pointer is left alone.
  static void Delete(CelerraSnapDevice*& pDevice);

  // Reads one text from the record with the host's getter convention (at
  // most 3 host calls). True when the host answered success; sValue then
  // holds the text, possibly empty. Type 0 and unknown types read "".
  static bool GetSnapData(ZKSO::SnapInfo* pSnapInfo, ZKSO::ZKOSUtil* pOSUtil,
                          _eCelerraSnapInfoDataType eType, std::string& sValue);

  // ---- Virtual operations, in slot order ----

  // File system metadata text (SM_MDT_FS_INFO) of this device.
  virtual std::string GetFSMetaData();
  // Reads the file system metadata text from nPosition on.
  virtual bool ParseFSMetaData(std::string sText, unsigned long& nPosition);
  // Reads the source identifier; fills the file server identifier and the
  // kind's own members. No file server contact.
  virtual bool DetermineFromDevice() = 0;
  // Asks the file server (client already logged in) for the file system.
  virtual bool PopulateDetails(ManageCelerra& oClient) = 0;
  // Fills the snap clone identifier for the export at sSharePath.
  virtual bool FormSnapDevice(const std::string& sSharePath) = 0;
  virtual ~CelerraSnapDevice();
  // Map: makes the writable checkpoint of the snapshot and stores its mount
  // metadata (for one already there, once ExposeChkPt finds its export is
  // this record's). The client is logged into the device's file server.
  virtual bool CreateRWChkPt(ManageCelerra& oClient) = 0;
  // Map: exports the writable checkpoint to the mount hosts (sMountHost,
  // or the ESX host of a VMware device) and forms the snap clone
  // identifier that setSnapDevice records.
  virtual bool ExposeChkPt(ManageCelerra& oClient,
                           const std::string& sMountHost) = 0;
  // Unmap: removes the export, then deletes the writable checkpoint. An
  // export or writable checkpoint that is already gone (one query after a
  // refusal says so) counts as removed; a writable checkpoint that stays
  // fails the unmap, so that the record keeps what a retry needs.
  virtual bool UnExposeChkPt(ManageCelerra& oClient) = 0;
  // Restores the file system from the snapshot, from its baseline when the
  // snapshot is writable. A refusal posts reason 60513 with the file
  // server's whole error text.
  virtual bool RevertFSFromChkPt(ManageCelerra& oClient);
  // Deletes the snapshot's checkpoint, with its baseline when writable. A
  // refusal is followed by one query of the file server's checkpoints: a
  // checkpoint no longer there counts as deleted.
  virtual bool DeleteChkPt(ManageCelerra& oClient);
  // Sets bFound when the list holds this checkpoint (id, baseline id and
  // name equal). Always true.
  virtual bool ReconcileChkPt(ManageCelerra& oClient,
                              std::list<CelerraChkPtInfo>& lChkpts,
                              bool& bFound);

  // ---- Record operations ----

  void Initialize(const _CelerraSourceDeviceType& eDeviceType,
                  ZKSO::SnapInfo* pSnapInfo, ZKSO::ZKOSUtil* pOSUtil,
                  const std::string& sSourceDevice,
                  const _SnapOperationType& eOperation);
  // Keeps sText as the last error and posts "[" + sText + "]" on the record.
  void SetJPR(int nMessageId, std::string sText);
  // Writes the snap clone identifier to the record (and its job log).
  void setSnapDevice();
  // GetSnapData on this object's record.
  bool GetSnapData(_eCelerraSnapInfoDataType eType, std::string& sValue);
  // Reads metadata entry nType (at most 4 host calls). sValue is assigned
  // only for a non-empty text; pass an empty string. When the read fails
  // because a buffer could not be allocated, *pbNoMemory (if given) is set:
  // the host was not asked, so the failure says nothing about the entry.
  bool GetSnapMetadata(const int& nType, std::string& sValue,
                       bool* pbNoMemory = nullptr);

  // ---- Preparation and completion ----

  // Writes the operation's failure status, then loads what the operation
  // needs (from the device for prepare, from stored metadata otherwise).
  bool PreOperation();
  bool PrePrepareDevice();
  bool PreOperationCommon();
  // Stores what the operation produced and writes nStatus. False (nothing
  // more written, status untouched) when a value cannot be stored so that
  // it reads back the same.
  bool PostOperation(ZKSO::SnapStatus nStatus);
  // Empty sName: a new name from the host's snap name and the time. Else
  // sName. False when the host has no snap name or the name would exceed
  // 255 characters.
  bool SetChkptName(const std::string& sName);

  // ---- Metadata records ----

  // The virtual form from position 0.
  bool ParseFSMetaData(std::string sText);
  bool ParseSnapUUID(std::string sText);
  bool ParseMountInfo(std::string sText);
  // Store SM_MDT_FS_INFO / SM_MDT_SNAP_UUID. False, with a job log line
  // naming the field, when a field holds the separator "|" (nothing stored).
  bool UpdateFSMetaData();
  bool UpdateSnapUUIDMetaData();

  // ---- Array credentials ----

  // Binds the record to the array named m_sArrayIdentifier (or its address).
  bool SetArrayInfo();
  // Reads and checks the record's array information; fills
  // m_sArrayIdentifier and m_oArrayCredentials.
  bool GetArrayCredsFromDB();

  // ---- VMware host identifier ----

  void ParseHostIdentifier();

  // ---- Exposure helpers ----

  // Exports the writable checkpoint (m_sRWChkptId, or m_sRWChkptName when
  // the id is empty) on sMoverId to the mount host (m_sESXName for a VMware
  // device) and m_vVMKernelIPs, then forms the snap clone identifier.
  // sSourcePath is what the client finds the checkpoint's export path from.
  // False, with nothing exported, when the export would name no access host
  // (the file server would open it to every host).
  bool ExposeChkPtNFS(ManageCelerra& oClient, const std::string& sMountHost,
                      const std::string& sSourcePath,
                      const std::string& sMoverId);
  // Removes the export of the writable checkpoint, once the file server
  // says it is of that checkpoint (an export of another, newer view at the
  // same path stays, and the record's view counts as gone). True without a
  // file server call when the map never stored its mount metadata.
  bool UnExposeChkPtNFS(ManageCelerra& oClient, const std::string& sSourcePath,
                        const std::string& sMoverId);
  // bFlag: the mount request source (host value 7) is 2. False, with reason
  // 60002 on the record, when the host cannot tell.
  bool GetGUIMountShareName(bool& bFlag, std::string& sShareName);

  // ---- Convergence of map and unmap ----
  //
  // The rules (what may be shared, what counts as proof, what an undo takes
  // back) are in device/CelerraMountWork.h; m_oMountWork records what this
  // object's map or unmap did.

  // Map, before anything is made: looks up the hosts of the record's export
  // (once) and fails, with the reason on the record, when the export would
  // name no host (a VMware device without its ESX host, or no access host
  // at all).
  bool CheckMountHosts(const std::string& sMountHost);
  // Map: the writable view of this snapshot made or taken over for another
  // record of this request; CreateRWChkPt uses it without asking the file
  // server, and the export must be the one this record would make.
  void SetKnownView(const std::string& sRWChkptId,
                    const _CelerraViewExport& oExport) {
    m_oMountWork.bKnownView = true;
    m_oMountWork.sKnownRWChkptId = sRWChkptId;
    m_oMountWork.oKnownExport = oExport;
  }
  const CelerraMountWork& MountWork() const { return m_oMountWork; }
  // Map failed: removes the export and the writable checkpoint this map
  // made and puts the record's mount metadata back as it was before the
  // call, each with a level 2 job log line (also for a removal that fails).
  // Mount metadata of a writable checkpoint that could not be removed
  // stays, so that unmap finds it.
  void UndoMap(ManageCelerra& oClient, const char* pszTag);
  // ---- The record's intent (device/CelerraIntent.h) ----
  //
  // Snap: names in the record the read-only checkpoint sName of the
  // device's file system before it is created.
  void IntendROChkpt(const std::string& sName);
  // Snap: the create was refused outright (or shown not to have run): the
  // record's intent goes back to what earlier calls left.
  void DropROChkptIntent();
  // Whether the intent an earlier call left names the read-only checkpoint
  // sName of the device's file system.
  bool PriorIntentNamesROChkpt(const std::string& sName) const {
    return m_oPriorIntent.NamesROChkpt(sName, m_oStorageResource.sPFSId);
  }
  // Snap: the id of the checkpoint sName when the record already holds it
  // (its SM_MDT_SNAP_UUID names it: a snap of it succeeded); empty else.
  std::string HeldROChkptId(const std::string& sName);

  // The record's mount metadata text as stored, read without a trace in its
  // job log; false when the host cannot tell (sText then empty).
  static bool ReadMountText(ZKSO::SnapInfo& oRecord, std::string* psText);
  // The record's metadata text of type nType, read the same way.
  static bool ReadMetaDataQuietly(ZKSO::SnapInfo& oRecord, int nType,
                                  std::string* psText);
  // The reason this object posted on the record (SetJPR); empty if none.
  const std::string& GetLastReason() const { return m_sLastError; }

  // ---- The file server refusal that stopped the record ----
  //
  // Kept here and nowhere else: one per device object, so per record and
  // call; there is none when the object is made, and nothing clears it.
  // SettleStopCause, called by the operation as soon as its step fails
  // (before any undo, whose commands replace the client's last error),
  // fixes the cause as, in order:
  //   - the refusal the device kept itself (KeepRefusal), where it sent a
  //     query or an undo after that refusal;
  //   - none (a blank error) when the device posted a reason of its own
  //     (GetLastReason): it says more than the client's last error, which
  //     may be left from a command whose failure was harmless (a data mover
  //     lookup, say) or from an earlier record of the call;
  //   - else the client's last error.
  // Refusals the device keeps after that (in the undo) do not change it; a
  // second SettleStopCause settles it anew. The operation's stop handler
  // reads it through StopCause, and from nowhere else.
  void SettleStopCause(ManageCelerra& oClient);
  // The settled cause; oClient's last error when none was settled (the
  // stop came from the preparation or the completion, not the step).
  CelerraError StopCause(ManageCelerra& oClient) const;

  // ---- Accessors ----

  std::string GetChkptName() { return m_sChkptName; }
  std::string GetSnapSourceDevice() { return m_sSnapSourceDevice; }
  void GetArrayCredentials(_CelerraArrayCredentials& oCredentials) {
    oCredentials = m_oArrayCredentials;
  }
  _CelerraStorageResource GetStorageResource() { return m_oStorageResource; }
  void SetChkptID(std::string sChkptId) { m_sChkptId = std::move(sChkptId); }
  const std::string& GetChkptId() const { return m_sChkptId; }
  const std::string& GetBaselineChkptId() const { return m_sBaselineChkptId; }
  const std::string& GetRWChkptId() const { return m_sRWChkptId; }
  const std::string& GetRWChkptName() const { return m_sRWChkptName; }

 protected:
  CelerraSnapDevice();
  CelerraSnapDevice(const CelerraSnapDevice&) = delete;
  CelerraSnapDevice& operator=(const CelerraSnapDevice&) = delete;

  // Job id as the host's logging and client calls take it.
  ZKUint64 JobId() const { return static_cast<ZKUint64>(m_nJobId); }

  // Named fields of a "|"-separated metadata text, in stored order. Each
  // kind lists its file system fields; GetFSMetaData joins them and
  // UpdateFSMetaData refuses a list in which a value holds "|".
  using FieldList = std::vector<std::pair<const char*, std::string>>;
  FieldList BaseFSMetaDataFields() const;
  // Every value followed by "|".
  static std::string JoinFields(const FieldList& vFields);

  // CreateRWChkPt of the kinds that expose over NFS; pszTag names the kind.
  // Creates the writable checkpoint of the snapshot and stores its mount
  // metadata (SM_MDT_SNAP_MOUNT "rwname|rwid"); a snapshot with a baseline
  // is already writable and is mounted as it is.
  bool CreateRWChkPtForMount(ManageCelerra& oClient, const char* pszTag);
  // Last step of an unmap: deletes the writable checkpoint m_sRWChkptId.
  // Sends no deletion when the export removal found the checkpoint gone (or
  // replaced by a newer view); without an id (the map never stored its
  // mount metadata) only an unexported one the record's intent names goes
  // (RemoveUnexportedRWChkpt, its export found from sSourcePath). False
  // when the checkpoint stays on the file server: the export this unmap
  // removed is then put back exactly as it was (RunUndoPlan), so
  // that the snapshot stays mapped as the records that share it say.
  bool DeleteRWChkPtAfterUnmount(ManageCelerra& oClient, const char* pszTag,
                                 const std::string& sSourcePath);
  // One query of the file server's checkpoints (all of them), sent after a
  // refusal: sets *pbPresent when
  // one of them matches, and *pFound (when given) to the first that does.
  // False when the query itself fails. A query that answers makes the
  // client forget the refusal before it, so that a later stop reports a
  // later failure only.
  bool FindChkpt(ManageCelerra& oClient,
                 const std::function<bool(const CelerraChkPtInfo&)>& fnMatch,
                 bool* pbPresent, CelerraChkPtInfo* pFound = nullptr);
  // Map, after CreateRWChkPt failed: looks for the writable checkpoint and
  // settles whose it is (RWChkptOrigin); false, with the refusal kept, when
  // it is not there or the listing failed.
  bool FindRWChkptAfterRefusal(ManageCelerra& oClient, const char* pszTag);
  // The writable checkpoint's part of the record's intent goes back to what
  // earlier calls left, unless bKeepUnknown (its outcome is still unknown).
  void RestoreRWChkptIntent(bool bKeepUnknown);
  // The export's part of the record's intent goes back to what earlier
  // calls left (stored with the next StoreIntent).
  void ExportIntentAsBefore();
  // Takes back what this map or unmap did, by CelerraMountWork::UndoPlan,
  // each step with a level 2 job log line (also a step that fails): a
  // failed map's export and writable checkpoint; an unmap's removed export,
  // put back exactly as it was. False when a writable checkpoint to delete
  // stays.
  bool RunUndoPlan(ManageCelerra& oClient, const char* pszTag);
  // Makes oClient anew for this device's file server: a refusal that was
  // handled is no longer its last error.
  void ForgetHandledRefusal(ManageCelerra& oClient);
  // Keeps oError, a refusal that failed the step in hand and is followed by
  // a query or an undo, for SettleStopCause; the latest kept counts.
  void KeepRefusal(const CelerraError& oError) {
    m_oKeptRefusal = oError;
    m_bHasKeptRefusal = true;
  }
  // The access, read-write and root host lists of the export for
  // sMountHost (the ESX host for a VMware device). False when the lookup
  // failed; the lists hold what was found.
  bool MountHostLists(const std::string& sMountHost,
                      std::vector<std::string>& vAccessHosts,
                      std::vector<std::string>& vRWHosts,
                      std::vector<std::string>& vRootHosts);
  // Whether the record's snap clone device, if it has one, is the export
  // of the writable checkpoint sRWChkptName (a map made it from that one).
  bool CloneIsOf(const std::string& sRWChkptName);
  // The host an export is for: sMountHost, or the ESX host of a VMware
  // device. False, with a job log line, when a VMware device names none.
  bool ExportHost(const std::string& sMountHost, std::string* psHost);
  // Exports m_sExportPath on sMoverId to the hosts. An export already
  // there (of a writable checkpoint this map did not make, or of a snapshot
  // that is itself writable) is used only when the record or this call
  // owns it and it is exactly this one (CelerraMountWork::MayUse); a
  // writable checkpoint with none yet is exported only when it is the
  // record's own.
  bool ExportToHosts(ManageCelerra& oClient, const std::string& sMoverId,
                     _CelerraExportHosts& oHosts);
  // Looks up the export at sPath. True when the file server answered: then
  // *pbExists tells whether there is one, and *pExport holds it. False when
  // the lookup failed for any other reason than "no such export": nothing
  // may be concluded.
  bool QueryExport(ManageCelerra& oClient, const std::string& sPath,
                   bool* pbExists, _CelerraViewExport* pExport);
  // Writes the mount metadata of the writable checkpoint (rwname|rwid),
  // after keeping what the record held before. False when the host threw.
  bool WriteMountInfo(const char* pszTag);
  // The reason a map fails when the snapshot's writable view is there and
  // not this record's to use: exported (oTheirs; otherwise than this record
  // needs, or made by another call), or, with a null oTheirs, not exported
  // and named by nothing this record stored.
  void RefuseView(const _CelerraViewExport* pTheirs,
                  const _CelerraViewExport& oOurs);
  // Whether the record's own intent or its view names the export oFound of
  // the writable checkpoint in hand.
  bool NamesExport(const _CelerraViewExport& oFound) const;
  // Reads the record's intent (SM_MDT_CELERRA_INTENT) into m_oIntent and
  // m_oPriorIntent; one that cannot be read is taken as none, with a job
  // log line.
  void LoadIntent(const char* pszTag);
  // Stores m_oIntent in the record when it differs from what is stored
  // (removes it when empty).
  void StoreIntent();
  // Unmap of a record without mount metadata whose intent names the
  // <checkpoint>_RW of its own checkpoint (a map whose create answered
  // nothing it could confirm): that writable checkpoint is deleted when it
  // has no export at all. One with an export, or one the record does not
  // name, is left alone. Never fails the unmap.
  void RemoveUnexportedRWChkpt(ManageCelerra& oClient,
                               const std::string& sSourcePath,
                               const char* pszTag);

  ZKSO::SnapInfo* m_pSnapInfo;  // borrowed host record
  ZKSO::ZKOSUtil* m_pOSUtil;    // borrowed host utility object
  _SnapOperationType m_eOperationType;
  int64_t m_nJobId;
  std::string m_sLastError;
  _CelerraSourceDeviceType m_eDeviceType;
  _CelerraArrayCredentials m_oArrayCredentials;
  _CelerraStorageResource m_oStorageResource;
  std::string m_sSnapSourceDevice;
  std::string m_sChkptName;
  std::string m_sChkptId;
  std::string m_sBaselineChkptId;  // set when the snapshot is itself RW
  std::string m_sRWChkptName;
  std::string m_sRWChkptId;
  std::string m_sExportPath;  // path of the writable checkpoint's export
  bool m_bIsVMware;
  bool m_bMountInfoLoaded;  // unmap: mount metadata read and parsed
  bool m_bSnapUUIDChanged;  // unmap: snap UUID is to be rewritten
  std::string m_sHostIdentifier;
  std::string m_sVCName;
  std::string m_sESXName;
  std::vector<std::string> m_vVMKernelIPs;
  _CelerraSnapDeviceIdentifier m_oSnapDeviceIdentifier;
  std::string m_sArrayIdentifier;

  CelerraMountWork m_oMountWork;  // map and unmap: see CelerraMountWork.h
  // The record's intent as earlier calls left it, and as this call keeps it
  // (what it is creating, or created without a confirmation).
  _CelerraIntent m_oPriorIntent;
  _CelerraIntent m_oIntent;
  std::string m_sStoredIntent;  // the text the record holds
  // The refusal that stopped the record: see SettleStopCause.
  CelerraError m_oKeptRefusal;
  bool m_bHasKeptRefusal = false;
  CelerraError m_oStopCause;
  bool m_bStopCauseSettled = false;

 private:
  friend class CelerraSnapDeviceTestPeer;  // tests inspect the members
};

// Releases a device object through CelerraSnapDevice::Delete.
struct CelerraSnapDeviceDeleter {
  void operator()(CelerraSnapDevice* pDevice) const {
    CelerraSnapDevice::Delete(pDevice);
  }
};
using CelerraSnapDevicePtr =
    std::unique_ptr<CelerraSnapDevice, CelerraSnapDeviceDeleter>;

#endif  // ZK_DEVICE_CELERRASNAPDEVICE_H_
