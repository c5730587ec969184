// SPDX-License-Identifier: Apache-2.0
// Helpers shared by the libFuzzer targets: a host utility object with no
// configuration, the input as text or as separated fields, a check of
// secrets against captured log lines, and a check that stops the run.
//
// The same target sources are also built into the ordinary test suite
// (tests/fuzz), which replays saved inputs through LLVMFuzzerTestOneInput.
// There ZK_FUZZ_REPLAY is defined and a failed check throws
// FuzzCheckFailure, so that the test names the input; under libFuzzer a
// failed check aborts, and libFuzzer saves the input as a crash.
//
// Each fuzz target is single-threaded; nothing here is thread-safe.
#ifndef ZK_FUZZ_FUZZSUPPORT_H_
#define ZK_FUZZ_FUZZSUPPORT_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/ZKSnapHost.h"
#include "utils/CelerraUtils.h"

class FuzzOSUtil final : public ZKSO::ZKOSUtil {
 public:
  int GetConfigString(const char*, const char*, char* pBuffer,
                      int nSize) override {
    if (nSize > 0) pBuffer[0] = '\0';
    return 1;
  }
  bool GetConfigInt(const char*, const char*, int*) override { return false; }
  ZKUint64 GetJobId() override { return 77; }
};

inline std::string FuzzText(const uint8_t* pData, size_t nSize) {
  return std::string(reinterpret_cast<const char*>(pData), nSize);
}

// The text a host hands over as a C string: up to the first NUL.
inline std::string FuzzCString(const uint8_t* pData, size_t nSize) {
  std::string s = FuzzText(pData, nSize);
  return std::string(s.c_str());
}

// sText cut at every cSeparator into exactly nFields fields: missing ones
// are empty, and the last one keeps any further separators.
inline std::vector<std::string> FuzzFields(const std::string& sText,
                                           char cSeparator, size_t nFields) {
  std::vector<std::string> v(nFields);
  size_t nField = 0;
  for (char c : sText) {
    if (c == cSeparator && nField + 1 < nFields) {
      ++nField;
      continue;
    }
    v[nField] += c;
  }
  return v;
}

// Whether a secret can be told apart in log lines: long enough, free of the
// "*" of masks and of the brackets that join values to the fixed texts of
// lines, and found nowhere in sContext (the input around the secret and the
// fixed texts of the lines), where a line could take it from legitimately.
inline bool FuzzTraceable(const std::string& sSecret,
                          const std::string& sContext) {
  return sSecret.size() >= 4 &&
         sSecret.find_first_of("*[]") == std::string::npos &&
         sContext.find(sSecret) == std::string::npos;
}

// ---- Where passwords stand ----
//
// A key counts only as a whole key: right after "{" or ",".

using FuzzSpans = std::vector<std::pair<size_t, size_t>>;  // [start, end)

inline bool FuzzStartsPair(const std::string& sText, size_t nKey) {
  return nKey > 0 && (sText[nKey - 1] == '{' || sText[nKey - 1] == ',');
}

// The next whole key sKey at or after nFrom; npos when there is none.
inline size_t FuzzFindPairKey(const std::string& sText, const std::string& sKey,
                              size_t nFrom) {
  for (size_t n = sText.find(sKey, nFrom); n != std::string::npos;
       n = sText.find(sKey, n + 1)) {
    if (FuzzStartsPair(sText, n)) return n;
  }
  return std::string::npos;
}

// Password values of an array information text: from each "hostPassword"
// key to the next ",engineName:", else the next "}", else the end.
inline FuzzSpans FuzzArrayInfoPasswordSpans(const std::string& sText) {
  const std::string sKey = "hostPassword:";
  FuzzSpans v;
  for (size_t nKey = FuzzFindPairKey(sText, sKey, 0);
       nKey != std::string::npos;) {
    size_t nEnd = sText.find(",engineName:", nKey + 1);
    if (nEnd == std::string::npos) nEnd = sText.find('}', nKey + 1);
    if (nEnd == std::string::npos) nEnd = sText.size();
    v.emplace_back(nKey + sKey.size(), nEnd);
    nKey = FuzzFindPairKey(sText, sKey, nEnd);
  }
  return v;
}

