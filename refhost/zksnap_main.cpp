// SPDX-License-Identifier: Apache-2.0
// zksnap: the reference host. Keeps host records in a SQLite catalog, loads
// the plug-in with dlopen and runs every operation on it. See docs/zksnap.md.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "hostenv/ZkLogSink.h"
#include "refhost/CatalogHost.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
#include "zk_version.h"

namespace {

// The plug-in's debug log on stderr: lines up to a level (ZK_DEBUG_LEVEL, or
// -v; none by default) and, once -v is given, the error output. A line
// that holds an array password is withheld (LeakCheck.h).
class StderrSink : public ZkLogSink {
 public:
  StderrSink(int nLevel, zkref::Context* pContext)
      : m_nLevel(nLevel), m_pContext(pContext) {}
  bool Wants(ZkLogLine::Stream eStream, int nLevel) const override {
    if (eStream == ZkLogLine::kError) return m_nLevel >= -1;
    return nLevel <= m_nLevel;
  }
  void Write(const ZkLogLine& oLine) override {
    std::string s = oLine.ToString();
    if (m_pContext != nullptr) s = m_pContext->Leaks().Screen(s);
    std::fprintf(stderr, "%s\n", s.c_str());
  }

 private:
  int m_nLevel;
  zkref::Context* m_pContext;
};

// Flushes standard output; a write that failed is "cannot write the
// output" on stderr and exit 1, whatever the command did.
int FinishOutput(int nExit) {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    const int nError = errno != 0 ? errno : EIO;
    std::fprintf(stderr, "zksnap: cannot write the output: %s\n",
                 std::strerror(nError));
    return nExit == zkref::kExitSuccess ? zkref::kExitError : nExit;
  }
  return nExit;
}

// zksnap's version, and that of the plug-in it loads by default (or the
// one --plugin names, when it comes first). A plug-in that does not load is
// an error (exit 1), after zksnap's own version.
int PrintVersion(const std::string& sPluginPath, bool bJson) {
  const std::string sPath =
      sPluginPath.empty() ? zkref::Context::DefaultPluginPath() : sPluginPath;
  std::unique_ptr<zkref::SnapPlugin> p;
  std::string sError;
  try {
    p = zkref::SnapPlugin::Load(sPath);
  } catch (const zkref::HostError& e) {
    sError = e.what();
  }
  if (bJson) {
    zkref::Json o = zkref::Json::Object();
    o.Set("zksnap", ZK_VERSION);
    if (p) {
      o.Set(
          "plugin",
          zkref::Json::Object()
              .Set("path",
                   std::filesystem::path(p->Path()).lexically_normal().string())
              .Set("version", p->Version()));
    } else {
      o.Set("plugin", zkref::Json());
    }
    std::printf("%s\n", o.Dump().c_str());
  } else {
    std::printf("zksnap %s\n", ZK_VERSION);
    if (p) {
      std::printf("plug-in %s %s\n",
                  std::filesystem::path(p->Path()).lexically_normal().c_str(),
                  p->Version().c_str());
    }
  }
  int nExit = zkref::kExitSuccess;
  if (!p) {
    std::fflush(stdout);
    std::fprintf(stderr, "zksnap: cannot load the plug-in: %s\n",
                 zkref::EscapeControls(sError).c_str());
    nExit = zkref::kExitError;
  }
  return FinishOutput(nExit);
}

extern "C" void OnSignal(int nSignal) {
  const char* psz =
      zkref::g_nCatalogCommitted
          ? "zksnap: interrupted; the command's changes were already saved\n"
          : "zksnap: interrupted; the catalog is as it was before this "
            "command\n";
  ssize_t n = write(STDERR_FILENO, psz, std::strlen(psz));
  (void)n;
  _exit(128 + nSignal);
}

}  // namespace

