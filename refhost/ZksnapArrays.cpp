// SPDX-License-Identifier: Apache-2.0
// zksnap array and config commands: the array management database and the
// configuration values the plug-in reads.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "nfsserve/ServeRules.h"
#include "refhost/ZksnapCommands.h"
#include "refhost/ZksnapError.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

namespace {

std::string StripLineEnd(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string PasswordFromTerminal(const std::string& sArray) {
  std::FILE* pTty = std::fopen("/dev/tty", "r+");
  if (pTty == nullptr) {
    throw HostError("no terminal to ask for the password of array " + sArray +
                        ": give --password-file FILE, --password-env VAR or "
                        "--password-stdin",
                    kExitUsage);
  }
  std::fprintf(pTty, "Password for array %s: ", sArray.c_str());
  std::fflush(pTty);
  struct termios oOld;
  const bool bTerm = tcgetattr(fileno(pTty), &oOld) == 0;
  if (bTerm) {
    struct termios oQuiet = oOld;
    oQuiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fileno(pTty), TCSAFLUSH, &oQuiet);
  }
  char aLine[1024];
  const bool bRead = std::fgets(aLine, sizeof(aLine), pTty) != nullptr;
  if (bTerm) tcsetattr(fileno(pTty), TCSAFLUSH, &oOld);
  std::fprintf(pTty, "\n");
  std::fclose(pTty);
  if (!bRead) throw HostError("no password given for array " + sArray);
  return StripLineEnd(aLine);
}

std::string ReadPassword(const ArrayAddArgs& a) {
  const int nSources = (a.sPasswordFile.empty() ? 0 : 1) +
                       (a.sPasswordEnv.empty() ? 0 : 1) +
                       (a.bPasswordStdin ? 1 : 0);
  if (nSources > 1) {
    throw HostError(
        "give only one of --password-file, --password-env, --password-stdin",
        kExitUsage);
  }
  std::string sPassword;
  if (!a.sPasswordFile.empty()) {
    std::ifstream oFile(a.sPasswordFile);
    if (!oFile) {
      throw HostError("cannot read password file " + a.sPasswordFile + ": " +
                      std::strerror(errno));
    }
    std::getline(oFile, sPassword);
  } else if (!a.sPasswordEnv.empty()) {
    const char* psz = std::getenv(a.sPasswordEnv.c_str());
    if (psz == nullptr) {
      throw HostError("environment variable " + a.sPasswordEnv + " is not set");
    }
    sPassword = psz;
  } else if (a.bPasswordStdin) {
    std::getline(std::cin, sPassword);
  } else {
    sPassword = PasswordFromTerminal(a.sName);
  }
  sPassword = StripLineEnd(sPassword);
  if (sPassword.empty()) {
    throw HostError("empty password for array " + a.sName);
  }
  return sPassword;
}

void CheckText(const std::string& sWhat, const std::string& sValue) {
  if (sValue.empty()) throw HostError(sWhat + " is empty", kExitUsage);
  if (!IsUtf8(sValue)) {
    throw HostError(sWhat + " holds bytes that are not UTF-8 text", kExitUsage);
  }
  if (sValue.find_first_of(",{}:\n\r\t ") != std::string::npos) {
    throw HostError(sWhat + " \"" + sValue +
                        "\" holds a blank or one of , { } : which the array "
                        "information cannot carry",
                    kExitUsage);
  }
}

int CountBound(Catalog& c, const std::string& sArray) {
  int n = 0;
  for (const RecordRow& r : c.Records()) {
    if (r.sBoundArray == sArray) ++n;
  }
  return n;
}

}  // namespace

int CmdArrayAdd(Context& z, const ArrayAddArgs& a) {
  CheckText("array name", a.sName);
  CheckText("control host", a.sControlHost);
  CheckText("user", a.sUser);
  for (const std::string& s : a.vAddresses) CheckText("address", s);
  if (!a.sArrayId.empty()) CheckText("array id", a.sArrayId);
  CheckText("engine name", a.sEngine);
  if (a.sVendor.empty() ||
      a.sVendor.find_first_of(",{}:") != std::string::npos) {
    throw HostError(
        "vendor name \"" + a.sVendor + "\" is empty or holds , { } :",
        kExitUsage);
  }
  Catalog& c = z.OpenCatalog();
  ArrayRow r;
  r.sName = a.sName;
  r.sVendor = a.sVendor;
  r.sArrayId = a.sArrayId;
  r.sControlHost = a.sControlHost;
  r.sUser = a.sUser;
  r.sEngine = a.sEngine;
  r.vAddresses = a.vAddresses;
  r.sPassword = ReadPassword(a);
  z.AddSecret(r.sPassword);
  c.Begin(Catalog::Txn::kWrite);
  c.AddArray(r);
  c.Commit();
  z.Out("array " + r.sName + " added (control host " + r.sControlHost +
        ", user " + r.sUser + ")\n");
  return kExitSuccess;
}

