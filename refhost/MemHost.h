// SPDX-License-Identifier: Apache-2.0
// In-memory host objects: a SnapInfo record and a ZKOSUtil utility object
// that keep everything in memory, plus the array management database that
// SetArrayName/GetArrayInfo consult. Used by the tests and by the reference
// host command.
//
// MemSnapInfo honours the host's getter convention exactly: a buffer too
// small for the text (and its NUL) gets result 2 with the needed size
// written back to *pLength; 0 means the text is in the buffer. Switches
// make a getter answer 2 (or fail) a number of times, to exercise callers.
//
// Every call the plug-in makes is appended to Calls() ("SetStatus(2)",
// "SetMetaData(16,null)", ...) so tests can assert the order of calls.
//
// Not thread-safe: one record and one utility object belong to one call on
// one thread, as with the real host.
#ifndef ZK_REFHOST_MEMHOST_H_
#define ZK_REFHOST_MEMHOST_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/ZKSnapHost.h"

namespace zkref {

// One entry of the host's array management database.
struct ArrayEntry {
  std::string sName;                  // name the entry is registered under
  std::vector<std::string> vAliases;  // further names or IP addresses
  std::string sArrayInfo;             // text handed out by GetArrayInfo
};

// The host's array management database. Borrowed by the records; must
// outlive them.
class ArrayDatabase {
 public:
  void Add(const ArrayEntry& oEntry) { m_vEntries.push_back(oEntry); }
  void Clear() { m_vEntries.clear(); }
  // The entry registered under sNameOrAddress (its name or an alias, exact
  // match), or null.
  const ArrayEntry* Find(const std::string& sNameOrAddress) const;
  const std::vector<ArrayEntry>& Entries() const { return m_vEntries; }

  // Builds the array information text of an entry the way the host writes
  // it: {arrayId:..,vendorName:..,hostName:..,hostUserName:..,
  //      hostPassword:..,engineName:..} with values escaped.
  static std::string FormArrayInfo(const std::string& sArrayId,
                                   const std::string& sVendorName,
                                   const std::string& sHostName,
                                   const std::string& sUserName,
                                   const std::string& sPassword);
  // The same with the entry's own engine name in place of "celerra".
  static std::string FormArrayInfo(const std::string& sArrayId,
                                   const std::string& sVendorName,
                                   const std::string& sHostName,
                                   const std::string& sUserName,
                                   const std::string& sPassword,
                                   const std::string& sEngineName);

 private:
  std::vector<ArrayEntry> m_vEntries;
};

// Which getter a switch applies to.
enum class Getter {
  kSnapName,
  kArrayInfo,
  kHostIdentifier,
  kSourceDevice,
  kSnapDevice,
  kMetaData,
};

class MemSnapInfo : public ZKSO::SnapInfo {
 public:
  explicit MemSnapInfo(const ArrayDatabase* pDatabase = nullptr);
  virtual ~MemSnapInfo() = default;
  MemSnapInfo(const MemSnapInfo&) = default;
  MemSnapInfo& operator=(const MemSnapInfo&) = default;

  // ---- The host interface ----
  int GetSnapName(char* pBuffer, uint16_t* pLength) override;
  int SetSnapName(const char* pszName) override;
  int GetArrayInfo(char* pBuffer, uint16_t* pLength) override;
  int SetArrayName(const char* pszNameOrAddress) override;
  int GetHostIdentifier(char* pBuffer, uint16_t* pLength) override;
  ZKSO::SnapStatus GetStatus() override;
  int SetStatus(int nStatus) override;
  int GetSourceDevice(char* pBuffer, uint16_t* pLength) override;
  int SetSourceDevice(const char* pszIdentifier) override;
  int GetSnapDevice(char* pBuffer, uint16_t* pLength) override;
  int SetSnapDevice(const char* pszSnapDevice) override;
  int GetMetaData(int nType, char* pBuffer, uint16_t* pLength) override;
  int SetMetaData(int nType, const char* pszValue) override;
  int SetJPR(int nMessageId, const char* pszText) override;
  int LogMessage(int nLevel, const char* pszText) override;
  int Log(int nLevel, const char* pszTag, const char* pszFormat, ...) override
      ZK_PRINTF_FORMAT(4, 5);
  int GetIntValue(int nValueId, int* pValue) override;

  // ---- Record content (public: tests and the catalog set and read it) ----
  std::string sSnapName;
  std::string sSourceDevice;
  std::string sSnapDevice;
  std::string sHostIdentifier;
  std::string sBoundArray;  // entry name bound by SetArrayName; "" = none
  std::map<int, std::string> mMetaData;
  std::map<int, int> mIntValues;  // GetIntValue answers; absent = failure
  int nStatus = ZKSO::SNAP_STATUS_UNKNOWN;
  std::vector<int> vStatusHistory;  // every SetStatus value, in order
  int nJPRId = 0;                   // last reason message
  std::string sJPRText;
  std::vector<std::pair<int, std::string>> vJPRHistory;
  struct JobLogLine {
    int nLevel;
    std::string sTag;  // empty for LogMessage
    std::string sText;
  };
  std::vector<JobLogLine> vJobLog;

  // ---- Switches and observation ----
  // The next nTimes calls of the getter answer 2 with a needed size of
  // nNeeded (0: the real size, which then fits).
  void AnswerTooSmall(Getter eGetter, int nTimes, uint16_t nNeeded = 0);
  // The next nTimes calls of the getter fail with result 1 (-1: always).
  void FailGetter(Getter eGetter, int nTimes = -1);
  // SetArrayName answers unknown for every name (the database is ignored).
  bool bRefuseArrayNames = false;
  // How often each getter was called.
  int CallCount(Getter eGetter) const;
  const std::vector<std::string>& Calls() const { return m_vCalls; }
  void ClearCalls() { m_vCalls.clear(); }
  // True when some job log line's text contains sNeedle.
  bool JobLogContains(const std::string& sNeedle) const;

 private:
  int Answer(Getter eGetter, const std::string& sValue, char* pBuffer,
             uint16_t* pLength);

  const ArrayDatabase* m_pDatabase;  // borrowed, may be null
  struct Switch {
    int nTooSmall = 0;
    uint16_t nNeeded = 0;
    int nFail = 0;
    int nCalls = 0;
  };
  std::map<Getter, Switch> m_mSwitches;
  std::vector<std::string> m_vCalls;
};

class MemOSUtil : public ZKSO::ZKOSUtil {
 public:
  explicit MemOSUtil(ZKUint64 nJobId = 0) : m_nJobId(nJobId) {}
  virtual ~MemOSUtil() = default;

  int GetConfigString(const char* pszSection, const char* pszKey, char* pBuffer,
                      int nSize) override;
  bool GetConfigInt(const char* pszSection, const char* pszKey,
                    int* pValue) override;
  ZKUint64 GetJobId() override { return m_nJobId; }

  void SetJobId(ZKUint64 nJobId) { m_nJobId = nJobId; }
  // Key in the default section ("" section name).
  void SetConfig(const std::string& sKey, const std::string& sValue,
                 const std::string& sSection = "");
  void ClearConfig() { m_mConfig.clear(); }
  const std::map<std::pair<std::string, std::string>, std::string>& Config()
      const {
    return m_mConfig;
  }

 private:
  ZKUint64 m_nJobId;
  std::map<std::pair<std::string, std::string>, std::string> m_mConfig;
};

}  // namespace zkref

#endif  // ZK_REFHOST_MEMHOST_H_
