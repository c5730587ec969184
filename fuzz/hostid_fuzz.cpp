// Fuzzes the masking of VMware host identifiers. Property: the logged copy
// has the input's length, differs from it only by "*", and every byte after
// a "password:" up to the next "}" is masked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "hostenv/ZkLogSink.h"
#include "utils/CelerraUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static ZkCaptureLogSink* pSink = new ZkCaptureLogSink();
  pSink->Clear();
  const std::string sText = FuzzCString(pData, nSize);
  FUZZ_CHECK(CelerraUtils::PrintVMWareHostIdentifier(sText));
  const std::vector<ZkLogLine> vLines = pSink->Lines();
  FUZZ_CHECK(vLines.size() == 1);

  const std::string sHead = "VmWare Host Identifier [";
  const std::string sTail = "].";
  const std::string& sLine = vLines[0].sText;
  FUZZ_CHECK(sLine.size() == sHead.size() + sText.size() + sTail.size());
  FUZZ_CHECK(sLine.compare(0, sHead.size(), sHead) == 0);
  FUZZ_CHECK(sLine.compare(sLine.size() - sTail.size(), std::string::npos,
                           sTail) == 0);
  const std::string sLogged = sLine.substr(sHead.size(), sText.size());
  for (size_t i = 0; i < sText.size(); ++i) {
    FUZZ_CHECK(sLogged[i] == sText[i] || sLogged[i] == '*');
  }
  const std::string sKey = "password:";
  size_t nKey = sText.find(sKey);
  while (nKey != std::string::npos) {
    size_t i = nKey + sKey.size();
    for (; i < sText.size() && sText[i] != '}'; ++i) {
      FUZZ_CHECK(sLogged[i] == '*');
    }
    nKey = sText.find(sKey, i);
  }
  return 0;
}
