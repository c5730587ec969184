// SPDX-License-Identifier: Apache-2.0
// Fuzzes the readers of array information texts (as the host's array
// management database hands them out):
//   - CelerraUtils::ParseArrayInfo: one log line; a text without a
//     "hostPassword" pair (the key right after "{" or ",") reads exactly as
//     the codec reads it and is logged unchanged;
//   - the vendor name check of a device (GetArrayCredsFromDB on a record
//     bound to an entry holding the text): it accepts exactly the two
//     vendor names, fills the credentials as ParseArrayInfo does, and keeps
//     the device's identifier when it refuses;
//   - for both: no password, as the masking rule delimits it (from a
//     "hostPassword" key to the next ",engineName:", else the next "}",
//     else the end of the text), appears in any log line, job log line or
//     reason message, neither as written nor unescaped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "device/CelerraSnapDevice.h"
#include "hostenv/ZkLogSink.h"
#include "refhost/MemHost.h"
#include "utils/CelerraUtils.h"

// Reads and sets the members GetArrayCredsFromDB fills. The device classes
// befriend a class of this name for inspection; this target defines its own.
class CelerraSnapDeviceTestPeer {
 public:
  explicit CelerraSnapDeviceTestPeer(CelerraSnapDevice* pDevice)
      : m_pDevice(pDevice) {}
  std::string& ArrayIdentifier() { return m_pDevice->m_sArrayIdentifier; }
  _CelerraArrayCredentials& Credentials() {
    return m_pDevice->m_oArrayCredentials;
  }

 private:
  CelerraSnapDevice* m_pDevice;  // borrowed
};

