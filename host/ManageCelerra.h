// SPDX-License-Identifier: Apache-2.0
// The array management client: every command the plug-in sends to a file
// server goes through ManageCelerra (libzkManageCelerra).
//
// Each command returns true on success. A failed command records a
// CelerraError that GetLastError() returns; reading it does not clear it,
// and a later success does not clear it either.
//
// A client is a small value: default-constructible, copy-assignable. It holds
// the job id, the control host and login given by SetControlHostInfo, and its
// last error. One client is used by one thread at a time; many clients may be
// used from many threads at once.
//
// Strings are byte strings. Arguments documented as "in" are read only, even
// where the signature takes a non-const reference.
#ifndef ZK_HOST_MANAGECELERRA_H_
#define ZK_HOST_MANAGECELERRA_H_

#include <cstdint>
#include <list>
#include <string>
#include <vector>

// Storage type of a file system. Opaque to the plug-in: taken from
// GetPFSInfo, stored as decimal text, passed back unchanged. 0 is unset.
enum eCelerraStgType : int32_t {
  CELERRA_STG_UNSET = 0,
  CELERRA_STG_UXFS = 1,
  CELERRA_STG_MGFS = 2,
  CELERRA_STG_RAWFS = 3,
};

struct CelerraError {
  int32_t nStatus = 0;
  std::string sComponent;
  std::string sFacility;
  std::string sMessage;
  std::string sMessageCode;
  std::string sSeverity;
  std::string sDescription;
  std::string sAction;
  std::string sDiagnostics;
};

struct CelerraChkPtInfo {
  std::string sChkptId;
  std::string sBaselineChkptId;  // empty for a plain read-only checkpoint
  std::string sPFSId;            // file system the checkpoint belongs to
  std::string sChkptName;
};

struct CelerraCifsServer_t {
  std::string sMoverId;     // data mover or VDM id
  std::string sName;        // CIFS server name
  std::string sInterfaces;  // text holding the server's IP addresses
  std::string sIsVdm;       // "true" for a VDM
};

struct CelerraMountPointsInfo_t {
  CelerraMountPointsInfo_t() { clear(); }
  void clear() {
    sMoverId.clear();
    sPFSId.clear();
    sMountPath.clear();
    sOptions.clear();
  }
  std::string sMoverId;
  std::string sPFSId;
  std::string sMountPath;
  std::string sOptions;
};

// Message code of a GetNFSInfo or DeleteNFSShare refused because no export
// has that path (as the file server answers it).
constexpr char kCelerraNoExportCode[] = "13691322370";
// Message code of a command whose reply never came: it may have taken
// effect. Any other failure is an answer: the command did not.
constexpr char kCelerraReplyLostCode[] = "13958643715";

class ManageCelerra {
 public:
  ManageCelerra();
  explicit ManageCelerra(unsigned long long nJobId);

  // Control host and login for every later command. Result unread by callers.
  bool SetControlHostInfo(std::string sControlHost, std::string sUserName,
                          std::string sPassword);

  // Read-only checkpoint of a file system; fills sChkptId.
  bool CreateROChkPt(std::string sPFSId, eCelerraStgType eStorageType,
                     std::string sStorageExtra, std::string sChkptName,
                     std::string& sChkptId);
  // Writable checkpoint named sRWChkptName of the read-only checkpoint
  // sBaselineChkptId (in) of that file system; fills sRWChkptId.
  bool CreateRWChkPt(std::string sPFSId, eCelerraStgType eStorageType,
                     std::string sStorageExtra, std::string sRWChkptName,
                     bool bReserved, std::string& sBaselineChkptId,
                     std::string& sRWChkptId);
  // Deletes checkpoint sChkptId. With bDeleteBaseline, sChkptId is a
  // writable checkpoint of sBaselineChkptId and the baseline goes too.
  bool DeleteChkPt(std::string sChkptId, std::string sBaselineChkptId,
                   bool bDeleteBaseline);
  // Restores the file system from the checkpoint; name, id and file system
  // must agree.
  bool RestorePFSFromChkPt(std::string sChkptName, std::string sChkptId,
                           std::string sPFSId);
  // Replaces the list's content with the checkpoints of sPFSId, or of every
  // file system when sPFSId is empty.
  bool GetChkPointsInfo(std::string sPFSId,
                        std::list<CelerraChkPtInfo>& lChkpts);
  // File system facts; sPFSId is in.
  bool GetPFSInfo(std::string& sPFSId, eCelerraStgType& eStorageType,
                  std::string& sStorageExtra, std::string& sSaveVolume,
                  std::string& sFSName, std::string& sVdmId, bool& bOnVdm);
  bool GetCifsShareInfo(std::string sShareName, std::string& sPFSId,
                        bool& bOnVdm, std::string& sMoverId,
                        std::string& sSharePath,
                        std::vector<std::string>& vCifsServers);
  // The export whose path equals sExportPath exactly; sPFSId is the id of
  // the file system or checkpoint the path exports. When there is none
  // the command fails with message code kCelerraNoExportCode, which tells
  // it apart from a failure to ask.
  bool GetNFSInfo(std::string sExportPath, std::string& sPFSId, bool& bOnVdm,
                  std::string& sMoverId, std::vector<std::string>& vAccessHosts,
                  std::vector<std::string>& vRWHosts,
                  std::vector<std::string>& vRootHosts);
  // Replaces the vector's content with every CIFS server (sFilter unused).
  bool GetCifsServers(std::vector<CelerraCifsServer_t>& vServers,
                      const std::string& sFilter);
  // True only when sPath is exactly a mount point on that mover or VDM.
  bool GetMountPointInfo(CelerraMountPointsInfo_t& oInfo, std::string sMoverId,
                         std::string sPath, const bool& bOnVdm);
  // The data mover hosting a VDM; empty when there is none.
  bool GetMoverForVdm(const std::string& sVdmId, std::string& sMoverId);
  // Exports sPath (mounted on that mover) to the three host lists (in).
  bool CreateNFSShare(std::string sPath, std::string sMoverId, bool bReserved,
                      std::vector<std::string>& vAccessHosts,
                      std::vector<std::string>& vRWHosts,
                      std::vector<std::string>& vRootHosts);
  bool DeleteNFSShare(std::string sPath, std::string sMoverId);

  CelerraError GetLastError();

  // Sinks for unwanted out-parameters.
  static std::string sDummyVar;
  static bool bDummyVar;

  // Accessors used by the client library itself.
  unsigned long long GetJobId() const { return m_nJobId; }
  const std::string& GetControlHost() const { return m_sControlHost; }
  const std::string& GetUserName() const { return m_sUserName; }
  const std::string& GetPassword() const { return m_sPassword; }
  void SetLastError(const CelerraError& oError) { m_oLastError = oError; }

 private:
  unsigned long long m_nJobId;
  std::string m_sControlHost;
  std::string m_sUserName;
  std::string m_sPassword;
  CelerraError m_oLastError;
};

// Export path of the writable checkpoint sRWChkptId (by name when the id is
// empty) of file system sPFSId, whose source file system or export is at
// sSourcePath.
bool Celerra_GetSnapDeviceNameWithManageCelerra(ManageCelerra& oClient,
                                                std::string sSourcePath,
                                                std::string sPFSId,
                                                std::string sRWChkptId,
                                                const std::string& sRWChkptName,
                                                std::string& sSharePath);

#endif  // ZK_HOST_MANAGECELERRA_H_
