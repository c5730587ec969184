// SPDX-License-Identifier: Apache-2.0
// Bad input to zksnap: each case gives one line naming the problem, its
// documented exit status, no stack trace, and leaves the catalog as it was.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/zksnap/ZksnapTestSupport.h"

namespace zktest {
namespace {

enum class Damage {
  kNone,
  kNewerSchema,  // the catalog says schema version 99
  kReadOnlyDir,  // the state directory has no write bit
  kCorrupt,      // the catalog file is overwritten with text
  kMissingDir,   // --state names a directory that does not exist
};

struct BadCase {
  const char* pszName;
  Damage eDamage;
  std::vector<std::string> vArgs;  // after --state STATE
  int nExit;
  const char* pszMessage;  // stderr holds it
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.pszName; }

const char kState[] = "@STATE@";  // replaced by the state directory

const BadCase kCases[] = {
    {"UnknownRecord",
     Damage::kNone,
     {"prepare", "nosuch"},
     1,
     "no record named nosuch"},
    {"UnknownRecordInLog",
     Damage::kNone,
     {"log", "nosuch"},
     1,
     "no record named nosuch"},
    {"UnknownGroup",
     Damage::kNone,
     {"snap", "--snap-name", "nogroup"},
     1,
     "no record in snap group nogroup"},
    {"UnknownArray",
     Damage::kNone,
     {"array", "remove", "nosuch"},
     1,
     "no array named nosuch"},
    {"ArrayStillBound",
     Damage::kNone,
     {"array", "remove", "nas1.zs.test"},
     1,
     "is bound to 1 record(s)"},
    {"DuplicateRecord",
     Damage::kNone,
     {"device", "add", "nfs1", "--nfs", "/x", "--filer", "f"},
     1,
     "a record named nfs1 already exists"},
    {"MalformedIdentifier",
     Damage::kNone,
     {"device", "add", "d", "--identifier", "type:nfs,vendor:celerra"},
     1,
     "malformed device identifier"},
    {"IdentifierWithoutVendor",
     Damage::kNone,
     {"device", "add", "d", "--identifier", "{type:nfs,lunuuid:\\/x}"},
     1,
     "it needs a type and a vendor"},
    {"IdentifierOfUnknownType",
     Damage::kNone,
     {"device", "add", "d", "--identifier", "{type:tape,vendor:celerra}"},
     1,
     "unknown type \"tape\""},
    {"MalformedSupported",
     Damage::kNone,
     {"supported", "not-an-identifier"},
     1,
     "malformed device identifier"},
    {"BadRecordName",
     Damage::kNone,
     {"device", "add", "a b", "--nfs", "/x", "--filer", "f"},
     2,
     "record name \"a b\""},
    {"PathNotAbsolute",
     Damage::kNone,
     {"device", "add", "d", "--nfs", "fs1", "--filer", "f"},
     2,
     "does not start with /"},
    {"KindMissing",
     Damage::kNone,
     {"device", "add", "d"},
     2,
     "give exactly one of --nfs"},
    {"NoSelection", Damage::kNone, {"snap"}, 2, "name the records"},
    {"UnknownCommand", Damage::kNone, {"frobnicate"}, 2, "frobnicate"},
    {"PasswordOnCommandLine",
     Damage::kNone,
     {"array", "add", "x", "--control-host", "c", "--user", "u", "--password",
      "pw"},
     2,
     "--password"},
    {"NoPasswordAndNoTerminal",
     Damage::kNone,
     {"array", "add", "x", "--control-host", "c", "--user", "u"},
     2,
     "no terminal to ask for the password"},
    {"VMwareWithoutEsx",
     Damage::kNone,
     {"device", "add", "d", "--nfs", "/fs_ds", "--filer", "nas1.zs.test",
      "--vmware"},
     2,
     "--vmware needs --esx HOST"},
    {"MisspelledConfigKey",
     Damage::kNone,
     {"config", "set", "sCelerraCommaSeperatedAccessHosts", "h"},
     2,
     "reads no key \"sCelerraCommaSeperatedAccessHosts\" (did you mean "
     "sCelerraCommaSeparatedAccessHosts?); use --force"},
    {"ConfigKeyInASection",
     Damage::kNone,
     {"config", "set", "--section", "s1", "sCelerraCommaSeparatedRWHosts", "h"},
     2,
     "from the default section only"},
    {"BadIntegerConfig",
     Damage::kNone,
     {"config", "set", "nClearCelerraArrayMapSecs", "soon"},
     2,
     "takes a whole number of seconds"},
    {"UnsetConfigKey",
     Damage::kNone,
     {"config", "get", "sNothing"},
     1,
     "configuration key sNothing is not set"},
    {"PluginThatDoesNotLoad",
     Damage::kNone,
     {"--plugin", "@STATE@/catalog.db", "prepare", "--all"},
     1,
     "cannot load plug-in"},
    {"PluginLackingAnExport",
     Damage::kNone,
     {"--plugin", ZK_FAKE_PLUGIN_MISSING, "prepare", "--all"},
     1,
     "lacks the export zkso_snapDevices"},
    {"PluginOfAnotherVersion",
     Damage::kNone,
     {"--plugin", ZK_FAKE_PLUGIN_V2, "prepare", "--all"},
     1,
     "has version " ZK_FAKE_PLUGIN_V2_VERSION},
    {"NewerSchema",
     Damage::kNewerSchema,
     {"status"},
     1,
     "has schema version 99, newer than this zksnap reads (1)"},
    {"NewerSchemaOnWrite",
     Damage::kNewerSchema,
     {"prepare", "--all"},
     1,
     "newer than this zksnap reads"},
    {"ReadOnlyStateDirectory",
     Damage::kReadOnlyDir,
     {"config", "set", "--force", "k", "v"},
     1,
     "is read-only"},
    {"CorruptCatalog", Damage::kCorrupt, {"status"}, 1, "is damaged"},
    {"MissingStateDirectory",
     Damage::kMissingDir,
     {"status"},
     1,
     "no state directory"},
    {"FilerLoadBeforeInit",
     Damage::kMissingDir,
     {"filer", "load", "@STATE@/../layout.txt"},
     1,
     "(run 'zksnap init' first, or give --state)"},
};

class BadInputTest : public ZksnapTest,
                     public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadInputTest, OneLineExitStatusCatalogUnchanged) {
  const BadCase& c = GetParam();
  InitWithFileServer();
  ASSERT_EQ(0,
            Z({"device", "add", "nfs1", "--nfs", "/fs_nfs", "--filer", kFiler})
                .nExit);
  // Binds nfs1 to the array.
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  const std::string sCatalog = m_sState + "/catalog.db";
  std::string sStateArg = m_sState;
  std::string sBytes;
  switch (c.eDamage) {
    case Damage::kNone:
      break;
    case Damage::kNewerSchema:
      ASSERT_EQ("", Sql(sCatalog, "PRAGMA user_version = 99"));
      break;
    case Damage::kReadOnlyDir:
      ASSERT_EQ(0, chmod(m_sState.c_str(), 0555));
      break;
    case Damage::kCorrupt: {
      std::filesystem::remove(sCatalog + "-wal");
      std::filesystem::remove(sCatalog + "-shm");
      std::ofstream o(sCatalog, std::ios::trunc);
      o << "this is a shopping list, not a catalog\n" << std::string(4096, 'x');
      o.close();
      sBytes =
          "this is a shopping list, not a catalog\n" + std::string(4096, 'x');
      break;
    }
    case Damage::kMissingDir:
      sStateArg = m_sTmp + "/nothing-here";
      break;
  }
  const std::string sBefore = c.eDamage == Damage::kCorrupt ? "" : Dump();

  std::vector<std::string> vArgs = {"--state", sStateArg};
  for (std::string s : c.vArgs) {
    const size_t n = s.find(kState);
    if (n != std::string::npos) s.replace(n, sizeof(kState) - 1, m_sState);
    vArgs.push_back(s);
  }
  const RunResult r = Raw(vArgs);
  if (c.eDamage == Damage::kReadOnlyDir) chmod(m_sState.c_str(), 0700);

  EXPECT_EQ(c.nExit, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sErr, c.pszMessage)) << r.sErr;
  EXPECT_EQ("", r.sOut);
  // One line of our own; CLI11 adds a hint line to its usage errors.
  EXPECT_LE(LineCount(r.sErr), c.nExit == 2 ? 2 : 1) << r.sErr;
  EXPECT_FALSE(Has(r.sErr, "terminate")) << r.sErr;
  if (c.eDamage == Damage::kCorrupt) {
    std::ifstream o(sCatalog);
    std::string sNow((std::istreambuf_iterator<char>(o)),
                     std::istreambuf_iterator<char>());
    EXPECT_EQ(sBytes, sNow);
    std::filesystem::remove(sCatalog);  // TearDown reads catalogs
  } else {
    EXPECT_EQ(sBefore, Dump());
  }
  if (c.eDamage == Damage::kMissingDir) {
    EXPECT_FALSE(std::filesystem::exists(sStateArg));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BadCase>& o) {
                           return std::string(o.param.pszName);
                         });