int CmdArrayList(Context& z) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  const std::vector<ArrayRow> vArrays = c.Arrays();
  std::vector<int> vBound;
  for (const ArrayRow& a : vArrays) vBound.push_back(CountBound(c, a.sName));
  c.Rollback();
  if (z.Json()) {
    Json oList = Json::Array();
    for (size_t i = 0; i < vArrays.size(); ++i) {
      const ArrayRow& a = vArrays[i];
      Json oAddr = Json::Array();
      for (const std::string& s : a.vAddresses) oAddr.Push(Json::Str(s));
      Json o = Json::Object();
      o.Set("name", a.sName)
          .Set("vendor", a.sVendor)
          .Set("array_id", a.sArrayId)
          .Set("control_host", a.sControlHost)
          .Set("user", a.sUser)
          .Set("engine", a.sEngine)
          .Set("addresses", oAddr)
          .Set("records", Json::Int(vBound[i]));
      oList.Push(o);
    }
    z.Out(oList.Dump() + "\n");
    return kExitSuccess;
  }
  Table t({"NAME", "VENDOR", "ARRAY ID", "CONTROL HOST", "USER", "ADDRESSES",
           "RECORDS"});
  for (size_t i = 0; i < vArrays.size(); ++i) {
    const ArrayRow& a = vArrays[i];
    std::string sAddr;
    for (const std::string& s : a.vAddresses) {
      sAddr += (sAddr.empty() ? "" : ",") + s;
    }
    t.AddRow({a.sName, a.sVendor, a.sArrayId, a.sControlHost, a.sUser, sAddr,
              std::to_string(vBound[i])});
  }
  z.Out(t.Empty() ? "no arrays (add one with 'zksnap array add')\n"
                  : t.Render());
  return kExitSuccess;
}

int CmdArrayRemove(Context& z, const std::string& sName, bool bForce) {
  Catalog& c = z.OpenCatalog();
  c.Begin(Catalog::Txn::kWrite);
  std::optional<ArrayRow> oArray = c.FindArray(sName);
  if (!oArray || oArray->sName != sName) {
    throw HostError("no array named " + sName);
  }
  const int nBound = CountBound(c, sName);
  if (nBound > 0 && !bForce) {
    throw HostError("array " + sName + " is bound to " +
                    std::to_string(nBound) +
                    " record(s); remove them first or use --force");
  }
  c.RemoveArray(sName);
  c.Commit();
  z.Out("array " + sName + " removed\n");
  return kExitSuccess;
}

// ---- configuration ----------------------------------------------------------

namespace {

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Values are checked as the plug-in reads them:
// - nClearCelerraArrayMapSecs through the host's GetConfigInt (strtol):
//   blanks before the number are skipped, anything after it is refused; a
//   number of seconds from 0 to 2147483647;
// - the host lists split on ',' as they stand: an entry that is empty or
//   made only of blanks names no host (the plug-in drops it), and one with
//   blanks around the name is written without them; both are refused,
//   naming the entry, so that the stored value says what is used. An empty
//   value is an empty list.
void CheckConfigValue(const std::string& sKey, const std::string& sValue) {
  if (sKey.empty()) throw HostError("empty configuration key", kExitUsage);
  if (sValue.size() >= 1024) {
    throw HostError("the value of " + sKey +
                        " is longer than the 1023 characters the plug-in reads",
                    kExitUsage);
  }
  if (sKey == "nClearCelerraArrayMapSecs") {
    char* pEnd = nullptr;
    errno = 0;
    const long long n = std::strtoll(sValue.c_str(), &pEnd, 10);
    if (sValue.empty() || pEnd == sValue.c_str() || *pEnd != '\0' ||
        IsBlank(pEnd[-1])) {
      throw HostError(sKey +
                          " takes a whole number of seconds (blanks only "
                          "before it), not \"" +
                          sValue + "\"",
                      kExitUsage);
    }
    if (errno == ERANGE || n < 0 || n > INT32_MAX) {
      throw HostError(sKey + " is out of range: \"" + sValue +
                          "\" (0 to 2147483647 seconds)",
                      kExitUsage);
    }
  }
  if (sKey.rfind("sCelerraCommaSeparated", 0) == 0 && !sValue.empty()) {
    size_t nStart = 0;
    for (int nEntry = 1;; ++nEntry) {
      const size_t nComma = sValue.find(',', nStart);
      const std::string sEntry =
          sValue.substr(nStart, nComma == std::string::npos ? std::string::npos
                                                            : nComma - nStart);
      bool bBlank = true;
      for (char c : sEntry) bBlank &= IsBlank(c);
      if (bBlank) {
        throw HostError(sKey + ": entry " + std::to_string(nEntry) + " (\"" +
                            sEntry +
                            "\") names no host; give host names or "
                            "addresses separated by ','",
                        kExitUsage);
      }
      if (IsBlank(sEntry.front()) || IsBlank(sEntry.back())) {
        throw HostError(sKey + ": entry " + std::to_string(nEntry) + " (\"" +
                            sEntry +
                            "\") has blanks around the host name; leave them "
                            "out",
                        kExitUsage);
      }
      // The file server exports to exactly these hosts: an entry that is a
      // wildcard (0.0.0.0 is any client) or no single host is refused.
      const std::string sWhy = zkfiler::ExportHostProblem(sEntry);
      if (!sWhy.empty()) {
        throw HostError(sKey + ": entry " + std::to_string(nEntry) + " " +
                            "(\"" + EscapeControls(sEntry) + "\") " + sWhy +
                            "; name each host by its host name or IPv4 "
                            "address",
                        kExitUsage);
      }
      if (nComma == std::string::npos) break;
      nStart = nComma + 1;
    }
  }
}

// The keys the plug-in reads, all from the default section.
const char* const kPluginKeys[] = {
    "sCelerraCommaSeparatedRootHosts", "sCelerraCommaSeparatedRWHosts",
    "sCelerraCommaSeparatedAccessHosts", "nClearCelerraArrayMapSecs"};

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> vRow(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) vRow[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t nDiagonal = vRow[0];
    vRow[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t nUp = vRow[j];
      const bool bSame = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                         std::tolower(static_cast<unsigned char>(b[j - 1]));
      vRow[j] =
          std::min({vRow[j] + 1, vRow[j - 1] + 1, nDiagonal + (bSame ? 0 : 1)});
      nDiagonal = nUp;
    }
  }
  return vRow[b.size()];
}

