// SPDX-License-Identifier: Apache-2.0
// Test support for device suites that run against the simulated file
// server: a fixture that installs one file server ("cs1", logged into with
// the distinctive password) in a fresh in-memory store, registers it in the
// host's array database as "filer1", and reads back the file server's
// checkpoints, exports and command journal.
//
// Not thread-safe: one fixture per test.
#ifndef ZK_TESTS_DEVICE_FILERDEVICETESTSUPPORT_H_
#define ZK_TESTS_DEVICE_FILERDEVICETESTSUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "filer/FilerSim.h"

namespace zktest {

inline const char* const kControlHost = "cs1";

class FilerDeviceTest : public DeviceTest {
 protected:
  // Also checks that no command the file server received shows the
  // password.
  void TearDown() override {
    for (const zkfiler::JournalEntry& oEntry : JournalEntries()) {
      EXPECT_EQ(oEntry.args.find(kPassword), std::string::npos) << oEntry.args;
    }
    DeviceTest::TearDown();
  }

  // A fresh store holding only oLayout (control host, user and password are
  // filled in), and the host's array entry "filer1" for it.
  void Install(zkfiler::ServerLayout oLayout) {
    oLayout.control_host = kControlHost;
    oLayout.user = "nasadmin";
    oLayout.password = kPassword;
    ASSERT_TRUE(zkfiler::UseInMemoryStore().ok());
    zkfiler::Status oStatus = zkfiler::Install(oLayout);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
    m_oDatabase.Clear();
    AddArray("filer1", {}, kVendor, "array-1", kControlHost);
  }

  // A client logged into the file server as the entry point would set it
  // up from the device's credentials.
  static ManageCelerra ClientFor(CelerraSnapDevice& oDevice) {
    _CelerraArrayCredentials oCredentials;
    oDevice.GetArrayCredentials(oCredentials);
    ManageCelerra oClient(kJobId);
    oClient.SetControlHostInfo(oCredentials.sHostName,
                               oCredentials.sHostUserName,
                               oCredentials.sHostPassword);
    return oClient;
  }

  // Makes the next call of sCommand (or every call with kAlways) fail.
  static void ArmFault(const std::string& sCommand,
                       zkfiler::FaultMode eMode = zkfiler::FaultMode::kAlways,
                       const CelerraError& oError = CelerraError()) {
    zkfiler::FaultRule oFault;
    oFault.command = sCommand;
    oFault.mode = eMode;
    oFault.n = 1;
    oFault.error = oError;
    zkfiler::Status oStatus = zkfiler::ArmFault(oFault);
    ASSERT_TRUE(oStatus.ok()) << oStatus.ToString();
  }

  static std::vector<zkfiler::JournalEntry> JournalEntries() {
    std::vector<zkfiler::JournalEntry> vEntries;
    EXPECT_TRUE(zkfiler::Journal(&vEntries).ok());
    return vEntries;
  }
  // "command args" of every command received since the last reset.
  static std::vector<std::string> Journal() {
    std::vector<std::string> vCommands;
    for (const auto& oEntry : JournalEntries()) {
      vCommands.push_back(oEntry.command + " " + oEntry.args);
    }
    return vCommands;
  }
  // The command names alone.
  static std::vector<std::string> Commands() {
    std::vector<std::string> vCommands;
    for (const auto& oEntry : JournalEntries()) {
      vCommands.push_back(oEntry.command);
    }
    return vCommands;
  }
  static void ResetJournal() { ASSERT_TRUE(zkfiler::ResetJournal().ok()); }

  static std::vector<zkfiler::CheckpointView> Checkpoints() {
    std::vector<zkfiler::CheckpointView> vCheckpoints;
    EXPECT_TRUE(zkfiler::ListCheckpoints(kControlHost, &vCheckpoints).ok());
    return vCheckpoints;
  }
  // The checkpoint named sName; an empty view (no id) when there is none.
  static zkfiler::CheckpointView CheckpointNamed(const std::string& sName) {
    for (const auto& oCheckpoint : Checkpoints()) {
      if (oCheckpoint.name == sName) return oCheckpoint;
    }
    return zkfiler::CheckpointView();
  }
  static std::vector<zkfiler::ExportView> Exports() {
    std::vector<zkfiler::ExportView> vExports;
    EXPECT_TRUE(zkfiler::ListExports(kControlHost, &vExports).ok());
    return vExports;
  }
  static zkfiler::FileSystemDef FileSystem(const std::string& sId) {
    zkfiler::FileSystemDef oFileSystem;
    EXPECT_TRUE(zkfiler::GetFileSystem(kControlHost, sId, &oFileSystem).ok());
    return oFileSystem;
  }

  // True when sText went to the log's error output with the job id.
  bool ErrorLogged(const std::string& sText) const {
    for (const ZkLogLine& oLine : m_oLog.Find(sText)) {
      if (oLine.eStream == ZkLogLine::kError && oLine.sText == sText &&
          oLine.bHasJobId && oLine.nJobId == kJobId) {
        return true;
      }
    }
    return false;
  }
  // The record's job log lines whose text is exactly sText.
  std::vector<zkref::MemSnapInfo::JobLogLine> JobLines(
      const std::string& sText) const {
    std::vector<zkref::MemSnapInfo::JobLogLine> vLines;
    for (const auto& oLine : m_oRecord.vJobLog) {
      if (oLine.sText == sText) vLines.push_back(oLine);
    }
    return vLines;
  }
  // True when the job log holds exactly one line sText, of that level and
  // tag ("" for a LogMessage line).
  ::testing::AssertionResult JobLogged(const std::string& sText, int nLevel,
                                       const std::string& sTag) const {
    auto vLines = JobLines(sText);
    if (vLines.size() != 1) {
      return ::testing::AssertionFailure()
             << vLines.size() << " job log lines [" << sText << "]";
    }
    if (vLines[0].nLevel != nLevel || vLines[0].sTag != sTag) {
      return ::testing::AssertionFailure()
             << "[" << sText << "] at level " << vLines[0].nLevel
             << " with tag [" << vLines[0].sTag << "]";
    }
    return ::testing::AssertionSuccess();
  }
};

}  // namespace zktest

#endif  // ZK_TESTS_DEVICE_FILERDEVICETESTSUPPORT_H_