// --force sets a key the plug-in does not read, with a warning.
TEST_F(ZksnapTest, ConfigSetForceWarnsOfAnUnreadKey) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  RunResult r = Z({"config", "set", "--force", "sMyNote", "x"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_TRUE(Has(r.sErr, "warning: the plug-in reads no key \"sMyNote\""))
      << r.sErr;
  EXPECT_EQ("x\n", Z({"config", "get", "sMyNote"}).sOut);
  r = Z({"config", "set", "sCelerraCommaSeparatedRWHosts", "h"});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_EQ("", r.sErr);
}

// A catalog file that is only read-only (the directory is writable) is
// refused before anything is written.
TEST_F(ZksnapTest, ReadOnlyCatalogFileIsRefused) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  const std::string sCatalog = m_sState + "/catalog.db";
  ASSERT_EQ(0, chmod(sCatalog.c_str(), 0444));
  const RunResult r = Z({"config", "set", "--force", "k", "v"});
  chmod(sCatalog.c_str(), 0600);
  EXPECT_EQ(1, r.nExit);
  EXPECT_TRUE(Has(r.sErr, "catalog " + sCatalog + " is read-only")) << r.sErr;
}

// On a read-only state directory the reading commands work and show what
// the catalog holds; commands that must write say the directory is
// read-only and change nothing.
TEST_F(ZksnapTest, ReadingCommandsWorkOnAReadOnlyStateDirectory) {
  InitWithFileServer();
  AddDevices();
  ASSERT_EQ(0, Z({"prepare", "nfs1"}).nExit);
  ASSERT_EQ(0, Z({"config", "set", "nClearCelerraArrayMapSecs", "60"}).nExit);
  const std::string sBefore = Dump();
  ASSERT_EQ(0, chmod(m_sState.c_str(), 0555));
  struct Reading {
    std::vector<std::string> vArgs;
    const char* pszShows;
  };
  const Reading aReading[] = {
      {{"status"}, "READY_FOR_SNAP"},
      {{"log", "nfs1"}, "prepare"},
      {{"device", "list"}, "nfs1"},
      {{"device", "show", "vm1"}, "vm1"},
      {{"array", "list"}, kFiler},
      {{"config", "list"}, "nClearCelerraArrayMapSecs"},
      {{"config", "get", "nClearCelerraArrayMapSecs"}, "60"}};
  std::vector<RunResult> vResults;
  for (const Reading& o : aReading) vResults.push_back(Z(o.vArgs));
  const RunResult oWrite = Z({"prepare", "vm1"});
  const RunResult oAdd =
      Z({"device", "add", "x", "--nfs", "/fs_nfs", "--filer", kFiler});
  chmod(m_sState.c_str(), 0700);
  for (size_t i = 0; i < vResults.size(); ++i) {
    EXPECT_EQ(0, vResults[i].nExit)
        << aReading[i].vArgs[0] << ": " << vResults[i].sErr;
    EXPECT_TRUE(Has(vResults[i].sOut, aReading[i].pszShows))
        << aReading[i].vArgs[0] << ": " << vResults[i].sOut;
  }
  for (const RunResult& r : {oWrite, oAdd}) {
    EXPECT_EQ(1, r.nExit) << r.sOut << r.sErr;
    EXPECT_TRUE(Has(r.sErr, "state directory " + m_sState + " is read-only"))
        << r.sErr;
  }
  EXPECT_EQ(sBefore, Dump());
}