namespace {

const size_t npos = std::string::npos;
const char kVendorName[] = "Dell EMC VNX / Celerra";
const char kVendorNameOld[] = "EMC VNX / Celerra";
const char kEntryName[] = "cs-fuzz";

// The fixed texts of every line these readers write: a secret found in
// them cannot be told apart.
const char kFixedTexts[] =
    "Array Info: []\x01Vendor Name [%s]. Expected [Dell EMC VNX / Celerra] "
    "or [EMC VNX / Celerra]. Please correct the array entry\x01"
    "Error:Unable to get the login credentials.\x01"
    "Error:Unable to Parse credentials.\x01"
    "Get snap information for data type [4]";

// Every text the run wrote that a user or a log reader may see.
std::vector<std::string> SeenTexts(const ZkCaptureLogSink& oSink,
                                   const zkref::MemSnapInfo* pRecord) {
  std::vector<std::string> v;
  for (const ZkLogLine& o : oSink.Lines()) v.push_back(o.sText);
  if (pRecord != nullptr) {
    for (const auto& o : pRecord->vJobLog) v.push_back(o.sText);
    for (const auto& o : pRecord->vJPRHistory) v.push_back(o.second);
  }
  return v;
}

void CheckPasswordsNotSeen(const std::string& sText,
                           const std::vector<std::string>& vSeen) {
  FuzzCheckPasswordsNotSeen(sText, FuzzArrayInfoPasswordSpans(sText),
                            kFixedTexts, vSeen);
}

// The codec's reading of a key; empty when absent.
std::string CodecValue(const std::string& sText, const char* pszKey) {
  std::string sValue;
  const bool bDeformat = true;
  const bool bLogValue = false;
  CelerraUtils::GetJsonValue(sText, pszKey, sValue, bDeformat, bLogValue);
  return sValue;
}

void CheckParseArrayInfo(const std::string& sText, ZkCaptureLogSink& oSink) {
  static FuzzOSUtil oOSUtil;
  oSink.Clear();
  CelerraUtils oUtils(&oOSUtil, false);
  std::string sArrayId = "stale";
  _CelerraArrayCredentials oCreds{"stale", "stale", "stale"};
  FUZZ_CHECK(oUtils.ParseArrayInfo(sText.c_str(), sArrayId, oCreds));
  const std::vector<ZkLogLine> vLines = oSink.Lines();
  FUZZ_CHECK(vLines.size() == 1);
  CheckPasswordsNotSeen(sText, SeenTexts(oSink, nullptr));

  if (!FuzzArrayInfoPasswordSpans(sText).empty()) return;
  // No password pair: nothing to mask, and keys that merely contain the
  // letters of one read as the codec reads them.
  FUZZ_CHECK(vLines[0].sText == "Array Info: [" + sText + "]");
  FUZZ_CHECK(sArrayId == CodecValue(sText, "arrayId"));
  FUZZ_CHECK(oCreds.sHostName == CodecValue(sText, "hostName"));
  FUZZ_CHECK(oCreds.sHostUserName == CodecValue(sText, "hostUserName"));
  FUZZ_CHECK(oCreds.sHostPassword.empty());
}

void CheckCredsFromDB(const std::string& sText, ZkCaptureLogSink& oSink) {
  zkref::ArrayDatabase oDatabase;
  zkref::ArrayEntry oEntry;
  oEntry.sName = kEntryName;
  oEntry.sArrayInfo = sText;
  oDatabase.Add(oEntry);
  zkref::MemSnapInfo oRecord(&oDatabase);
  oRecord.sSourceDevice =
      "{type:nfs,lunuuid:\\/fs1,targethostname:filer1,vendor:celerra}";
  oRecord.sBoundArray = kEntryName;
  zkref::MemOSUtil oOSUtil(77);

  CelerraSnapDevicePtr pDevice(
      CelerraSnapDevice::GetInstance(&oRecord, &oOSUtil, SNAP_OP_DELETE));
  FUZZ_CHECK(pDevice != nullptr);
  // Only the lines of the check itself: making the device logs its fixed
  // source identifier.
  oSink.Clear();
  CelerraSnapDeviceTestPeer oPeer(pDevice.get());
  oPeer.ArrayIdentifier() = "device-id";
  const bool bOk = pDevice->GetArrayCredsFromDB();
  CheckPasswordsNotSeen(sText, SeenTexts(oSink, &oRecord));

  // The vendor is read with the password values masked, so that key-like
  // text inside a password never counts.
  std::string sVendor;
  const size_t nVendor =
      CelerraUtils::GetJsonValue(CelerraUtils::MaskArrayInfoPassword(sText),
                                 "vendorName", sVendor, true, false);
  const bool bAccepted = !sText.empty() && nVendor != npos &&
                         (sVendor == kVendorName || sVendor == kVendorNameOld);
  FUZZ_CHECK(bOk == bAccepted);
  if (FuzzArrayInfoPasswordSpans(sText).empty() && !sText.empty()) {
    const std::string sPlain = CodecValue(sText, "vendorName");
    FUZZ_CHECK(bOk == (sPlain == kVendorName || sPlain == kVendorNameOld));
  }
  if (!bOk) {
    FUZZ_CHECK(oPeer.ArrayIdentifier() == "device-id");
    FUZZ_CHECK(!oRecord.vJobLog.empty());
    return;
  }
  static FuzzOSUtil oUtilOSUtil;
  CelerraUtils oUtils(&oUtilOSUtil, false);
  std::string sArrayId;
  _CelerraArrayCredentials oCreds;
  oUtils.ParseArrayInfo(sText.c_str(), sArrayId, oCreds);
  FUZZ_CHECK(oPeer.ArrayIdentifier() == sArrayId);
  FUZZ_CHECK(oPeer.Credentials().sHostName == oCreds.sHostName);
  FUZZ_CHECK(oPeer.Credentials().sHostUserName == oCreds.sHostUserName);
  FUZZ_CHECK(oPeer.Credentials().sHostPassword == oCreds.sHostPassword);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  // The host hands the text over as a C string.
  const std::string sText = FuzzCString(pData, nSize);
  CheckParseArrayInfo(sText, *pSink);
  CheckCredsFromDB(sText, *pSink);
  pSink->Clear();
  return 0;
}