// Password values of a VMware host identifier as the codec delimits them:
// from each "password" key to the next "," or "}", else the end.
inline FuzzSpans FuzzHostIdPasswordSpans(const std::string& sText) {
  const std::string sKey = "password:";
  FuzzSpans v;
  for (size_t nKey = FuzzFindPairKey(sText, sKey, 0);
       nKey != std::string::npos;) {
    const size_t nStart = nKey + sKey.size();
    size_t nEnd = sText.find_first_of(",}", nStart);
    if (nEnd == std::string::npos) nEnd = sText.size();
    v.emplace_back(nStart, nEnd);
    nKey = FuzzFindPairKey(sText, sKey, nEnd);
  }
  return v;
}

// sText with each span replaced by 0x01: what may be logged around the
// passwords.
inline std::string FuzzOutside(const std::string& sText,
                               const FuzzSpans& vSpans) {
  std::string sOutside;
  size_t nCopied = 0;
  for (const auto& o : vSpans) {
    sOutside.append(sText, nCopied, o.first - nCopied);
    sOutside += '\x01';
    nCopied = o.second;
  }
  if (nCopied < sText.size())
    sOutside.append(sText, nCopied, std::string::npos);
  return sOutside;
}

struct FuzzCheckFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Stops the run: throws in the replaying tests, aborts under libFuzzer.
[[noreturn]] inline void FuzzFail(const char* pszFile, int nLine,
                                  const char* pszCondition,
                                  const std::string& sDetail) {
  std::string sText = std::string(pszFile) + ":" + std::to_string(nLine) +
                      ": check failed: " + pszCondition;
  if (!sDetail.empty()) sText += " (" + sDetail + ")";
#ifdef ZK_FUZZ_REPLAY
  throw FuzzCheckFailure(sText);
#else
  std::fprintf(stderr, "%s\n", sText.c_str());
  std::abort();
#endif
}

// FUZZ_CHECK_MSG adds a text (evaluated only on failure) to the report.
#define FUZZ_CHECK_MSG(cond, detail)                          \
  do {                                                        \
    if (!(cond)) FuzzFail(__FILE__, __LINE__, #cond, detail); \
  } while (0)
#define FUZZ_CHECK(cond) FUZZ_CHECK_MSG(cond, std::string())

// Fails when a password of sText (at vSpans), raw or with its escapes read,
// stands in one of vSeen. Only a password that is FuzzTraceable counts: one
// that the text around the passwords, read either way, or sFixedTexts (the
// fixed texts the code under test may write) cannot spell.
inline void FuzzCheckPasswordsNotSeen(const std::string& sText,
                                      const FuzzSpans& vSpans,
                                      const std::string& sFixedTexts,
                                      const std::vector<std::string>& vSeen) {
  const std::string sOutside = FuzzOutside(sText, vSpans);
  const std::string sContext = sOutside + '\x01' +
                               CelerraUtils::deformatString(sOutside, false) +
                               '\x01' + sFixedTexts;
  for (const auto& o : vSpans) {
    const std::string sRaw = sText.substr(o.first, o.second - o.first);
    for (const std::string& sSecret :
         {sRaw, CelerraUtils::deformatString(sRaw, false)}) {
      if (!FuzzTraceable(sSecret, sContext)) continue;
      for (const std::string& sSeen : vSeen) {
        FUZZ_CHECK_MSG(sSeen.find(sSecret) == std::string::npos,
                       "[" + sSecret + "] in [" + sSeen + "]");
      }
    }
  }
}

#endif  // ZK_FUZZ_FUZZSUPPORT_H_