// The password comes from a file, standard input or the environment, and is
// never printed, listed or put into a reason; the catalog file is private.
TEST_F(ZksnapTest, PasswordSourcesAndSecrecy) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  const std::string sFile = m_sTmp + "/pw";
  {
    std::ofstream o(sFile);
    o << kPassword << "\n";
  }
  RunResult r = Z({"array", "add", "a1", "--control-host", "c1", "--user", "u",
                   "--password-file", sFile});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  r = Z({"array", "add", "a2", "--control-host", "c2", "--user", "u",
         "--password-stdin"},
        std::string(kPassword) + "\n");
  EXPECT_EQ(0, r.nExit) << r.sErr;
  r = Z({"array", "add", "a3", "--control-host", "c3", "--user", "u",
         "--password-env", "PW3"},
        "", {std::string("PW3=") + kPassword});
  EXPECT_EQ(0, r.nExit) << r.sErr;
  EXPECT_EQ(
      kPassword + std::string("\n"),
      Sql(m_sState + "/catalog.db", "SELECT DISTINCT password FROM arrays"));
  for (const char* pszJson : {"", "--json"}) {
    std::vector<std::string> v;
    if (*pszJson) v.push_back(pszJson);
    v.push_back("array");
    v.push_back("list");
    r = Z(v);
    EXPECT_EQ(0, r.nExit);
    EXPECT_TRUE(Has(r.sOut, "a3")) << r.sOut;
  }
  struct stat oStat;
  ASSERT_EQ(0, stat((m_sState + "/catalog.db").c_str(), &oStat));
  EXPECT_EQ(0u, oStat.st_mode & 077) << std::oct << oStat.st_mode;
  // An array name that is already taken, by name or by address.
  r = Z({"array", "add", "a1", "--control-host", "c", "--user", "u",
         "--password-env", "PW3"},
        "", {std::string("PW3=") + kPassword});
  EXPECT_EQ(1, r.nExit);
  EXPECT_TRUE(Has(r.sErr, "\"a1\" already names array a1")) << r.sErr;
}

