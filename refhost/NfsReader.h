// SPDX-License-Identifier: Apache-2.0
// Reads the files of an NFS export without a kernel mount, as a backup host
// reads a mapped clone: NFSv4 over TCP with libnfs, as the local user
// (root squashing applies as the export says).
//
// Every function returns "" when it worked, else what went wrong in words
// (libnfs's own error text included). Not thread-safe: one reader per
// thread.
#ifndef ZK_REFHOST_NFSREADER_H_
#define ZK_REFHOST_NFSREADER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct nfs_context;

namespace zkref {

class NfsReader {
 public:
  struct Entry {
    std::string sName;
    std::string sType;  // "file", "dir", "link" or "other"
    uint64_t nSize = 0;
    uint32_t nMode = 0;  // permission bits
  };

  NfsReader();
  ~NfsReader();
  NfsReader(const NfsReader&) = delete;
  NfsReader& operator=(const NfsReader&) = delete;

  // Whether anything accepts a TCP connection at sServer:nPort (an IPv4
  // address or a name, resolved to IPv4); a quick check before a mount that
  // would wait. When nothing does, *pWhy says why (the name does not
  // resolve, or the connection's error).
  static bool Answers(const std::string& sServer, int nPort, std::string* pWhy);

  // Mounts sExport (its path on the server, "/fs_home") from sServer (an
  // IPv4 address or a name) at nPort. Each request waits at most
  // nTimeoutMs.
  std::string Mount(const std::string& sServer, int nPort,
                    const std::string& sExport, int nTimeoutMs);
  // After a failed Mount: whether the server answered and refused it (an
  // export not there yet may be served a moment later), rather than the
  // request not being made at all.
  bool Refused() const { return m_bRefused; }
  // The entries of the directory sPath ("/" is the export's root), without
  // "." and "..", sorted by name. A symbolic link on the way is an error
  // that names it (as for Read): links are not followed.
  std::string List(const std::string& sPath, std::vector<Entry>* pEntries);
  // Reads the file sPath, passing its bytes to fnWrite in pieces; stops
  // with an error when fnWrite returns false.
  std::string Read(const std::string& sPath,
                   const std::function<bool(const char*, size_t)>& fnWrite);

 private:
  std::string Error(const std::string& sWhat) const;
  // sPath checked part by part without following links, in *pResolved;
  // an error naming the first part that is a symbolic link (never handed
  // to libnfs, whose NFSv4 link reading overruns its buffer) or that cannot
  // be looked at. sWhat ("read", "list") words the latter.
  std::string Resolve(const std::string& sPath, const std::string& sWhat,
                      std::string* pResolved);
  nfs_context* m_pNfs = nullptr;
  bool m_bMounted = false;
  bool m_bRefused = false;
};

}  // namespace zkref

#endif  // ZK_REFHOST_NFSREADER_H_
