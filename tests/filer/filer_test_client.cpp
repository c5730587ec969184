// SPDX-License-Identifier: Apache-2.0
// A second process for the file server tests: runs one client command
// against the store named by ZK_FILER_DB and prints its outcome.
//
//   filer_test_client HOST USER create FS NAME   prints the new id
//       (asks GetPFSInfo for the file system first, as the plug-in does)
//   filer_test_client HOST USER list             prints "name id" lines
//   filer_test_client HOST USER poll COUNT FS    COUNT rounds of listing the
//       checkpoints and asking for file system FS; prints one
//       "refused CODE MESSAGE" line per failed command, "polled COUNT" at
//       the end
// The password comes from ZK_TEST_PASSWORD. A refusal prints
// "refused CODE MESSAGE" and exits 2; bad usage exits 1.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/ManageCelerra.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: filer_test_client HOST USER COMMAND ...\n");
    return 1;
  }
  const char* password = std::getenv("ZK_TEST_PASSWORD");
  ManageCelerra client(9);
  client.SetControlHostInfo(argv[1], argv[2], password ? password : "");
  const std::string command = argv[3];
  bool ok = false;
  if (command == "create" && argc == 6) {
    // As the plug-in does: the file system's storage type and extra first.
    std::string fs = argv[4], extra, savvol, name, vdm, id;
    eCelerraStgType type = CELERRA_STG_UNSET;
    bool on_vdm = false;
    ok = client.GetPFSInfo(fs, type, extra, savvol, name, vdm, on_vdm) &&
         client.CreateROChkPt(fs, type, extra, argv[5], id);
    if (ok) std::printf("%s\n", id.c_str());
  } else if (command == "list" && argc == 4) {
    std::list<CelerraChkPtInfo> list;
    ok = client.GetChkPointsInfo("", list);
    for (const CelerraChkPtInfo& c : list) {
      if (ok) std::printf("%s %s\n", c.sChkptName.c_str(), c.sChkptId.c_str());
    }
  } else if (command == "poll" && argc == 6) {
    const int count = std::atoi(argv[4]);
    bool all_ok = true;
    for (int i = 0; i < count; ++i) {
      std::list<CelerraChkPtInfo> list;
      std::string fs = argv[5], extra, savvol, name, vdm;
      eCelerraStgType type = CELERRA_STG_UNSET;
      bool on_vdm = false;
      if (!client.GetChkPointsInfo("", list) ||
          !client.GetPFSInfo(fs, type, extra, savvol, name, vdm, on_vdm)) {
        const CelerraError e = client.GetLastError();
        std::printf("refused %s %s\n", e.sMessageCode.c_str(),
                    e.sMessage.c_str());
        all_ok = false;
      }
    }
    std::printf("polled %d\n", count);
    return all_ok ? 0 : 2;
  } else {
    std::fprintf(stderr, "filer_test_client: bad command\n");
    return 1;
  }
  if (ok) return 0;
  const CelerraError e = client.GetLastError();
  std::printf("refused %s %s\n", e.sMessageCode.c_str(), e.sMessage.c_str());
  return 2;
}
