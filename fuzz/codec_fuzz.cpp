// Fuzzes the key/value codec: key lookup, identifier parsing, unescaping,
// the tokenisers and the LUN serial derivation on any text, and the
// write-then-read round trip of identifiers whose values hold no ",", "{"
// or "}".
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "hostenv/ZkLogSink.h"
#include "utils/CelerraUtils.h"

namespace {

const size_t npos = std::string::npos;

void CheckLookups(const std::string& sText) {
  static const char* const apKeys[] = {"lunuuid", "type",   "kemtype",
                                       "path",    "vendor", ""};
  const bool bTrue = true;
  const bool bFalse = false;
  for (const char* pszKey : apKeys) {
    std::string sValue = "\x01untouched";
    const size_t nPos =
        CelerraUtils::GetJsonValue(sText, pszKey, sValue, bFalse, bTrue);
    if (nPos == npos) {
      FUZZ_CHECK(sValue == "\x01untouched");
    } else {
      FUZZ_CHECK(nPos <= sText.size());
      FUZZ_CHECK(sText.compare(nPos, sValue.size(), sValue) == 0);
    }
    std::string sDeformatted;
    CelerraUtils::GetJsonValue(sText, pszKey, sDeformatted, bTrue, bFalse);
  }
}

void CheckTokenisers(const std::string& sText) {
  size_t nPos = 0;
  size_t nTokens = 0;
  while (nPos != npos) {
    CelerraUtils::GetNextSeparatedValue(sText, nPos, '|');
    FUZZ_CHECK(++nTokens <= sText.size() + 1);
  }
  std::vector<std::string> v;
  FUZZ_CHECK(CelerraUtils::VectorizeString(sText, v, ','));
  std::string sJoined;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) sJoined += ',';
    sJoined += v[i];
  }
  FUZZ_CHECK(sJoined == sText);
}

void CheckEscaping(const std::string& sText) {
  const std::string sPlain = CelerraUtils::deformatString(sText, false);
  FUZZ_CHECK(sPlain == CelerraUtils::deformatString(sText, true));
  FUZZ_CHECK(sPlain.size() <= sText.size());
  FUZZ_CHECK(CelerraUtils::deformatString(CelerraUtils::formatString(sText),
                                          false) == sText);
}

// Fields separated by 0x01 in the input, in the record's declaration order.
void CheckRoundTrip(const std::string& sText) {
  std::vector<std::string> v(11);
  size_t nField = 0;
  for (char c : sText) {
    if (c == '\x01') {
      if (++nField == v.size()) break;
      continue;
    }
    if (c == ',' || c == '{' || c == '}') continue;
    v[nField] += c;
  }
  _CelerraSnapDeviceIdentifier oIn;
  std::string* apIn[] = {&oIn.sLunUUID,   &oIn.sTargetIdentifier,
                         &oIn.sType,      &oIn.sTargetHostName,
                         &oIn.sFiler,     &oIn.sVolume,
                         &oIn.sPath,      &oIn.sKemType,
                         &oIn.sVendor,    &oIn.sFSPath,
                         &oIn.sExportPath};
  for (size_t i = 0; i < v.size(); ++i) *apIn[i] = v[i];
  if (oIn.sVendor.empty()) oIn.sVendor = "celerra";
  if (oIn.sType.empty()) oIn.sType = "nfs";

  const std::string sId = CelerraUtils::FormDeviceIdentifider(oIn);
  FUZZ_CHECK(!sId.empty());
  _CelerraSnapDeviceIdentifier oOut;
  CelerraUtils::ParseDeviceIdentifier(sId, oOut);
  const std::string* apOut[] = {&oOut.sLunUUID,   &oOut.sTargetIdentifier,
                                &oOut.sType,      &oOut.sTargetHostName,
                                &oOut.sFiler,     &oOut.sVolume,
                                &oOut.sPath,      &oOut.sKemType,
                                &oOut.sVendor,    &oOut.sFSPath,
                                &oOut.sExportPath};
  for (size_t i = 0; i < v.size(); ++i) FUZZ_CHECK(*apIn[i] == *apOut[i]);
}

void CheckSerial(const std::string& sText) {
  static FuzzOSUtil oOSUtil;
  std::string sSerial = "\x01untouched";
  if (CelerraUtils::DeriveSerialFromUUID(sText, sSerial)) {
    FUZZ_CHECK(sSerial.size() <= 12);
    FUZZ_CHECK(sSerial.find('\0') == npos);
  } else {
    FUZZ_CHECK(sText.size() < 42 && sSerial == "\x01untouched");
  }
  CelerraUtils oUtils(&oOSUtil, true);
  std::string sArray;
  oUtils.GetScsiInfoForDevice(sText, sArray, sSerial);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // Captures (and so formats) every line, and keeps them off stderr.
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  const std::string sText = FuzzText(pData, nSize);
  CheckLookups(sText);
  _CelerraSnapDeviceIdentifier o;
  CelerraUtils::ParseDeviceIdentifier(sText, o);
  CheckTokenisers(sText);
  CheckEscaping(sText);
  CheckRoundTrip(sText);
  CheckSerial(sText);
  pSink->Clear();
  return 0;
}
