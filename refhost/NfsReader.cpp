// SPDX-License-Identifier: Apache-2.0
#include "refhost/NfsReader.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <nfsc/libnfs.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zkref {

NfsReader::NfsReader() : m_pNfs(nfs_init_context()) {}

NfsReader::~NfsReader() {
  // An NFSv4 mount holds nothing on the server to give back.
  if (m_pNfs != nullptr) nfs_destroy_context(m_pNfs);
}

bool NfsReader::Answers(const std::string& sServer, int nPort,
                        std::string* pWhy) {
  addrinfo oHints{};
  oHints.ai_family = AF_INET;
  oHints.ai_socktype = SOCK_STREAM;
  addrinfo* pList = nullptr;
  const std::string sPort = std::to_string(nPort);
  if (sServer.empty() ||
      getaddrinfo(sServer.c_str(), sPort.c_str(), &oHints, &pList) != 0) {
    *pWhy = "the name does not resolve to an IPv4 address";
    return false;
  }
  bool bOk = false;
  for (addrinfo* p = pList; p != nullptr && !bOk; p = p->ai_next) {
    const int fd =
        ::socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
    if (fd < 0) {
      *pWhy = std::strerror(errno);
      continue;
    }
    bOk = ::connect(fd, p->ai_addr, p->ai_addrlen) == 0;
    if (!bOk) *pWhy = std::strerror(errno);
    ::close(fd);
  }
  freeaddrinfo(pList);
  return bOk;
}

std::string NfsReader::Error(const std::string& sWhat) const {
  const char* psz = m_pNfs != nullptr ? nfs_get_error(m_pNfs) : nullptr;
  return sWhat + ": " +
         (psz != nullptr && *psz != '\0' ? psz : "no reason given");
}

namespace {

std::vector<std::string> Parts(const std::string& sPath) {
  std::vector<std::string> v;
  size_t nStart = 0;
  while (nStart <= sPath.size()) {
    size_t nEnd = sPath.find('/', nStart);
    if (nEnd == std::string::npos) nEnd = sPath.size();
    if (nEnd > nStart) v.push_back(sPath.substr(nStart, nEnd - nStart));
    nStart = nEnd + 1;
  }
  return v;
}

}  // namespace

std::string NfsReader::Resolve(const std::string& sPath,
                               const std::string& sWhat,
                               std::string* pResolved) {
  // libnfs follows a link on the client side by reading it, and its NFSv4
  // link reading overruns the target it received (seen with libnfs 4.0:
  // garbage after the target, or a failure with no reason given for a
  // link out of the export). So no link is ever given to it: each part of
  // the path is looked at without following, and a link is refused.
  std::string sHere;
  for (const std::string& sPart : Parts(sPath)) {
    sHere += "/" + sPart;
    nfs_stat_64 st{};
    if (nfs_lstat64(m_pNfs, sHere.c_str(), &st) != 0) {
      return Error("cannot " + sWhat + " " + sPath);
    }
    if ((st.nfs_mode & S_IFMT) == S_IFLNK) {
      return sHere +
             " is a symbolic link: not followed (it may lead out of the "
             "clone; 'clone ls' lists links as such)";
    }
  }
  *pResolved = sHere.empty() ? "/" : sHere;
  return "";
}

std::string NfsReader::Mount(const std::string& sServer, int nPort,
                             const std::string& sExport, int nTimeoutMs) {
  m_bRefused = false;
  if (m_pNfs == nullptr) return "cannot make an NFS client context";
  if (m_bMounted) return "already mounted";
  if (sExport.empty() || sExport[0] != '/') {
    return "export path [" + sExport + "] does not start with /";
  }
  // The port can only be given in a URL; the URL names the export too.
  const std::string sUrl = "nfs://" + sServer + sExport +
                           "?version=4&nfsport=" + std::to_string(nPort);
  nfs_url* pUrl = nfs_parse_url_dir(m_pNfs, sUrl.c_str());
  if (pUrl == nullptr) return Error("cannot use " + sUrl);
  nfs_set_timeout(m_pNfs, nTimeoutMs);
  const int n = nfs_mount(m_pNfs, pUrl->server, pUrl->path);
  nfs_destroy_url(pUrl);
  if (n != 0) {
    m_bRefused = true;
    return Error("mount of " + sExport + " refused");
  }
  m_bMounted = true;
  return "";
}

std::string NfsReader::List(const std::string& sPath,
                            std::vector<Entry>* pEntries) {
  pEntries->clear();
  if (!m_bMounted) return "not mounted";
  std::string sDir;
  const std::string sWhy = Resolve(sPath, "list", &sDir);
  if (!sWhy.empty()) return sWhy;
  nfsdir* pDir = nullptr;
  if (nfs_opendir(m_pNfs, sDir.c_str(), &pDir) != 0) {
    return Error("cannot list " + sPath);
  }
  while (nfsdirent* e = nfs_readdir(m_pNfs, pDir)) {
    if (std::strcmp(e->name, ".") == 0 || std::strcmp(e->name, "..") == 0) {
      continue;
    }
    Entry o;
    o.sName = e->name;
    switch (e->mode & S_IFMT) {
      case S_IFREG:
        o.sType = "file";
        break;
      case S_IFDIR:
        o.sType = "dir";
        break;
      case S_IFLNK:
        o.sType = "link";
        break;
      default:
        o.sType = "other";
        break;
    }
    o.nSize = e->size;
    o.nMode = e->mode & 07777;
    pEntries->push_back(o);
  }
  nfs_closedir(m_pNfs, pDir);
  std::sort(pEntries->begin(), pEntries->end(),
            [](const Entry& a, const Entry& b) { return a.sName < b.sName; });
  return "";
}

std::string NfsReader::Read(
    const std::string& sPath,
    const std::function<bool(const char*, size_t)>& fnWrite) {
  if (!m_bMounted) return "not mounted";
  std::string sFile;
  const std::string sWhy = Resolve(sPath, "read", &sFile);
  if (!sWhy.empty()) return sWhy;
  nfs_stat_64 st{};
  if (nfs_stat64(m_pNfs, sFile.c_str(), &st) != 0) {
    return Error("cannot read " + sPath);
  }
  if ((st.nfs_mode & S_IFMT) == S_IFDIR) return sPath + " is a directory";
  nfsfh* pFile = nullptr;
  if (nfs_open(m_pNfs, sFile.c_str(), O_RDONLY, &pFile) != 0) {
    return Error("cannot open " + sPath);
  }
  std::string sError;
  static const size_t kChunk = 1 << 20;
  std::vector<char> vBuf(kChunk);
  for (;;) {
    const int n = nfs_read(m_pNfs, pFile, kChunk, vBuf.data());
    if (n < 0) {
      sError = Error("cannot read " + sPath);
      break;
    }
    if (n == 0) break;
    if (!fnWrite(vBuf.data(), static_cast<size_t>(n))) {
      sError = "cannot write what was read of " + sPath;
      break;
    }
  }
  nfs_close(m_pNfs, pFile);
  return sError;
}

}  // namespace zkref
