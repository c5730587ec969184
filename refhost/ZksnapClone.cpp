// SPDX-License-Identifier: Apache-2.0
// zksnap clone ls|cat: the files of a mapped record's clone, read over NFS
// (NfsReader) from the server that serves its export, as the backup host
// that mounts it would see them.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "refhost/NfsReader.h"
#include "refhost/RecordHolding.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"

namespace zkref {

namespace {

// A path inside the clone: absolute, without "." or ".." parts.
std::string CheckClonePath(const std::string& sPath) {
  const std::string s = sPath.empty() ? "/" : sPath;
  if (s[0] != '/') {
    throw HostError("path [" + s + "] must start with / (the clone's root)",
                    kExitUsage);
  }
  if (s.find('\0') != std::string::npos) {
    throw HostError("path holds a NUL byte", kExitUsage);
  }
  size_t nStart = 1;
  while (nStart <= s.size()) {
    size_t nEnd = s.find('/', nStart);
    if (nEnd == std::string::npos) nEnd = s.size();
    const std::string sPart = s.substr(nStart, nEnd - nStart);
    if (sPart == "." || sPart == "..") {
      throw HostError("path [" + s + "] has a '" + sPart +
                          "' part: name the file from the clone's root",
                      kExitUsage);
    }
    nStart = nEnd + 1;
  }
  return s;
}

// The clone's export path: the snap device of a record that holds a map.
std::string CloneExport(Context& z, const std::string& sRecord) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  std::optional<RecordRow> o = c.FindRecord(sRecord);
  c.Rollback();
  if (!o) throw HostError("no record named " + sRecord);
  const std::string sExport = HeldCloneExport(*o);
  if (sExport.empty()) {
    throw HostError("record " + sRecord + " has no clone to read (status " +
                    StatusName(o->nStatus) + "): map it first");
  }
  if (sExport[0] != '/') {
    throw HostError("record " + sRecord + ": its clone [" + sExport +
                    "] is not an NFS export path");
  }
  return sExport;
}

// Mounts the clone; a freshly made export may take a moment to be served,
// so a refused mount is tried again until the timeout.
std::unique_ptr<NfsReader> MountClone(const std::string& sRecord,
                                      const std::string& sExport,
                                      const CloneArgs& a) {
  const std::string sWhere = a.sServer + ":" + std::to_string(a.nPort);
  if (a.sServer.empty()) throw HostError("--server names no host", kExitUsage);
  std::string sWhy;
  if (!NfsReader::Answers(a.sServer, a.nPort, &sWhy)) {
    throw HostError("nothing answers on " + sWhere + " (" + sWhy +
                    "): start the NFS server of the file server (as root: "
                    "'zkfiler serve --port " +
                    std::to_string(a.nPort) + "'), or give --server/--port");
  }
  const auto tEnd = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(a.nTimeoutMs);
  for (;;) {
    auto p = std::make_unique<NfsReader>();
    const std::string sError =
        p->Mount(a.sServer, a.nPort, sExport, a.nTimeoutMs);
    if (sError.empty()) return p;
    if (!p->Refused() || std::chrono::steady_clock::now() >= tEnd) {
      throw HostError("cannot read the clone of record " + sRecord +
                      ": NFS server " + sWhere + ": " + sError +
                      " (the export must be on the file server and name this "
                      "host among its access hosts: 'zksnap filer show' "
                      "lists them)");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::string ModeText(uint32_t nMode) {
  char a[8];
  std::snprintf(a, sizeof a, "%04o", nMode);
  return a;
}

}  // namespace

int CmdCloneList(Context& z, const CloneArgs& a) {
  const std::string sPath = CheckClonePath(a.sPath);
  const std::string sExport = CloneExport(z, a.sRecord);
  std::unique_ptr<NfsReader> p = MountClone(a.sRecord, sExport, a);
  std::vector<NfsReader::Entry> v;
  const std::string sError = p->List(sPath, &v);
  if (!sError.empty()) {
    throw HostError("record " + a.sRecord + ", clone " + sExport + ": " +
                    sError);
  }
  if (z.Json()) {
    Json oList = Json::Array();
    for (const NfsReader::Entry& e : v) {
      oList.Push(Json::Object()
                     .Set("name", e.sName)
                     .Set("type", e.sType)
                     .Set("size", Json::Int(static_cast<int64_t>(e.nSize)))
                     .Set("mode", ModeText(e.nMode)));
    }
    z.Out(oList.Dump() + "\n");
    return kExitSuccess;
  }
  Table t({"NAME", "TYPE", "SIZE", "MODE"});
  for (const NfsReader::Entry& e : v) {
    t.AddRow({e.sName, e.sType, std::to_string(e.nSize), ModeText(e.nMode)});
  }
  z.Out(t.Render());
  return kExitSuccess;
}

int CmdCloneRead(Context& z, const CloneArgs& a) {
  const std::string sPath = CheckClonePath(a.sPath);
  if (sPath == "/") {
    throw HostError("name a file of the clone to read ('clone ls' lists them)",
                    kExitUsage);
  }
  const std::string sExport = CloneExport(z, a.sRecord);
  std::unique_ptr<NfsReader> p = MountClone(a.sRecord, sExport, a);
  // Output that cannot be written (a closed pipe) ends the read; the
  // command then fails as every command does on it.
  const std::string sError = p->Read(sPath, [&](const char* pData, size_t n) {
    z.Out(std::string(pData, n));
    return z.OutError() == 0;
  });
  if (z.OutError() != 0) return kExitSuccess;
  if (!sError.empty()) {
    throw HostError("record " + a.sRecord + ", clone " + sExport + ": " +
                    sError);
  }
  return kExitSuccess;
}

}  // namespace zkref