int main(int argc, char** argv) {
  for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) std::signal(nSignal, OnSignal);
  // A closed pipe is a failed write ("cannot write the output", exit 1),
  // never a silent death after the work was kept.
  std::signal(SIGPIPE, SIG_IGN);

  using namespace zkref;
  GlobalOptions oGlobal;
  int nVerbose = 0;
  CLI::App app{
      "zksnap: the reference host of the Celerra/VNX snapshot plug-in.\n"
      "Keeps host records in a catalog (--state DIR), loads the plug-in and "
      "runs its operations.\nExit status: 0 success, 1 error, 2 usage, 3 "
      "partial success, 4 failure, 5 catalog busy, 128+N stopped by signal "
      "N.",
      "zksnap"};
  app.fallthrough();
  app.require_subcommand(1);
  app.add_option("--state", oGlobal.sStateDir,
                 "state directory (catalog, file server state, hosts file)")
      ->envname("ZKSNAP_STATE")
      ->capture_default_str();
  app.add_option("--plugin", oGlobal.sPluginPath,
                 "plug-in to load (default: libzksnap_celerra.so beside "
                 "zksnap, else the installed one)");
  app.add_flag("--json", oGlobal.bJson, "JSON output for scripts");
  app.add_option("--wait", oGlobal.nWaitSeconds,
                 "seconds to wait for another zksnap using the catalog")
      ->check(CLI::Range(0, 86400))
      ->capture_default_str();
  app.add_flag("--version", "print the versions of zksnap and the plug-in");
  app.add_flag("-v,--verbose", nVerbose,
               "show the plug-in's debug log (repeat for more)");

  std::function<int(Context&)> fnRun;
  auto Selected = [](CLI::App* p, Selection* s) {
    p->add_option("records", s->vRecords, "record names");
    p->add_option("--snap-name", s->sSnapName, "every record of a snap group");
    p->add_flag("--all", s->bAll, "every record");
  };

  // init
  InitArgs oInit;
  auto* pInit = app.add_subcommand("init", "make an empty catalog");
  pInit->add_flag("--demo", oInit.bDemo,
                  "also lay out the demo file server and register it");
  pInit->add_flag("--force", oInit.bForce,
                  "with --demo: replace an existing demo file server and "
                  "hosts file");
  pInit->callback(
      [&] { fnRun = [&](Context& z) { return CmdInit(z, oInit); }; });

  // demo
  DemoArgs oDemo;
  auto* pDemo = app.add_subcommand(
      "demo", "run the whole lifecycle in a fresh temporary state directory");
  pDemo->add_flag("--keep", oDemo.bKeep, "keep the state directory");
  pDemo->callback(
      [&] { fnRun = [&](Context&) { return CmdDemo(oGlobal, oDemo); }; });

  // array
  auto* pArray = app.add_subcommand("array", "the array management database");
  pArray->require_subcommand(1);
  ArrayAddArgs oArrayAdd;
  auto* pArrayAdd = pArray->add_subcommand("add", "register a file server");
  pArrayAdd
      ->add_option("name", oArrayAdd.sName,
                   "name the devices give the file server")
      ->required();
  pArrayAdd
      ->add_option("--control-host", oArrayAdd.sControlHost,
                   "control host of the file server")
      ->required();
  pArrayAdd->add_option("--user", oArrayAdd.sUser, "login user")->required();
  pArrayAdd->add_option("--vendor", oArrayAdd.sVendor, "vendor name")
      ->capture_default_str();
  pArrayAdd->add_option("--array-id", oArrayAdd.sArrayId, "array id");
  pArrayAdd->add_option("--engine", oArrayAdd.sEngine, "engine name")
      ->capture_default_str();
  pArrayAdd
      ->add_option("--address", oArrayAdd.vAddresses,
                   "further name or IP address it is known by")
      ->delimiter(',');
  pArrayAdd->add_option("--password-file", oArrayAdd.sPasswordFile,
                        "read the password from the first line of a file");
  pArrayAdd->add_option("--password-env", oArrayAdd.sPasswordEnv,
                        "read the password from an environment variable");
  pArrayAdd->add_flag("--password-stdin", oArrayAdd.bPasswordStdin,
                      "read the password from standard input");
  pArrayAdd->callback(
      [&] { fnRun = [&](Context& z) { return CmdArrayAdd(z, oArrayAdd); }; });
  pArray->add_subcommand("list", "list the arrays")->callback([&] {
    fnRun = [](Context& z) { return CmdArrayList(z); };
  });
  std::string sArrayRemove;
  bool bArrayForce = false;
  auto* pArrayRemove = pArray->add_subcommand("remove", "remove an array");
  pArrayRemove->add_option("name", sArrayRemove, "array name")->required();
  pArrayRemove->add_flag("--force", bArrayForce,
                         "even when records are bound to it");
  pArrayRemove->callback([&] {
    fnRun = [&](Context& z) {
      return CmdArrayRemove(z, sArrayRemove, bArrayForce);
    };
  });

  // device
  auto* pDevice = app.add_subcommand("device", "host records (source devices)");
  pDevice->require_subcommand(1);
  DeviceAddArgs oDeviceAdd;
  auto* pDeviceAdd = pDevice->add_subcommand("add", "add a record");
  pDeviceAdd->add_option("name", oDeviceAdd.sName, "record name")->required();
  pDeviceAdd
      ->add_option("--snap-name", oDeviceAdd.sSnapName,
                   "snap group: the snap name the host asks for")
      ->capture_default_str();
  pDeviceAdd->add_option("--nfs", oDeviceAdd.sNfsExport,
                         "an NFS export path on the file server");
  pDeviceAdd->add_option("--nas", oDeviceAdd.sNasPath,
                         "a path in a file system reached natively");
  pDeviceAdd->add_option("--identifier", oDeviceAdd.sIdentifier,
                         "a device identifier {key:value,...} as is");
  pDeviceAdd->add_option("--filer", oDeviceAdd.sFiler,
                         "the file server's name or address");
  pDeviceAdd->add_flag("--vmware", oDeviceAdd.bVMware,
                       "a VMware datastore (kemtype vmware)");
  pDeviceAdd->add_option("--esx", oDeviceAdd.sEsx,
                         "ESX host that mounts the snapshot (VMware)");
  pDeviceAdd->add_option("--vcenter", oDeviceAdd.sVCenter, "vCenter name");
  pDeviceAdd
      ->add_option("--vmkernel", oDeviceAdd.vVMKernel, "VMkernel IP addresses")
      ->delimiter(',');
  pDeviceAdd->add_option(
      "--host-identifier", oDeviceAdd.sHostIdentifier,
      "a mount host identifier {vcname:..,esxname:..} as is");
  pDeviceAdd
      ->add_option("--mount-source", oDeviceAdd.nMountSource,
                   "mount request source the host reports (value 7)")
      ->capture_default_str();
  pDeviceAdd->callback(
      [&] { fnRun = [&](Context& z) { return CmdDeviceAdd(z, oDeviceAdd); }; });
  pDevice->add_subcommand("list", "list the records")->callback([&] {
    fnRun = [](Context& z) { return CmdDeviceList(z); };
  });
  std::string sDeviceName;
  bool bDeviceForce = false;
  auto* pDeviceShow = pDevice->add_subcommand("show", "one record in full");
  pDeviceShow->add_option("name", sDeviceName, "record name")->required();
  pDeviceShow->callback([&] {
    fnRun = [&](Context& z) { return CmdDeviceShow(z, sDeviceName); };
  });
  auto* pDeviceRemove = pDevice->add_subcommand("remove", "remove a record");
  pDeviceRemove->add_option("name", sDeviceName, "record name")->required();
  pDeviceRemove->add_flag("--force", bDeviceForce,
                          "even when it still names a checkpoint");
  pDeviceRemove->callback([&] {
    fnRun = [&](Context& z) {
      return CmdDeviceRemove(z, sDeviceName, bDeviceForce);
    };
  });

  // operations
  Selection oSelection;
  struct OpHelp {
    const char* pszName;
    const char* pszHelp;
  };
  const OpHelp aOps[] = {
      {"prepare", "find each device's file system and name its checkpoint"},
      {"unprepare", "forget the prepared file system facts"},
      {"snap", "create the checkpoints"},
      {"map", "export a writable checkpoint of each snapshot"},
      {"unmap", "remove the export and the writable checkpoint"},
      {"delete", "delete the checkpoints"},
      {"revert", "restore the file systems from their checkpoints"},
      {"reconcile", "check that the checkpoints still exist"},
  };
  std::string sOperation;
  for (const OpHelp& o : aOps) {
    auto* p = app.add_subcommand(o.pszName, o.pszHelp);
    Selected(p, &oSelection);
    const std::string sOp = o.pszName;
    if (sOp == "prepare" || sOp == "unprepare" || sOp == "delete" ||
        sOp == "unmap" || sOp == "snap") {
      p->add_flag("--force", oSelection.bForce,
                  "even when a record still holds a checkpoint this would "
                  "lose track of, records left out share what this removes, "
                  "or (snap) the records already hold their checkpoint");
    }

    const std::string sName = o.pszName;
    p->callback([&, sName] {
      sOperation = sName;
      fnRun = [&](Context& z) {
        return CmdOperation(z, sOperation, oSelection);
      };
    });
  }

  std::string sIdentifier;
  auto* pSupported =
      app.add_subcommand("supported", "ask the plug-in about a device");
  pSupported->add_option("identifier", sIdentifier, "device identifier")
      ->required();
  pSupported->callback([&] {
    fnRun = [&](Context& z) { return CmdSupported(z, sIdentifier); };
  });

  auto* pStatus = app.add_subcommand("status", "the records and their state");
  pStatus->add_option("records", oSelection.vRecords, "record names");
  pStatus->add_option("--snap-name", oSelection.sSnapName, "one snap group");
  pStatus->callback(
      [&] { fnRun = [&](Context& z) { return CmdStatus(z, oSelection); }; });

  std::string sLogRecord;
  uint64_t nLogJob = 0;
  auto* pLog = app.add_subcommand("log", "the job log");
  pLog->add_option("record", sLogRecord, "only this record");
  pLog->add_option("--job", nLogJob, "only this job");
  pLog->callback([&] {
    fnRun = [&](Context& z) { return CmdLog(z, sLogRecord, nLogJob); };
  });

  auto* pFiler = app.add_subcommand("filer", "the simulated file server");
  pFiler->require_subcommand(1);
  pFiler->add_subcommand("show", "file systems, checkpoints and exports")
      ->callback([&] { fnRun = [](Context& z) { return CmdFilerShow(z); }; });
  std::string sLayout;
  auto* pFilerLoad = pFiler->add_subcommand("load", "install a layout file");
  pFilerLoad->add_option("layout", sLayout, "layout file")->required();
  bool bFilerForce = false;
  pFilerLoad->add_flag("--force", bFilerForce,
                       "even over a file server that records still use");
  pFilerLoad->callback([&] {
    fnRun = [&](Context& z) { return CmdFilerLoad(z, sLayout, bFilerForce); };
  });

  // clone: the files of a mapped record's clone, read over NFS
  auto* pClone = app.add_subcommand(
      "clone", "read a mapped record's clone over NFS (no kernel mount)");
  pClone->require_subcommand(1);
  CloneArgs oClone;
  double dCloneTimeout = 5;
  auto* pCloneLs =
      pClone->add_subcommand("ls", "list a directory of the clone");
  pCloneLs->add_option("record", oClone.sRecord, "record name")->required();
  pCloneLs->add_option("path", oClone.sPath, "directory (default: /)");
  auto* pCloneCat =
      pClone->add_subcommand("cat", "print a file of the clone as it is");
  pCloneCat->add_option("record", oClone.sRecord, "record name")->required();
  pCloneCat->add_option("path", oClone.sPath, "file, from the clone's root")
      ->required();
  for (CLI::App* pSub : {pCloneLs, pCloneCat}) {
    pSub->add_option("--server", oClone.sServer,
                     "the NFS server serving the export")
        ->capture_default_str();
    pSub->add_option("--port", oClone.nPort, "its port")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    pSub->add_option("--timeout", dCloneTimeout,
                     "seconds to wait for the export to be served, and for "
                     "each reply")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
  }
  pCloneLs->callback([&] {
    oClone.nTimeoutMs = static_cast<int>(dCloneTimeout * 1000);
    fnRun = [&](Context& z) { return CmdCloneList(z, oClone); };
  });
  pCloneCat->callback([&] {
    oClone.nTimeoutMs = static_cast<int>(dCloneTimeout * 1000);
    fnRun = [&](Context& z) { return CmdCloneRead(z, oClone); };
  });

  OrphansArgs oOrphans;
  auto* pOrphans = app.add_subcommand(
      "orphans",
      "checkpoints and exports that no record names; with --remove, remove "
      "them through the plug-in's unmap and delete");
  pOrphans->add_option(
      "names", oOrphans.vNames,
      "with --remove: only these checkpoints (by name) and checkpoint exports "
      "(by path); a writable checkpoint takes its export with it");
  pOrphans->add_flag(
      "--remove", oOrphans.bRemove,
      "remove them (a writable checkpoint's export, the writable checkpoint, "
      "then the read-only checkpoint), keeping what a record names or a "
      "record's intent may own, and saying why; asks at the terminal first");
  pOrphans->add_flag("--yes", oOrphans.bYes,
                     "with --remove: do not ask (needed without a terminal)");
  pOrphans->callback([&] {
    if (!oOrphans.bRemove && (oOrphans.bYes || !oOrphans.vNames.empty())) {
      throw CLI::ValidationError(
          "orphans: NAMEs and --yes go with --remove only");
    }
    fnRun = [&](Context& z) { return CmdOrphans(z, oOrphans); };
  });

  auto* pConfig = app.add_subcommand("config", "configuration values");
  pConfig->require_subcommand(1);
  std::string sSection, sKey, sValue;
  auto* pConfigSet = pConfig->add_subcommand("set", "set a value");
  pConfigSet->add_option("key", sKey, "key")->required();
  pConfigSet->add_option("value", sValue, "value")->required();
  pConfigSet->add_option("--section", sSection, "section (default: none)");
  bool bConfigForce = false;
  pConfigSet->add_flag("--force", bConfigForce,
                       "even a key the plug-in does not read");
  pConfigSet->callback([&] {
    fnRun = [&](Context& z) {
      return CmdConfigSet(z, sSection, sKey, sValue, bConfigForce);
    };
  });
  auto* pConfigGet = pConfig->add_subcommand("get", "print a value");
  pConfigGet->add_option("key", sKey, "key")->required();
  pConfigGet->add_option("--section", sSection, "section (default: none)");
  pConfigGet->callback([&] {
    fnRun = [&](Context& z) { return CmdConfigGet(z, sSection, sKey); };
  });
  auto* pConfigUnset = pConfig->add_subcommand("unset", "remove a value");
  pConfigUnset->add_option("key", sKey, "key")->required();
  pConfigUnset->add_option("--section", sSection, "section (default: none)");
  pConfigUnset->callback([&] {
    fnRun = [&](Context& z) { return CmdConfigUnset(z, sSection, sKey); };
  });
  pConfig->add_subcommand("list", "every value")->callback([&] {
    fnRun = [](Context& z) { return CmdConfigList(z); };
  });

  // CLI11 would only say that a subcommand is required; name the word.
  bool bJsonFirst = false;  // --json before --version
  for (int i = 1; i < argc; ++i) {
    const std::string sArg = argv[i];
    if (sArg == "--state" || sArg == "--plugin" || sArg == "--wait") {
      if (sArg == "--plugin" && i + 1 < argc) oGlobal.sPluginPath = argv[i + 1];
      ++i;
      continue;
    }
    if (sArg == "--json") bJsonFirst = true;
    if (sArg == "--version") {
      return PrintVersion(oGlobal.sPluginPath, bJsonFirst);
    }
    if (sArg.empty() || sArg[0] == '-') continue;
    bool bKnown = false;
    for (const CLI::App* p :
         app.get_subcommands([](CLI::App*) { return true; })) {
      bKnown |= p->get_name() == sArg;
    }
    if (!bKnown) {
      std::fprintf(stderr,
                   "zksnap: unknown command \"%s\" (see zksnap --help)\n",
                   sArg.c_str());
      return kExitUsage;
    }
    break;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int nCode = app.exit(e);
    return FinishOutput(nCode == 0 ? kExitSuccess : kExitUsage);
  }

  int nLevel =
      nVerbose == 0 ? -2 : (nVerbose == 1 ? -1 : (nVerbose == 2 ? 0 : 5));
  if (const char* psz = std::getenv("ZK_DEBUG_LEVEL")) nLevel = std::atoi(psz);
  Context oContext(oGlobal, stdout, stderr);
  StderrSink oSink(nLevel, &oContext);
  ZkSetLogSink(&oSink);
  int nExit;
  try {
    nExit = fnRun(oContext);
  } catch (const HostError& e) {
    oContext.Err("zksnap: " + EscapeControls(e.what()) + "\n");
    nExit = e.ExitCode();
  } catch (const std::exception& e) {
    oContext.Err("zksnap: unexpected error: " + EscapeControls(e.what()) +
                 "\n");
    nExit = kExitError;
  }
  ZkSetLogSink(nullptr);
  // Output that did not reach its file is a failed command, whatever the
  // command itself did.
  errno = 0;
  int nOutError = oContext.OutError();
  if (nOutError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    nOutError = errno != 0 ? errno : EIO;
  }
  if (nOutError != 0) {
    std::fprintf(stderr, "zksnap: cannot write the output: %s\n",
                 std::strerror(nOutError));
    if (nExit == kExitSuccess) nExit = kExitError;
  }
  return nExit;
}
