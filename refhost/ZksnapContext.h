// SPDX-License-Identifier: Apache-2.0
// What every zksnap command works with: the global options, the state
// directory (catalog, simulated file server state, hosts file), the loaded
// plug-in and the output.
//
// Layout of a state directory:
//   catalog.db  the catalog (Catalog.h)
//   filer.db    the simulated file server's state, unless ZK_FILER_DB names
//               another file
//   hosts       names of the file servers (/etc/hosts syntax), used as
//               ZK_HOSTS_FILE unless that is set
//
// Everything printed goes through Out()/Err(). zksnap never prints an array
// password; texts of the plug-in are screened with Leaks() first.
//
// One Context per command; not thread-safe.
#ifndef ZK_REFHOST_ZKSNAPCONTEXT_H_
#define ZK_REFHOST_ZKSNAPCONTEXT_H_

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "refhost/Catalog.h"
#include "refhost/LeakCheck.h"
#include "refhost/SnapPlugin.h"

namespace zkref {

struct GlobalOptions {
  std::string sStateDir = ".zksnap";
  std::string sPluginPath;  // empty: DefaultPluginPath()
  bool bJson = false;
  int nWaitSeconds = 30;  // how long to wait for another zksnap
};

class Context {
 public:
  Context(GlobalOptions oOptions, std::FILE* pOut, std::FILE* pErr);
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  const GlobalOptions& Options() const { return m_oOptions; }
  bool Json() const { return m_oOptions.bJson; }

  // Opens the catalog once (see Catalog::Open); points ZK_HOSTS_FILE at the
  // state directory's hosts file when that exists and nothing else is set.
  // bReading: the command only reads, and works on a read-only state
  // directory too.
  Catalog& OpenCatalog(bool bCreate = false, bool bReading = false);
  // The simulated file server's state file: ZK_FILER_DB or STATE/filer.db.
  std::string FilerDbPath() const;
  std::string HostsFilePath() const;
  // Switches the process's simulated file server to the state file. With
  // bCreate an empty one is made when missing; without, a missing one is a
  // HostError that says how to make it.
  void UseFilerStore(bool bCreate);
  // Loads the plug-in on first use (HostError when it cannot).
  SnapPlugin& Plugin();

  // Passwords to look for in the plug-in's texts (LeakCheck.h).
  void AddSecret(const std::string& sSecret) { m_oLeaks.AddSecret(sSecret); }
  LeakCheck& Leaks() { return m_oLeaks; }
  void Out(const std::string& sText);
  void Err(const std::string& sText);
  // 0, or the errno of the first write to the output that failed.
  int OutError() const { return m_nOutError; }

  // libzksnap_celerra.so in the directory of the running executable when it
  // is there (the build tree), else the installed one, found relative to
  // that directory.
  static std::string DefaultPluginPath();

 private:
  GlobalOptions m_oOptions;
  std::FILE* m_pOut;
  std::FILE* m_pErr;
  std::unique_ptr<Catalog> m_pCatalog;
  std::unique_ptr<SnapPlugin> m_pPlugin;
  LeakCheck m_oLeaks;
  int m_nOutError = 0;
};

}  // namespace zkref

#endif  // ZK_REFHOST_ZKSNAPCONTEXT_H_
