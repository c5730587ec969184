// SPDX-License-Identifier: Apache-2.0
// Records that share a snapshot: a delete or an unmap that would take from
// records outside the call what they still hold is refused, naming them and
// the command that takes them together; --force goes on and marks the
// records left out with what now holds. The same for 'filer load' over a
// file server that records still use.
#include <fstream>
#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

class SharedTest : public ZksnapTest {
 protected:
  // s1, s2, s3 on /fs_nfs, prepared and snapped together (and mapped).
  void SnapThree(bool bMap) {
    InitWithFileServer();
    for (const char* psz : {"s1", "s2", "s3"}) {
      const RunResult r = Z({"device", "add", psz, "--snap-name", "share",
                             "--nfs", "/fs_nfs", "--filer", kFiler});
      ASSERT_EQ(0, r.nExit) << r.sErr;
    }
    std::vector<const char*> vOps = {"prepare", "snap"};
    if (bMap) vOps.push_back("map");
    for (const char* psz : vOps) {
      const RunResult r = Z({psz, "--all"});
      ASSERT_EQ(0, r.nExit) << psz << "\n" << r.sOut << r.sErr;
    }
  }
  std::vector<zkfiler::CheckpointView> Checkpoints() {
    UseFilerStore();
    std::vector<zkfiler::CheckpointView> v;
    EXPECT_TRUE(zkfiler::ListCheckpoints(kControlHost, &v).ok());
    return v;
  }
};

struct PartialCall {
  std::vector<std::string> vArgs;
  bool bMapped;           // the three are mapped first
  const char* pszShares;  // what the refusal names
  const char* pszTogether;
};

void PrintTo(const PartialCall& o, std::ostream* os) {
  for (const std::string& s : o.vArgs) *os << s << " ";
}

class PartialCallTest : public SharedTest,
                        public ::testing::WithParamInterface<PartialCall> {};

// Refused: nothing changes in the catalog or on the file server.
TEST_P(PartialCallTest, IsRefusedNamingTheOthers) {
  const PartialCall& p = GetParam();
  SnapThree(p.bMapped);
  const std::string sBefore = Dump();
  const size_t nCheckpoints = Checkpoints().size();
  const RunResult r = Z(p.vArgs);
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, p.pszShares)) << r.sErr;
  EXPECT_TRUE(Has(r.sErr, p.pszTogether)) << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "--force")) << r.sErr;
  EXPECT_EQ(1, LineCount(r.sErr)) << r.sErr;
  EXPECT_EQ(sBefore, Dump());
  EXPECT_EQ(nCheckpoints, Checkpoints().size());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PartialCallTest,
    ::testing::Values(
        PartialCall{{"delete", "s1"},
                    false,
                    "with s2 s3, which the delete",
                    "'zksnap delete s1 s2 s3'"},
        PartialCall{{"delete", "s1", "s3"},
                    false,
                    "with s2, which the delete",
                    "'zksnap delete s1 s2 s3'"},
        PartialCall{{"unmap", "s2"},
                    true,
                    "record s2 shares writable checkpoint",
                    "'zksnap unmap s1 s2 s3'"},
        PartialCall{{"unmap", "s3"},
                    true,
                    "and its export with s1 s2",
                    "'zksnap unmap s1 s2 s3'"},
        // The other refusals advise the commands that take them together.
        PartialCall{{"prepare", "s1"},
                    true,
                    "record s1 still holds",
                    "('zksnap unmap s1 s2 s3' and 'zksnap delete s1 s2 s3')"},
        PartialCall{{"unprepare", "s2"},
                    false,
                    "record s2 still holds",
                    "('zksnap delete s1 s2 s3')"},
        PartialCall{{"device", "remove", "s3"},
                    true,
                    "record s3 still holds",
                    "('zksnap unmap s1 s2 s3' and 'zksnap delete s1 s2 s3')"}));

