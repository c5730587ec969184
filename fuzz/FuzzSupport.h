// Helpers shared by the libFuzzer targets: a host utility object with no
// configuration, the input as text, and a check that aborts the run.
//
// Each fuzz target is single-threaded; nothing here is thread-safe.
#ifndef ZK_FUZZ_FUZZSUPPORT_H_
#define ZK_FUZZ_FUZZSUPPORT_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/ZKSnapHost.h"

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

#define FUZZ_CHECK(cond)                                                    \
  do {                                                                      \
    if (!(cond)) {                                                          \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #cond);                                                  \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

#endif  // ZK_FUZZ_FUZZSUPPORT_H_
