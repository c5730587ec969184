// SPDX-License-Identifier: Apache-2.0
// Prepare, snap, map and revert stop at the first record that fails. The
// records the call never got to have no reason of their own; zksnap names
// the record where the call stopped and its reason, in the table, in JSON
// and in the job log.
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

struct Stop {
  const char* pszOperation;
  std::vector<const char*> vBefore;  // operations run first on all records
  const char* pszFault;              // the file server refuses this command
  const char* pszWhy;  // what the notes say of the record where it stopped
};

void PrintTo(const Stop& o, std::ostream* os) { *os << o.pszOperation; }

class NotReachedTest : public ZksnapTest,
                       public ::testing::WithParamInterface<Stop> {};

// nfs1, nas1 and vm1 are on three file systems: the call stops on the
// first of them the plug-in takes, and the other two are never reached.
TEST_P(NotReachedTest, TheOthersNameWhereTheCallStopped) {
  const Stop& p = GetParam();
  InitWithFileServer();
  AddDevices();
  for (const char* psz : p.vBefore) {
    const RunResult r = Z({psz, "--all"});
    ASSERT_EQ(0, r.nExit) << psz << "\n" << r.sOut << r.sErr;
  }
  UseFilerStore();
  zkfiler::FaultRule oFault;
  oFault.command = p.pszFault;
  oFault.error.sMessage = "refused for the test";
  ASSERT_TRUE(zkfiler::ArmFault(oFault).ok());

  RunResult r = Z({p.pszOperation, "--all"});
  ASSERT_EQ(4, r.nExit) << r.sOut << r.sErr;
  // The record where the call stopped: the one row without a note.
  std::string sStopped;
  auto Line = [&](const std::string& sRecord) {
    const std::string sRow = r.sOut.substr(r.sOut.find("\n" + sRecord));
    return sRow.substr(0, sRow.find('\n', 1));
  };
  for (const char* psz : {"nfs1", "nas1", "vm1"}) {
    if (!Has(Line(psz), "not reached") && !Has(Line(psz), "failed with")) {
      EXPECT_TRUE(sStopped.empty()) << r.sOut;
      sStopped = psz;
    }
  }
  ASSERT_FALSE(sStopped.empty()) << r.sOut;
  for (const char* psz : {"nfs1", "nas1", "vm1"}) {
    if (psz == sStopped) continue;
    const std::string sLine = Line(psz);
    EXPECT_TRUE(Has(sLine, std::string("not reached: the ") + p.pszOperation +
                               " stopped at record " + sStopped + ": "))
        << r.sOut;
    EXPECT_TRUE(Has(sLine, p.pszWhy)) << sLine;
    const RunResult l = Z({"log", psz});
    EXPECT_TRUE(Has(l.sOut, "zksnap")) << l.sOut;
    EXPECT_TRUE(Has(l.sOut, "stopped at record " + sStopped)) << l.sOut;
  }

  r = Z({"--json", p.pszOperation, "--all"});
  ASSERT_EQ(4, r.nExit) << r.sOut << r.sErr;
  size_t nCount = 0;
  for (size_t n = r.sOut.find("\"stopped_at\": \"" + sStopped + "\"");
       n != std::string::npos;
       n = r.sOut.find("\"stopped_at\": \"" + sStopped + "\"", n + 1)) {
    ++nCount;
  }
  EXPECT_EQ(2u, nCount) << r.sOut;
}

INSTANTIATE_TEST_SUITE_P(
    Operations, NotReachedTest,
    ::testing::Values(
        Stop{"snap", {"prepare"}, "CreateROChkPt", "refused for the test"},
        Stop{"map",
             {"prepare", "snap"},
             "CreateRWChkPt",
             "refused for the test"},
        Stop{"revert",
             {"prepare", "snap"},
             "RestorePFSFromChkPt",
             "refused for the test"},
        // A failed preparation sets no reason: the notes name its status.
        Stop{
            "prepare", {}, "GetPFSInfo", "READY_FOR_SNAP_FAILED (its errors"}));

// A call that succeeds, or fails on every record with its own reason,
// notes nothing.
TEST_F(ZksnapTest, NothingIsNotedWhenEveryRecordWasReached) {
  InitWithFileServer();
  AddDevices();
  RunResult r = Z({"prepare", "--all"});
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_FALSE(Has(r.sOut, "not reached")) << r.sOut;
  r = Z({"--json", "snap", "nfs1"});
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_FALSE(Has(r.sOut, "not_reached")) << r.sOut;
}

}  // namespace
}  // namespace zktest
