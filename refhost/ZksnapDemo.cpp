// SPDX-License-Identifier: Apache-2.0
// zksnap init and demo: an empty catalog, the demo file server, and the
// whole snapshot lifecycle run on it in a temporary state directory.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "filer/FilerFiles.h"
#include "filer/FilerSim.h"
#include "nfsserve/FilerServe.h"
#include "refhost/RecordHolding.h"
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

// The file the demo's story is about, as production holds it at the snap
// and after someone overwrote it.
const char kReportFs[] = "fs_home";
const char kReportDir[] = "/reports";
const char kReportPath[] = "/reports/q3.txt";
const char kAtSnap[] = "Q3: 1200 units shipped\n";
const char kOverwritten[] = "Q3: 0 units shipped (overwritten by mistake)\n";

// `zkfiler serve` for the demo's file server, on a free loopback port, when
// this machine can run it; else why not.
class DemoServer {
 public:
  explicit DemoServer(std::string sDir) : m_sLog(sDir + "/serve.log") {}
  ~DemoServer() { Stop(); }
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  // Finds zkfiler and a free port; true when it can serve, else WhyNot()
  // says why not.
  bool Plan() {
    m_sWhyNot = zkfiler::ServeCannotRun();
    if (!m_sWhyNot.empty()) m_sWhyNot = "zkfiler serve " + m_sWhyNot;
    m_sZkfiler = Zkfiler();
    if (m_sWhyNot.empty() && m_sZkfiler.empty()) {
      m_sWhyNot = "zkfiler is neither beside zksnap nor on the PATH";
    }
    if (m_sWhyNot.empty()) m_nPort = zkfiler::FreeLoopbackPort();
    if (m_sWhyNot.empty() && m_nPort <= 0) {
      m_sWhyNot =
          std::string("no free port on 127.0.0.1: ") + std::strerror(errno);
    }
    return m_sWhyNot.empty();
  }
  // Starts it as planned; true when it serves, else WhyNot() says why not.
  bool Start() {
    if (!m_sWhyNot.empty() || m_sZkfiler.empty()) return false;
    std::fflush(stdout);
    std::fflush(stderr);
    m_nPid = ::fork();
    if (m_nPid < 0) {
      m_sWhyNot = std::string("cannot start zkfiler: ") + std::strerror(errno);
      return false;
    }
    if (m_nPid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlives the demo
      const int nLog =
          ::open(m_sLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (nLog >= 0) {
        ::dup2(nLog, 1);
        ::dup2(nLog, 2);
      }
      const std::string sPort = std::to_string(m_nPort);
      ::execl(m_sZkfiler.c_str(), m_sZkfiler.c_str(), "serve", "--port",
              sPort.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // It says so on its first line once the server answers.
    for (int i = 0; i < 3000; ++i) {
      if (Log().find("zkfiler serve: serving") != std::string::npos) {
        return true;
      }
      if (::waitpid(m_nPid, nullptr, WNOHANG) == m_nPid) {
        m_nPid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_sWhyNot = "zkfiler serve did not start:\n" + Log();
    Stop();
    return false;
  }
  void Stop() {
    if (m_nPid <= 0) return;
    ::kill(m_nPid, SIGTERM);
    ::waitpid(m_nPid, nullptr, 0);
    m_nPid = -1;
  }
  int Port() const { return m_nPort; }
  const std::string& WhyNot() const { return m_sWhyNot; }
  std::string Log() const {
    std::ifstream oIn(m_sLog);
    std::ostringstream o;
    o << oIn.rdbuf();
    return o.str();
  }

 private:
  // zkfiler beside zksnap (build tree, or installed), else on the PATH.
  static std::string Zkfiler() {
    char aPath[4096];
    const ssize_t n = ::readlink("/proc/self/exe", aPath, sizeof(aPath) - 1);
    if (n > 0) {
      std::string sExe(aPath, static_cast<size_t>(n));
      const std::string sBeside =
          sExe.substr(0, sExe.rfind('/') + 1) + "zkfiler";
      if (::access(sBeside.c_str(), X_OK) == 0) return sBeside;
    }
    const char* pszPath = std::getenv("PATH");
    std::istringstream oPath(pszPath != nullptr ? pszPath : "");
    for (std::string sDir; std::getline(oPath, sDir, ':');) {
      const std::string s = (sDir.empty() ? "." : sDir) + "/zkfiler";
      if (::access(s.c_str(), X_OK) == 0) return s;
    }
    return "";
  }

  std::string m_sLog;
  std::string m_sZkfiler;
  std::string m_sWhyNot;
  int m_nPort = 0;
  pid_t m_nPid = -1;
};

// One step of the demo: what a person would type, and how to run it.
struct DemoStep {
  std::function<std::string()> fnCommand;
  std::function<int(Context&)> fnRun;
};

// Runs fnRun with the context's output captured; the captured text.
std::string Captured(const GlobalOptions& oOptions,
                     const std::function<int(Context&)>& fnRun, int* pExit) {
  char* pszBuf = nullptr;
  size_t nLen = 0;
  std::FILE* pOut = ::open_memstream(&pszBuf, &nLen);
  if (pOut == nullptr) throw HostError("cannot capture the output");
  std::exception_ptr pError;
  {
    Context z(oOptions, pOut, stderr);
    try {
      *pExit = fnRun(z);
    } catch (...) {
      pError = std::current_exception();
    }
  }
  std::fclose(pOut);
  std::string s(pszBuf, nLen);
  std::free(pszBuf);
  if (pError) std::rethrow_exception(pError);
  return s;
}

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
  DemoServer oServer(sDir);
  bool bServing = false;
  std::string sCloneCheckpoint;  // the writable checkpoint of nfs-home

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
  auto Text = [](const std::string& s) { return [s] { return s; }; };
  auto Quoted = [](const std::string& s) {
    return "'" + s.substr(0, s.size() - 1) + "'";
  };
  auto PutReport = [](const std::string& sText) {
    return [sText](Context& z) -> int {
      z.UseFilerStore(false);
      const zkfiler::Status o =
          zkfiler::PutData("", kReportFs, kReportPath, sText);
      if (!o.ok()) throw HostError(o.message());
      z.Out("wrote " + std::string(kReportPath) + " in " + kReportFs + "\n");
      return kExitSuccess;
    };
  };
  // Reads the report from sFs (a file system or checkpoint) in the data
  // directory, and checks it says sWant.
  auto GetReport = [](const std::function<std::string()>& fnFs,
                      const std::string& sWant) {
    return [fnFs, sWant](Context& z) -> int {
      z.UseFilerStore(false);
      std::string sContent;
      const zkfiler::Status o =
          zkfiler::GetData("", fnFs(), kReportPath, &sContent);
      if (!o.ok()) throw HostError(o.message());
      z.Out(sContent);
      if (sContent != sWant) {
        throw HostError("the demo expected " +
                        sWant.substr(0, sWant.size() - 1));
      }
      return kExitSuccess;
    };
  };
  const std::function<std::string()> fnClone = [&sCloneCheckpoint] {
    return sCloneCheckpoint;
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

  CloneArgs oCloneLs;
  oCloneLs.sRecord = "nfs-home";
  oCloneLs.sPath = kReportDir;
  CloneArgs oCloneCat = oCloneLs;
  oCloneCat.sPath = kReportPath;
  auto CloneCommand = [&oServer](const CloneArgs& c, const std::string& sOp) {
    return "zksnap clone " + sOp + " " + c.sRecord + " " + c.sPath +
           " --port " + std::to_string(oServer.Port());
  };
  auto ServeCommand = [&oServer] {
    return oServer.Plan()
               ? "zkfiler serve --port " + std::to_string(oServer.Port()) + " &"
               : std::string("zkfiler serve (skipped)");
  };
  const std::vector<DemoStep> vSteps = {
      {Text("zksnap init --demo"),
       [](Context& z) {
         return CmdInit(z, InitArgs{true, false});
       }},
      {Text("zksnap device add nfs-home --snap-name demo --nfs /fs_home "
            "--filer nas1.demo.zk"),
       Add(oNfs)},
      {Text("zksnap device add nas-finance --snap-name demo --nas "
            "/fs_finance --filer finance.demo.zk"),
       Add(oNas)},
      {Text("zksnap device add vmware-ds --snap-name demo --nfs /fs_vmware "
            "--filer nas1.demo.zk --vmware --esx esx1.demo.zk --vcenter "
            "vc1.demo.zk --vmkernel 10.20.0.5"),
       Add(oVMware)},
      {Text("zksnap device list"), [](Context& z) { return CmdDeviceList(z); }},
      // The backup proxy that mounts the snapshots of the non-VMware
      // devices: this machine, reading over the loopback address.
      {Text("zksnap config set sCelerraCommaSeparatedAccessHosts 127.0.0.1"),
       Config("sCelerraCommaSeparatedAccessHosts", "127.0.0.1")},
      {Text("zksnap config set sCelerraCommaSeparatedRWHosts 127.0.0.1"),
       Config("sCelerraCommaSeparatedRWHosts", "127.0.0.1")},
      {Text("zksnap supported '{kemtype:vmware,type:nfs,lunuuid:\\/fs_vmware,"
            "targethostname:nas1.demo.zk,vendor:celerra}'"),
       [](Context& z) {
         return CmdSupported(z,
                             "{kemtype:vmware,type:nfs,lunuuid:\\/fs_vmware,"
                             "targethostname:nas1.demo.zk,vendor:celerra}");
       }},
      // Production holds a report when the snap is taken...
      {Text("zkfiler data put " + std::string(kReportFs) + " " + kReportPath +
            " " + Quoted(kAtSnap)),
       PutReport(kAtSnap)},
      {Text("zksnap prepare --snap-name demo"), Op("prepare")},
      {Text("zksnap snap --snap-name demo"), Op("snap")},
      // ... and someone overwrites it afterwards.
      {Text("zkfiler data put " + std::string(kReportFs) + " " + kReportPath +
            " " + Quoted(kOverwritten)),
       PutReport(kOverwritten)},
      {Text("zkfiler data get " + std::string(kReportFs) + " " + kReportPath),
       GetReport(Text(kReportFs), kOverwritten)},
      {ServeCommand,
       [&](Context& z) {
         bServing = oServer.Start();
         oCloneLs.nPort = oCloneCat.nPort = oServer.Port();
         if (bServing) {
           z.Out(
               "serving the file server's exports over NFSv4 on "
               "127.0.0.1:" +
               std::to_string(oServer.Port()) + "\n");
         } else {
           z.Out("not serving over NFS: " + oServer.WhyNot() +
                 "\nthe clone is read from the file server's data "
                 "directory instead\n");
         }
         return kExitSuccess;
       }},
      {Text("zksnap map --snap-name demo"), Op("map")},
      {Text("zksnap filer show"),
       [&sCloneCheckpoint](Context& z) {
         Catalog& c = z.OpenCatalog(false, true);
         c.Begin(Catalog::Txn::kRead);
         std::optional<RecordRow> o = c.FindRecord("nfs-home");
         c.Rollback();
         if (o) sCloneCheckpoint = HeldCloneExport(*o);
         if (!sCloneCheckpoint.empty() && sCloneCheckpoint[0] == '/') {
           sCloneCheckpoint.erase(0, 1);
         }
         return CmdFilerShow(z);
       }},
      // The backup host reads the clone: the report as it was at the snap.
      {[&] {
         return bServing
                    ? CloneCommand(oCloneLs, "ls")
                    : "zkfiler data ls " + sCloneCheckpoint + " " + kReportDir;
       },
       [&](Context& z) -> int {
         if (bServing) return CmdCloneList(z, oCloneLs);
         z.UseFilerStore(false);
         std::vector<zkfiler::DataEntry> v;
         const zkfiler::Status o =
             zkfiler::ListData("", sCloneCheckpoint, kReportDir, &v);
         if (!o.ok()) throw HostError(o.message());
         for (const zkfiler::DataEntry& e : v) {
           z.Out(e.name + (e.is_dir ? "/" : "") + "\n");
         }
         return kExitSuccess;
       }},
      {[&] {
         return bServing ? CloneCommand(oCloneCat, "cat")
                         : "zkfiler data get " + sCloneCheckpoint + " " +
                               kReportPath;
       },
       [&](Context& z) -> int {
         if (!bServing) return GetReport(fnClone, kAtSnap)(z);
         int nExit = kExitSuccess;
         const std::string sRead = Captured(
             z.Options(),
             [&](Context& y) { return CmdCloneRead(y, oCloneCat); }, &nExit);
         z.Out(sRead);
         if (sRead != kAtSnap) {
           throw HostError(
               "the clone should hold the report as it was at "
               "the snap");
         }
         return nExit;
       }},
      {Text("zksnap unmap --snap-name demo"), Op("unmap")},
      {Text("zksnap revert --snap-name demo"), Op("revert")},
      // Production holds the report as it was at the snap again.
      {Text("zkfiler data get " + std::string(kReportFs) + " " + kReportPath),
       GetReport(Text(kReportFs), kAtSnap)},
      {Text("zksnap reconcile --snap-name demo"), Op("reconcile")},
      {Text("zksnap delete --snap-name demo"), Op("delete")},
      {Text("zksnap orphans"), [](Context& z) { return CmdOrphans(z); }},
  };

  int nExit = kExitSuccess;
  std::printf("zksnap demo: state directory %s\n", sDir.c_str());
  for (size_t i = 0; i < vSteps.size(); ++i) {
    std::printf("\n== step %zu: %s\n", i + 1, vSteps[i].fnCommand().c_str());
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
  if (bServing) {
    oServer.Stop();
    std::printf("\nzksnap demo: stopped the NFS server\n");
  }
  std::fflush(stdout);
  if (nExit == kExitSuccess) {
    std::printf(
        "\nzksnap demo: the whole lifecycle ran on NFS, NAS on a VDM "
        "and VMware devices.\n"
        "The clone of nfs-home held %s as it was at the snap (read %s), "
        "and revert gave it back to production.\n",
        kReportPath,
        bServing ? "over NFS"
                 : "from the data directory: NFS serving needs root and "
                   "nfs-ganesha");
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
