// SPDX-License-Identifier: Apache-2.0
// CelerraUtils: the key/value string codec of device identifiers (static
// members) and host data helpers bound to one task's host utility object
// (instance members).
//
// Key/value strings: "{" key ":" value ("," key ":" value)* "}", no quotes,
// no blanks; values escaped by formatString. Device identifiers, array
// information texts and VMware host identifiers all use this format.
//
// The static members keep no state and may be called from any thread. An
// instance belongs to the thread that made it; it borrows the host utility
// object, which must outlive it and must not be null.
#ifndef ZK_UTILS_CELERRAUTILS_H_
#define ZK_UTILS_CELERRAUTILS_H_

#include <string>
#include <vector>

#include "host/ZKSnapHost.h"

// Kind of a source device; single bits.
enum _CelerraSourceDeviceType : int32_t {
  CELERRA_DEVICE_LUN = 1,
  CELERRA_DEVICE_NFS = 2,
  CELERRA_DEVICE_UNC = 4,
  CELERRA_DEVICE_NAS = 8,
};

// Control host and login of a file server, from the host's array
// management database. The password is never logged.
struct _CelerraArrayCredentials {
  std::string sHostName;
  std::string sHostUserName;
  std::string sHostPassword;
};

// A parsed device identifier. Owns its strings; copied by value.
struct _CelerraSnapDeviceIdentifier {
  _CelerraSnapDeviceIdentifier() = default;
  void clear();

  std::string sLunUUID;           // "lunuuid"
  std::string sTargetIdentifier;  // "targetidentifier"
  std::string sType;              // "type"
  std::string sTargetHostName;    // "targethostname"
  std::string sFiler;             // "filer"
  std::string sVolume;            // "volume"
  std::string sPath;              // "path"
  std::string sKemType;           // "kemtype"
  std::string sVendor;            // "vendor"
  std::string sFSPath;            // "fspath"
  std::string sExportPath;        // "exportpath"
};

class CelerraUtils {
 public:
  // Reads the job id from pOSUtil (REQUIRES: pOSUtil != nullptr; borrowed).
  CelerraUtils(ZKSO::ZKOSUtil* pOSUtil, const bool& bIsVMware);

  // ---- Codec (static) ----

  // Escapes one value: \b \t \n \f \r, double quote, slash, backslash.
  static std::string formatString(const std::string& sValue);
  // Inverse of formatString. bKeepUnescapedSlash is true only for "lunuuid"
  // values; either way an unescaped "/" is kept as an ordinary byte. A lone
  // trailing backslash is dropped.
  static std::string deformatString(const std::string& sText,
                                    bool bKeepUnescapedSlash);
  // Appends key:formatString(value) to a pair list (no braces); nothing when
  // key or value is empty.
  static void addJsonElem(std::string& sTarget, const std::string& sKey,
                          const std::string& sValue);
  // Writes an identifier; empty when the vendor is empty or no other field
  // is set.
  static std::string FormDeviceIdentifider(
      const _CelerraSnapDeviceIdentifier& oIdentifier);
  // Finds "{key:" or ",key:" and returns the value's start position, or npos
  // (value untouched) when the key or the value's end is missing. Callers
  // pass bLogValue false for any text holding a password.
  static size_t GetJsonValue(const std::string& sSource,
                             const std::string& sKey, std::string& sValue,
                             const bool& bDeformat, const bool& bLogValue);
  // Fills the record from an identifier; an empty text leaves it untouched.
  static void ParseDeviceIdentifier(const std::string& sIdentifier,
                                    _CelerraSnapDeviceIdentifier& oIdentifier);
  // Next token of a separated list; nPos starts at 0 and ends at npos.
  static std::string GetNextSeparatedValue(const std::string& sText,
                                           size_t& nPos, char cSeparator);
  // Splits at every separator, empty pieces included. Always true.
  static bool VectorizeString(const std::string& sText,
                              std::vector<std::string>& vList, char cSeparator);

  // ---- Host data helpers ----

  // Parses an array information text; the password may hold "," and is
  // masked as "****" in the log line. Always true.
  bool ParseArrayInfo(const char* pszArrayInfo, std::string& sArrayId,
                      _CelerraArrayCredentials& oCredentials);
  // First IPv4 address of a host, as dotted decimal text.
  bool GetIPAddressForHost(std::string& sAddress, const std::string& sHostName);
  // Access, read-write and root host lists of an NFS export: configured
  // lists, then the mounting host's address, then the further hosts.
  // Always true.
  bool GetMountHostIPsForNFSShare(std::vector<std::string>& vAccessHosts,
                                  std::vector<std::string>& vRWHosts,
                                  std::vector<std::string>& vRootHosts,
                                  const std::vector<std::string>& vFurtherHosts,
                                  const std::string& sMountHost);
  // Array name and LUN serial number of a VMware LUN device.
  bool GetScsiInfoForDevice(const std::string& sIdentifier,
                            std::string& sArrayName, std::string& sSerial);
  bool GetArrayInfoForDeviceVMware(const std::string& sIdentifier,
                                   std::string& sArrayName,
                                   std::string& sSerial);
  std::string GetError() const { return m_sError; }

  // The array information text with the value of every "hostPassword" pair
  // replaced by "****" (to the end of the text when it has no end). A key
  // counts only as a whole key, right after "{" or ","; text that merely
  // contains "hostPassword:" (oldhostPassword:x) is left as it is.
  // Safe to log, and the text every other key is read from, so that
  // key-like text inside a password is never taken for a value.
  static std::string MaskArrayInfoPassword(const std::string& sArrayInfo);
  // A VMware host identifier with every character of each "password" value
  // replaced by "*", up to the last "}" (a password may hold "}"). As above,
  // only a whole key right after "{" or "," counts (not esx-password:1).
  static std::string MaskHostIdentifierPassword(const std::string& sText);
  // The host identifier with each "password" value cut out, up to the
  // next ",vcname:", ",esxname:" or ",vmkernel:" pair or the last "}": the
  // text the identifier's other keys are read from.
  static std::string StripHostIdentifierPassword(const std::string& sText);

  // Logs a VMware host identifier with its passwords masked
  // (MaskHostIdentifierPassword). Always true.
  static bool PrintVMWareHostIdentifier(const std::string& sHostIdentifier);
  // "native_celerra" 8, "nfs" 2, "unc" 4, anything else 1; case-sensitive.
  static _CelerraSourceDeviceType StringToDeviceType(const std::string& sType);

  // Serial number hidden in a LUN UUID: characters 18..41 read as 12 hex
  // byte values, up to the first zero byte. False when the UUID is shorter
  // than 42 characters.
  static bool DeriveSerialFromUUID(const std::string& sLunUUID,
                                   std::string& sSerial);

 private:
  ZKSO::ZKOSUtil* m_pOSUtil;  // borrowed
  bool m_bIsVMware;
  int64_t m_nJobId;
  std::string m_sError;
};

// Upper-cases every byte in place (default locale).
void cse_toupper(std::string& s);
// Position of sPattern in sText ignoring case; npos when absent.
size_t cse_findi(std::string sText, std::string sPattern);

#endif  // ZK_UTILS_CELERRAUTILS_H_
