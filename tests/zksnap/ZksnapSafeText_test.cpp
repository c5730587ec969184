// SPDX-License-Identifier: Apache-2.0
// A file server's text reaches the terminal only escaped: a refusal holding
// a newline and an escape sequence keeps every table row on one line and
// sends no control character; JSON keeps the text, as JSON escapes.
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

bool HasControl(const std::string& s) {
  for (unsigned char c : s) {
    if ((c < 0x20 && c != '\n') || c == 0x7f) return true;
  }
  return false;
}

TEST_F(ZksnapTest, FileServerTextIsEscapedInTextOutput) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  UseFilerStore();
  zkfiler::FaultRule oFault;
  oFault.command = "CreateROChkPt";
  oFault.error.sMessage = "first line\nsecond \x1b[31mred\xc2\x9b";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());

  std::vector<RunResult> vText = {Z({"snap", "nfs1"})};
  EXPECT_EQ(4, vText[0].nExit) << vText[0].sOut << vText[0].sErr;
  vText.push_back(Z({"status"}));
  vText.push_back(Z({"log", "nfs1"}));
  for (const RunResult& r : vText) {
    EXPECT_FALSE(HasControl(r.sOut + r.sErr)) << r.sOut;
    EXPECT_FALSE(Has(r.sOut, "\nsecond")) << r.sOut;
    EXPECT_FALSE(Has(r.sOut, "\xc2\x9b")) << r.sOut;
    EXPECT_TRUE(Has(r.sOut, "first line\\x0asecond \\x1b[31mred\\u009b"))
        << r.sOut;
  }
  // The status table: a header and one line per record.
  EXPECT_EQ(4, LineCount(vText[1].sOut)) << vText[1].sOut;

  const RunResult r = Z({"--json", "status", "nfs1"});
  EXPECT_TRUE(Has(r.sOut, "first line\\nsecond \\u001b[31mred")) << r.sOut;
  EXPECT_FALSE(HasControl(r.sOut)) << r.sOut;
}

}  // namespace
}  // namespace zktest