// The records taken together: no refusal.
TEST_F(SharedTest, TogetherGoesThrough) {
  SnapThree(false);
  const RunResult r = Z({"delete", "s1", "s2", "s3"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_FALSE(Has(r.sOut, "left out")) << r.sOut;
  EXPECT_TRUE(Checkpoints().empty());
}

// A forced delete of one: the others no longer hold the checkpoint, and
// their job log says why.
TEST_F(SharedTest, ForcedDeleteMarksTheOthersNotFound) {
  SnapThree(false);
  RunResult r = Z({"delete", "--force", "s1"});
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Checkpoints().empty());
  EXPECT_TRUE(Has(r.sOut, "Records left out")) << r.sOut;
  for (const char* psz : {"s2", "s3"}) {
    const std::string sStatus = StatusJson(psz);
    EXPECT_TRUE(Has(sStatus, "\"status\": \"SNAP_NOT_FOUND\"")) << sStatus;
    EXPECT_TRUE(Has(sStatus, "\"checkpoint\": \"\"")) << sStatus;
    r = Z({"log", psz});
    EXPECT_TRUE(Has(r.sOut, "went with s1 in job")) << r.sOut;
    EXPECT_TRUE(Has(r.sOut, "no longer holds the checkpoint")) << r.sOut;
  }
  // Nothing is left to refuse: the records may be prepared again.
  r = Z({"prepare", "s2"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
}

// A forced unmap of one: the others are no longer mapped (no mount
// metadata, no snap device) but keep the checkpoint; delete then works.
TEST_F(SharedTest, ForcedUnmapMarksTheOthersUnmapped) {
  SnapThree(true);
  RunResult r = Z({"--json", "unmap", "--force", "s2"});
  ASSERT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "\"left_out\"")) << r.sOut;
  for (const char* psz : {"s1", "s3"}) {
    const std::string sStatus = StatusJson(psz);
    EXPECT_TRUE(Has(sStatus, "\"status\": \"UNMAP_SUCCESS\"")) << sStatus;
    EXPECT_FALSE(Has(sStatus, "SM_MDT_SNAP_MOUNT")) << sStatus;
    EXPECT_TRUE(Has(sStatus, "\"snap_device\": \"\"")) << sStatus;
    r = Z({"log", psz});
    EXPECT_TRUE(Has(r.sOut, "and its export went with s2")) << r.sOut;
  }
  r = Z({"delete", "--all"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Checkpoints().empty());
}

// filer load over the file server the records hold checkpoints on.
TEST_F(SharedTest, FilerLoadOverAUsedFileServer) {
  SnapThree(false);
  const std::string sBefore = Dump();
  RunResult r = Z({"filer", "load", m_sTmp + "/layout.txt"});
  EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "records still use")) << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "s1 (checkpoint share_s1_")) << r.sErr;
  EXPECT_EQ(sBefore, Dump());
  EXPECT_EQ(1u, Checkpoints().size());

  r = Z({"filer", "load", "--force", m_sTmp + "/layout.txt"});
  EXPECT_EQ(0, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Checkpoints().empty());
  for (const char* psz : {"s1", "s2", "s3"}) {
    EXPECT_TRUE(Has(StatusJson(psz), "\"status\": \"SNAP_NOT_FOUND\""));
    r = Z({"log", psz});
    EXPECT_TRUE(Has(r.sOut, "filer load --force")) << r.sOut;
  }
}

// A filer load that fails creates no file server state and changes none.
TEST_F(ZksnapTest, FailedFilerLoadChangesNothing) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  const std::string sDb = m_sState + "/filer.db";
  std::remove(sDb.c_str());
  {
    std::ofstream o(m_sTmp + "/bad.txt");
    o << "server cs9.example.com\n  fs 1 name=x mover=7 mount=/x\n";
  }
  for (const std::string& sLayout :
       {m_sTmp + "/bad.txt", m_sTmp + "/missing.txt",
        std::string("/dev/null")}) {
    const RunResult r = Z({"filer", "load", sLayout});
    EXPECT_EQ(1, r.nExit) << sLayout << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sErr, sLayout)) << r.sErr;
    EXPECT_TRUE(ReadFile(sDb).empty()) << sLayout;
  }
  ASSERT_EQ(0, Z({"filer", "load", m_sTmp + "/layout.txt"}).nExit);
  const std::string sLoaded = ReadFile(sDb);
  const RunResult r = Z({"filer", "load", m_sTmp + "/bad.txt"});
  EXPECT_EQ(1, r.nExit);
  EXPECT_EQ(sLoaded, ReadFile(sDb));
}

}  // namespace
}  // namespace zktest
