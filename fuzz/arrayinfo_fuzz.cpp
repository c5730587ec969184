// Fuzzes the array information parser. Property: the password, once it is
// at least 4 bytes long and not a part of what is logged around it, appears
// in no log line, neither as parsed nor as written in the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "hostenv/ZkLogSink.h"
#include "utils/CelerraUtils.h"

namespace {

const size_t npos = std::string::npos;

void CheckSecretNotLogged(const std::string& sSecret,
                          const std::string& sBefore, const std::string& sAfter,
                          const std::vector<ZkLogLine>& vLines) {
  // Anything holding "*" could be spelt across the "****" mask itself.
  if (sSecret.size() < 4 || sSecret.find('*') != npos) return;
  if (sBefore.find(sSecret) != npos || sAfter.find(sSecret) != npos) return;
  for (const ZkLogLine& o : vLines) FUZZ_CHECK(o.sText.find(sSecret) == npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  static FuzzOSUtil oOSUtil;
  pSink->Clear();
  const std::string sText = FuzzCString(pData, nSize);

  CelerraUtils oUtils(&oOSUtil, false);
  std::string sArrayId;
  _CelerraArrayCredentials oCreds;
  FUZZ_CHECK(oUtils.ParseArrayInfo(sText.c_str(), sArrayId, oCreds));
  const std::vector<ZkLogLine> vLines = pSink->Lines();
  FUZZ_CHECK(vLines.size() == 1);

  const std::string sKey = ",hostPassword:";
  const size_t nKey = sText.find(sKey);
  if (nKey == npos) {
    FUZZ_CHECK(oCreds.sHostPassword.empty());
    return 0;
  }
  const size_t nStart = nKey + sKey.size();
  size_t nEnd = sText.find(",engineName:", nKey + 1);
  if (nEnd == npos) nEnd = sText.find('}', nKey + 1);
  const std::string sRaw =
      sText.substr(nStart, nEnd == npos ? npos : nEnd - nStart);
  const std::string sBefore = "Array Info: [" + sText.substr(0, nStart);
  const std::string sAfter = (nEnd == npos ? "" : sText.substr(nEnd)) + "]";
  if (nEnd == npos) FUZZ_CHECK(oCreds.sHostPassword.empty());
  CheckSecretNotLogged(oCreds.sHostPassword, sBefore, sAfter, vLines);
  CheckSecretNotLogged(sRaw, sBefore, sAfter, vLines);
  return 0;
}