// A plug-in that leaks a password into a reason would be caught here: the
// failed prepare of a record bound to an array whose user is wrong names
// the array in its reason, never the password.
TEST_F(ZksnapTest, FailedLoginNeverShowsThePassword) {
  ASSERT_EQ(0, Z({"init"}).nExit);
  ASSERT_EQ(0, Z({"filer", "load", m_sTmp + "/layout.txt"}).nExit);
  RunResult r = Z({"array", "add", kFiler, "--control-host", kControlHost,
                   "--user", "intruder", "--password-env", "PW"},
                  "", {std::string("PW=") + kPassword});
  ASSERT_EQ(0, r.nExit);
  ASSERT_EQ(0,
            Z({"device", "add", "nfs1", "--nfs", "/fs_nfs", "--filer", kFiler})
                .nExit);
  r = Z({"-vvv", "prepare", "nfs1"});
  EXPECT_EQ(4, r.nExit) << r.sOut << r.sErr;
  EXPECT_TRUE(Has(r.sOut, "READY_FOR_SNAP_FAILED")) << r.sOut;
  // The debug log went to stderr at every level; TearDown checks it all.
  EXPECT_FALSE(r.sErr.empty());
  r = Z({"log", "nfs1"});
  EXPECT_EQ(0, r.nExit);
}

}  // namespace
}  // namespace zktest

namespace zktest {
namespace {

// A VMware host identifier may carry a password of its own: zksnap shows
// the identifier with it masked, in tables and in JSON.
TEST_F(ZksnapTest, HostIdentifierPasswordIsNeverShown) {
  const std::string sEsxPassword = "Esx-Pw-5521";
  InitWithFileServer();
  RunResult r = Z({"device", "add", "vm1", "--nfs", "/fs_ds", "--filer", kFiler,
                   "--vmware", "--host-identifier",
                   "{vcname:vc1,esxname:" + std::string(kEsx) +
                       ",vmkernel:10.60.0.5|,password:" + sEsxPassword + "}"});
  ASSERT_EQ(0, r.nExit) << r.sErr;
  EXPECT_FALSE(Has(r.sOut, sEsxPassword)) << r.sOut;
  for (const std::vector<std::string>& v :
       std::vector<std::vector<std::string>>{
           {"device", "show", "vm1"},
           {"--json", "device", "show", "vm1"},
           {"--json", "status"},
           {"--json", "device", "list"}}) {
    r = Z(v);
    EXPECT_EQ(0, r.nExit) << r.sErr;
    EXPECT_FALSE(Has(r.sOut, sEsxPassword)) << r.sOut;
  }
  EXPECT_TRUE(Has(r.sOut, "password:***********}")) << r.sOut;
  // The plug-in reads it whole: map to the ESX host works.
  for (const char* psz : {"prepare", "snap", "map"}) {
    r = Z({"-vvv", psz, "vm1"});
    EXPECT_EQ(0, r.nExit) << psz << "\n" << r.sOut << r.sErr;
    EXPECT_FALSE(Has(r.sOut + r.sErr, sEsxPassword));
  }
  r = Z({"log", "vm1"});
  EXPECT_FALSE(Has(r.sOut, sEsxPassword)) << r.sOut;
}

}  // namespace
}  // namespace zktest
