// SPDX-License-Identifier: Apache-2.0
// zksnap init and demo: an empty catalog, the demo file server, and the
// whole snapshot lifecycle run on it in a temporary state directory.
#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "filer/FilerSim.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"

namespace zkref {

namespace {

const char kDemoPassword[] = "Demo-Pw!7731";
const char kDemoArray[] = "nas1.demo.zk";
const char kDemoControlHost[] = "cs1.demo.zk";

std::string DemoLayout() {
  return std::string(
             "# The demo file server: NFS exports on a data mover and a file\n"
             "# system on a virtual data mover.\n"
             "server cs1.demo.zk\n"
             "  login nasadmin \"") +
         kDemoPassword +
         "\"\n"
         "  mover 2 name=server_2 interfaces=10.10.0.21,10.10.0.22\n"
         "  vdm 1 name=vdm_finance mover=2\n"
         "  cifs-server NAS01 mover=2 interfaces=\"10.10.0.21 (cge0)\"\n"
         "  cifs-server FINANCE vdm=1 interfaces=\"10.10.0.25 (cge1)\"\n"
         "  fs 101 name=fs_vmware mover=2 mount=/fs_vmware type=uxfs "
         "extra=pool_gold savvol=vp101\n"
         "  fs 102 name=fs_home mover=2 mount=/fs_home type=uxfs "
         "extra=pool_gold savvol=vp102\n"
         "  fs 103 name=fs_finance vdm=1 mount=/fs_finance type=uxfs "
         "extra=pool_silver savvol=vp103\n"
         "  export /fs_vmware mover=2 access=10.20.0.5 rw=10.20.0.5 "
         "root=10.20.0.5\n"
         "  export /fs_home mover=2\n";
}

const char kDemoHosts[] =
    "# Names of the demo file server and ESX host (zksnap sets ZK_HOSTS_FILE\n"
    "# to this file when it is not set).\n"
    "10.10.0.21 nas1.demo.zk\n"
    "10.10.0.25 finance.demo.zk\n"
    "10.20.0.5 esx1.demo.zk\n";

void LayOutDemo(Context& z) {
  z.UseFilerStore(true);
  const zkfiler::Status oStatus =
      zkfiler::LoadLayoutText(DemoLayout(), "<demo layout>");
  if (!oStatus.ok()) throw HostError(oStatus.message());
  const std::string sHosts = z.HostsFilePath();
  std::ofstream oHosts(sHosts, std::ios::trunc);
  oHosts << kDemoHosts;
  oHosts.close();
  if (!oHosts) throw HostError("cannot write " + sHosts);
  if (std::getenv("ZK_HOSTS_FILE") == nullptr) {
    setenv("ZK_HOSTS_FILE", sHosts.c_str(), 1);
  }
}

}  // namespace

namespace {

bool Exists(const std::string& sPath) {
  std::error_code oError;
  return std::filesystem::exists(sPath, oError);
}

// What laying out the demo file server would replace in an existing state:
// the demo control host's file server (with its checkpoints) and the hosts
// file; "" when nothing.
std::string WhatDemoReplaces(Context& z) {
  std::vector<std::string> vLost;
  if (Exists(z.FilerDbPath())) {
    z.UseFilerStore(false);
    std::vector<zkfiler::ServerLayout> vServers;
    std::vector<zkfiler::CheckpointView> vCheckpoints;
    zkfiler::Status oStatus = zkfiler::ListServers(&vServers);
    if (oStatus.ok()) {
      oStatus = zkfiler::ListCheckpoints(kDemoControlHost, &vCheckpoints);
    }
    if (!oStatus.ok()) throw HostError(oStatus.message());
    for (const auto& l : vServers) {
      if (l.control_host != kDemoControlHost) continue;
      vLost.push_back("the file server " + std::string(kDemoControlHost) +
                      " in " + z.FilerDbPath() + " with its " +
                      std::to_string(vCheckpoints.size()) + " checkpoint(s)");
    }
  }
  if (Exists(z.HostsFilePath()))
    vLost.push_back("the hosts file " + z.HostsFilePath());
  std::string s;
  for (const std::string& x : vLost) s += (s.empty() ? "" : " and ") + x;
  return s;
}

}  // namespace

int CmdInit(Context& z, const InitArgs& a) {
  if (a.bDemo && !a.bForce) {
    const std::string sLost = WhatDemoReplaces(z);
    if (!sLost.empty()) {
      throw HostError("state directory " + z.Options().sStateDir +
                      " is in use: 'init --demo' would replace " + sLost +
                      "; use another --state, or --force to replace them");
    }
  }
  Catalog& c = z.OpenCatalog(true);
  if (!a.bDemo) {
    z.UseFilerStore(true);
    z.Out("catalog ready at " + c.Path() + "; file server state at " +
          z.FilerDbPath() + "\n");
    return kExitSuccess;
  }
  LayOutDemo(z);
  z.AddSecret(kDemoPassword);
  c.Begin(Catalog::Txn::kWrite);
  if (!c.FindArray(kDemoArray)) {
    ArrayRow r;
    r.sName = kDemoArray;
    r.sVendor = "Dell EMC VNX / Celerra";
    r.sArrayId = "APM00DEMO01";
    r.sControlHost = "cs1.demo.zk";
    r.sUser = "nasadmin";
    r.sPassword = kDemoPassword;
    r.sEngine = "celerra";
    r.vAddresses = {"10.10.0.21", "10.10.0.25", "finance.demo.zk"};
    c.AddArray(r);
  }
  c.Commit();
  z.Out("catalog ready at " + c.Path() + "; demo file server cs1.demo.zk in " +
        z.FilerDbPath() + ", registered as array " + kDemoArray +
        "; names in " + z.HostsFilePath() + "\n");
  return kExitSuccess;
}

namespace {

// One step of the demo: what a person would type, and how to run it.
struct DemoStep {
  std::string sCommand;
  std::function<int(Context&)> fnRun;
};

}  // namespace

int CmdDemo(const GlobalOptions& oGlobal, const DemoArgs& a) {
  // In TMPDIR when it is set, as other programs make temporary files.
  const char* pszTmp = std::getenv("TMPDIR");
  const std::string sTmp =
      pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp";
  std::string sTemplate = sTmp + "/zksnap-demo-XXXXXX";
  if (mkdtemp(sTemplate.data()) == nullptr) {
    throw HostError("cannot make a temporary state directory in " + sTmp +
                    ": " + std::strerror(errno));
  }
  const std::string sDir = sTemplate;
  // The demo is self-contained: its file server and host names live in the
  // temporary directory, whatever the environment says.
  setenv("ZK_FILER_DB", (sDir + "/filer.db").c_str(), 1);
  setenv("ZK_HOSTS_FILE", (sDir + "/hosts").c_str(), 1);

  GlobalOptions oOptions = oGlobal;
  oOptions.sStateDir = sDir;
  oOptions.bJson = false;

  auto Add = [](DeviceAddArgs d) {
    return [d](Context& z) { return CmdDeviceAdd(z, d); };
  };
  auto Op = [](const std::string& sOp) {
    return [sOp](Context& z) {
      Selection s;
      s.sSnapName = "demo";
      return CmdOperation(z, sOp, s);
    };
  };
  auto Config = [](const std::string& sKey, const std::string& sValue) {
    return [sKey, sValue](Context& z) {
      return CmdConfigSet(z, "", sKey, sValue);
    };
  };
  DeviceAddArgs oNfs;
  oNfs.sName = "nfs-home";
  oNfs.sSnapName = "demo";
  oNfs.sNfsExport = "/fs_home";
  oNfs.sFiler = "nas1.demo.zk";
  DeviceAddArgs oNas;
  oNas.sName = "nas-finance";
  oNas.sSnapName = "demo";
  oNas.sNasPath = "/fs_finance";
  oNas.sFiler = "finance.demo.zk";
  DeviceAddArgs oVMware;
  oVMware.sName = "vmware-ds";
  oVMware.sSnapName = "demo";
  oVMware.sNfsExport = "/fs_vmware";
  oVMware.sFiler = "nas1.demo.zk";
  oVMware.bVMware = true;
  oVMware.sEsx = "esx1.demo.zk";
  oVMware.sVCenter = "vc1.demo.zk";
  oVMware.vVMKernel = {"10.20.0.5"};

  const std::vector<DemoStep> vSteps = {
      {"zksnap init --demo",
       [](Context& z) {
         return CmdInit(z, InitArgs{true, false});
       }},
      {"zksnap device add nfs-home --snap-name demo --nfs /fs_home "
       "--filer nas1.demo.zk",
       Add(oNfs)},
      {"zksnap device add nas-finance --snap-name demo --nas /fs_finance "
       "--filer finance.demo.zk",
       Add(oNas)},
      {"zksnap device add vmware-ds --snap-name demo --nfs /fs_vmware "
       "--filer nas1.demo.zk --vmware --esx esx1.demo.zk --vcenter "
       "vc1.demo.zk --vmkernel 10.20.0.5",
       Add(oVMware)},
      {"zksnap device list", [](Context& z) { return CmdDeviceList(z); }},
      // The backup proxy that mounts the snapshots of the non-VMware
      // devices, whatever this machine's own name resolves to.
      {"zksnap config set sCelerraCommaSeparatedAccessHosts 10.20.0.9",
       Config("sCelerraCommaSeparatedAccessHosts", "10.20.0.9")},
      {"zksnap config set sCelerraCommaSeparatedRWHosts 10.20.0.9",
       Config("sCelerraCommaSeparatedRWHosts", "10.20.0.9")},
      {"zksnap supported '{kemtype:vmware,type:nfs,lunuuid:\\/fs_vmware,"
       "targethostname:nas1.demo.zk,vendor:celerra}'",
       [](Context& z) {
         return CmdSupported(z,
                             "{kemtype:vmware,type:nfs,lunuuid:\\/fs_vmware,"
                             "targethostname:nas1.demo.zk,vendor:celerra}");
       }},
      {"zksnap prepare --snap-name demo", Op("prepare")},
      {"zksnap snap --snap-name demo", Op("snap")},
      {"zksnap map --snap-name demo", Op("map")},
      {"zksnap filer show", [](Context& z) { return CmdFilerShow(z); }},
      {"zksnap unmap --snap-name demo", Op("unmap")},
      {"zksnap revert --snap-name demo", Op("revert")},
      {"zksnap reconcile --snap-name demo", Op("reconcile")},
      {"zksnap delete --snap-name demo", Op("delete")},
      {"zksnap orphans", [](Context& z) { return CmdOrphans(z); }},
  };

  int nExit = kExitSuccess;
  std::printf("zksnap demo: state directory %s\n", sDir.c_str());
  for (size_t i = 0; i < vSteps.size(); ++i) {
    std::printf("\n== step %zu: %s\n", i + 1, vSteps[i].sCommand.c_str());
    std::fflush(stdout);
    g_nCatalogCommitted = 0;
    Context z(oOptions, stdout, stderr);
    z.AddSecret(kDemoPassword);
    int nStep;
    try {
      nStep = vSteps[i].fnRun(z);
    } catch (const HostError& e) {
      z.Err(std::string("zksnap: ") + e.what() + "\n");
      nStep = e.ExitCode();
    }
    std::printf("-> exit status %d\n", nStep);
    if (nStep != kExitSuccess) {
      std::printf(
          "\nzksnap demo: step %zu failed; 'zksnap --state %s log' "
          "shows the job log\n",
          i + 1, sDir.c_str());
      nExit = nStep;
      break;
    }
  }
  std::fflush(stdout);
  if (nExit == kExitSuccess) {
    std::printf(
        "\nzksnap demo: the whole lifecycle ran on NFS, NAS on a VDM "
        "and VMware devices.\n");
  }
  if (a.bKeep || nExit != kExitSuccess) {
    std::printf("state kept in %s (use --state %s)\n", sDir.c_str(),
                sDir.c_str());
  } else {
    std::error_code oError;
    std::filesystem::remove_all(sDir, oError);
  }
  std::fflush(stdout);
  return nExit;
}

}  // namespace zkref