// "" when the plug-in reads the key there; otherwise why it is never read.
std::string UnreadKey(const std::string& sSection, const std::string& sKey) {
  bool bKnown = false;
  std::string sNear;
  for (const char* psz : kPluginKeys) {
    bKnown |= sKey == psz;
    if (sKey != psz && EditDistance(sKey, psz) <= 4) sNear = psz;
  }
  if (bKnown) {
    if (sSection.empty()) return "";
    return "the plug-in reads " + sKey + " from the default section only, " +
           "not from section " + sSection;
  }
  return "the plug-in reads no key \"" + sKey + "\"" +
         (sNear.empty() ? "" : " (did you mean " + sNear + "?)");
}

}  // namespace

int CmdConfigSet(Context& z, const std::string& sSection,
                 const std::string& sKey, const std::string& sValue,
                 bool bForce) {
  CheckConfigValue(sKey, sValue);
  const std::string sUnread = UnreadKey(sSection, sKey);
  if (!sUnread.empty() && !bForce) {
    throw HostError(sUnread + "; use --force to set it anyway", kExitUsage);
  }
  Catalog& c = z.OpenCatalog();
  c.Begin(Catalog::Txn::kWrite);
  c.SetConfig(sSection, sKey, sValue);
  c.Commit();
  if (!sUnread.empty()) z.Err("zksnap: warning: " + sUnread + "\n");
  z.Out(sKey + " = " + sValue + "\n");
  return kExitSuccess;
}

int CmdConfigGet(Context& z, const std::string& sSection,
                 const std::string& sKey) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  std::optional<std::string> oValue = c.GetConfig(sSection, sKey);
  c.Rollback();
  if (!oValue) {
    throw HostError("configuration key " + sKey + " is not set" +
                    (sSection.empty() ? "" : " in section " + sSection));
  }
  if (z.Json()) {
    Json o = Json::Object();
    o.Set("section", sSection).Set("key", sKey).Set("value", *oValue);
    z.Out(o.Dump() + "\n");
  } else {
    z.Out(*oValue + "\n");
  }
  return kExitSuccess;
}

int CmdConfigUnset(Context& z, const std::string& sSection,
                   const std::string& sKey) {
  Catalog& c = z.OpenCatalog();
  c.Begin(Catalog::Txn::kWrite);
  if (!c.UnsetConfig(sSection, sKey)) {
    throw HostError("configuration key " + sKey + " is not set");
  }
  c.Commit();
  z.Out(sKey + " unset\n");
  return kExitSuccess;
}

int CmdConfigList(Context& z) {
  Catalog& c = z.OpenCatalog(false, true);
  c.Begin(Catalog::Txn::kRead);
  const std::vector<ConfigRow> v = c.Config();
  c.Rollback();
  if (z.Json()) {
    Json oList = Json::Array();
    for (const ConfigRow& r : v) {
      Json o = Json::Object();
      o.Set("section", r.sSection).Set("key", r.sKey).Set("value", r.sValue);
      oList.Push(o);
    }
    z.Out(oList.Dump() + "\n");
    return kExitSuccess;
  }
  Table t({"SECTION", "KEY", "VALUE"});
  for (const ConfigRow& r : v) t.AddRow({r.sSection, r.sKey, r.sValue});
  z.Out(t.Empty() ? "no configuration values set\n" : t.Render());
  return kExitSuccess;
}

}  // namespace zkref
