// SPDX-License-Identifier: Apache-2.0
// Each error line of a call is shown and kept once: with the records it
// names, or, when it names none, once for the call as a whole.
#include <string>

#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

size_t Count(const std::string& s, const std::string& sNeedle) {
  size_t n = 0;
  for (size_t p = s.find(sNeedle); p != std::string::npos;
       p = s.find(sNeedle, p + 1)) {
    ++n;
  }
  return n;
}

// Three prepared records, none snapped: the delete fails on all of them.
TEST_F(ZksnapTest, EachErrorLineOnce) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "--all"}).nExit);
  RunResult r = Z({"--json", "delete", "--all"});
  EXPECT_EQ(4, r.nExit) << r.sOut << r.sErr;
  EXPECT_EQ(1u, Count(r.sOut, "\"text\": \"Failed to do PreOperation\""))
      << r.sOut;
  EXPECT_TRUE(Has(r.sOut,
                  "\"record\": \"\",\n      \"tag\": \"ZKSO::ResultCode "
                  "zkso_deleteSnaps"))
      << r.sOut;
  // zksnap's own line, once per record it names.
  for (const char* psz : {"nfs1", "nas1", "vm1"}) {
    EXPECT_EQ(1u, Count(r.sOut, std::string("\"record\": \"") + psz +
                                    "\",\n      \"tag\": \"zksnap\""))
        << r.sOut;
  }
  r = Z({"delete", "--all"});
  EXPECT_EQ(1u, Count(r.sOut, "Failed to do PreOperation")) << r.sOut;
  EXPECT_TRUE(Has(r.sOut, "(the call)  Failed to do PreOperation")) << r.sOut;
  // The job log keeps it once per call (two calls).
  r = Z({"log"});
  EXPECT_EQ(2u, Count(r.sOut, "Failed to do PreOperation")) << r.sOut;
}

}  // namespace
}  // namespace zktest
