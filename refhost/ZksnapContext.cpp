// SPDX-License-Identifier: Apache-2.0
#include "refhost/ZksnapContext.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "filer/FilerSim.h"
#include "refhost/CatalogHost.h"
#include "refhost/ZksnapError.h"

namespace zkref {

namespace {

bool FileExists(const std::string& sPath) {
  struct stat oStat;
  return stat(sPath.c_str(), &oStat) == 0;
}

}  // namespace

Context::Context(GlobalOptions oOptions, std::FILE* pOut, std::FILE* pErr)
    : m_oOptions(std::move(oOptions)), m_pOut(pOut), m_pErr(pErr) {}

Context::~Context() = default;

Catalog& Context::OpenCatalog(bool bCreate, bool bReading) {
  if (!m_pCatalog) {
    const int nWaitMs = m_oOptions.nWaitSeconds < 0
                            ? 0
                            : (m_oOptions.nWaitSeconds > 86400
                                   ? 86400 * 1000
                                   : m_oOptions.nWaitSeconds * 1000);
    m_pCatalog =
        Catalog::Open(m_oOptions.sStateDir, bCreate, nWaitMs, bReading);
    for (const ArrayRow& oArray : m_pCatalog->Arrays()) {
      AddArrayTexts(oArray, &m_oLeaks);
    }
    if (std::getenv("ZK_HOSTS_FILE") == nullptr &&
        FileExists(HostsFilePath())) {
      setenv("ZK_HOSTS_FILE", HostsFilePath().c_str(), 1);
    }
  }
  return *m_pCatalog;
}

std::string Context::FilerDbPath() const {
  const char* pszEnv = std::getenv("ZK_FILER_DB");
  if (pszEnv != nullptr && *pszEnv != '\0') return pszEnv;
  return m_oOptions.sStateDir + "/filer.db";
}

std::string Context::HostsFilePath() const {
  return m_oOptions.sStateDir + "/hosts";
}

void Context::UseFilerStore(bool bCreate) {
  const std::string sPath = FilerDbPath();
  zkfiler::Status oStatus;
  if (bCreate) {
    const size_t nSlash = sPath.rfind('/');
    const std::string sDir =
        nSlash == std::string::npos ? "." : sPath.substr(0, nSlash + 1);
    if (!FileExists(sDir)) {
      throw HostError(std::getenv("ZK_FILER_DB") != nullptr &&
                              *std::getenv("ZK_FILER_DB") != '\0'
                          ? "no directory " + sDir + " for ZK_FILER_DB=" + sPath
                          : "no state directory " + m_oOptions.sStateDir +
                                " (run 'zksnap init' first, or give --state)");
    }
    oStatus = zkfiler::CreateStateFile(sPath);
  } else if (!FileExists(sPath)) {
    throw HostError("no simulated file server state at " + sPath +
                    " (run 'zksnap init', or 'zksnap filer load LAYOUT')");
  } else {
    oStatus = zkfiler::UseStateFile(sPath);
  }
  if (!oStatus.ok()) throw HostError(oStatus.message());
}

SnapPlugin& Context::Plugin() {
  if (!m_pPlugin) {
    m_pPlugin = SnapPlugin::Load(m_oOptions.sPluginPath.empty()
                                     ? DefaultPluginPath()
                                     : m_oOptions.sPluginPath);
  }
  return *m_pPlugin;
}

void Context::Out(const std::string& sText) {
  errno = 0;
  if ((std::fwrite(sText.data(), 1, sText.size(), m_pOut) != sText.size() ||
       std::fflush(m_pOut) != 0) &&
      m_nOutError == 0) {
    m_nOutError = errno != 0 ? errno : EIO;
  }
}

void Context::Err(const std::string& sText) {
  std::fwrite(sText.data(), 1, sText.size(), m_pErr);
  std::fflush(m_pErr);
}

std::string Context::DefaultPluginPath() {
  char aPath[4096];
  const ssize_t n = readlink("/proc/self/exe", aPath, sizeof(aPath) - 1);
  if (n <= 0) return "libzksnap_celerra.so";
  std::string sExe(aPath, static_cast<size_t>(n));
  const std::string sDir = sExe.substr(0, sExe.rfind('/') + 1);
  // Beside zksnap in the build tree; where it is installed otherwise.
  const std::string sBeside = sDir + "libzksnap_celerra.so";
  if (access(sBeside.c_str(), F_OK) == 0) return sBeside;
  return sDir + ZK_PLUGIN_FROM_BINDIR + "/libzksnap_celerra.so";
}

}  // namespace zkref
