// SPDX-License-Identifier: Apache-2.0
#include "nfsserve/ServeRules.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zkfiler {
namespace {

constexpr size_t kMaxComponent = 255;
constexpr size_t kMaxExportPath = 1024;
constexpr size_t kMaxDirectory = 4095;
constexpr size_t kMaxHostName = 253;
constexpr size_t kMaxLabel = 63;

bool Alnum(char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
         (ch >= '0' && ch <= '9');
}

// An absolute path of components made of Alnum and `extra`.
std::string PathProblem(const std::string& path, const char* extra,
                        size_t max_length, const char* allowed) {
  if (path.empty() || path[0] != '/') return "is not an absolute path";
  if (path.size() < 2) return "is the root '/'";
  if (path.size() > max_length) {
    return "is longer than " + std::to_string(max_length) + " characters";
  }
  size_t start = 1;
  for (;;) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, end - start);
    if (part.empty()) return "has an empty component ('//' or a trailing '/')";
    if (part == "." || part == "..") return "has a '.' or '..' component";
    if (part.size() > kMaxComponent) {
      return "has a component longer than " + std::to_string(kMaxComponent) +
             " characters";
    }
    for (char ch : part) {
      if (!Alnum(ch) && std::string(extra).find(ch) == std::string::npos) {
        return std::string("holds a character other than ") + allowed;
      }
    }
    if (end == path.size()) return "";
    start = end + 1;
  }
}

// "" for a usable client address (four decimal numbers, as inet_ntop
// writes them, not in 0.0.0.0/8).
std::string AddressProblem(const std::string& text) {
  in_addr a;
  char canonical[INET_ADDRSTRLEN];
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1 ||
      ::inet_ntop(AF_INET, &a, canonical, sizeof canonical) == nullptr ||
      text != canonical) {
    return "is not an IPv4 address written as four decimal numbers";
  }
  if ((ntohl(a.s_addr) >> 24) == 0) {
    return "is an address of 0.0.0.0/8, which the NFS server reads as any "
           "client";
  }
  return "";
}

std::string HostProblem(const std::string& host) {
  if (host.empty()) return "is empty";
  in_addr a;
  if (::inet_aton(host.c_str(), &a) != 0) {
    // The resolver reads it as an address: only the plain form is taken.
    const std::string read_as = ::inet_ntoa(a);
    const std::string why = AddressProblem(read_as);
    if (host == read_as) return why;
    if (!why.empty())
      return "is read as the address " + read_as + ", which " + why;
    return "is read as the address " + read_as + "; write it so";
  }
  if (host.size() > kMaxHostName) {
    return "is longer than " + std::to_string(kMaxHostName) + " characters";
  }
  size_t start = 0;
  std::string label;
  for (;;) {
    const size_t end = std::min(host.find('.', start), host.size());
    label = host.substr(start, end - start);
    if (label.empty() || label.size() > kMaxLabel) {
      return "is not a host name (labels of 1 to 63 letters, digits, '-' "
             "and '_' joined by single dots) nor an IPv4 address";
    }
    for (char ch : label) {
      if (!Alnum(ch) && ch != '-' && ch != '_') {
        return "holds a character other than letters, digits, '.', '-' and "
               "'_' (no wildcard, netgroup or network)";
      }
    }
    if (end == host.size()) break;
    start = end + 1;
  }
  bool digits = true;
  for (char ch : label) digits = digits && ch >= '0' && ch <= '9';
  if (digits) return "is neither a host name nor an IPv4 address";
  return "";
}

// Addresses the ZK_HOSTS_FILE hosts file gives `name`.
std::vector<std::string> FromHostsFile(const std::string& name) {
  std::vector<std::string> out;
  const char* file = std::getenv("ZK_HOSTS_FILE");
  if (file == nullptr || *file == '\0') return out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string addr, word;
    in_addr a;
    if (!(words >> addr) || ::inet_pton(AF_INET, addr.c_str(), &a) != 1) {
      continue;
    }
    while (words >> word) {
      if (::strcasecmp(word.c_str(), name.c_str()) == 0) {
        out.push_back(addr);
        break;
      }
    }
  }
  return out;
}

}  // namespace

std::string ServedTextProblem(ServedText kind, const std::string& value) {
  switch (kind) {
    case ServedText::kExportPath:
      return PathProblem(value, "._-", kMaxExportPath,
                         "letters, digits, '.', '_' and '-' in a component");
    case ServedText::kDirectory:
      return PathProblem(value, "._-%", kMaxDirectory,
                         "letters, digits, '.', '_', '-' and '%' in a "
                         "component");
    case ServedText::kHost:
      return HostProblem(value);
    case ServedText::kAddress:
      return AddressProblem(value);
  }
  return "is of no known kind";
}

std::vector<std::string> ResolveExportHost(const std::string& host) {
  in_addr a;
  if (::inet_pton(AF_INET, host.c_str(), &a) == 1) return {host};
  std::vector<std::string> out = FromHostsFile(host);
  if (!out.empty()) return out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0) return out;
  for (addrinfo* p = res; p != nullptr; p = p->ai_next) {
    char buf[INET_ADDRSTRLEN];
    const auto* sin = reinterpret_cast<const sockaddr_in*>(p->ai_addr);
    if (::inet_ntop(AF_INET, &sin->sin_addr, buf, sizeof buf) != nullptr) {
      bool seen = false;
      for (const std::string& s : out) seen = seen || s == buf;
      if (!seen) out.push_back(buf);
    }
  }
  ::freeaddrinfo(res);
  return out;
}

std::string ExportHostProblem(const std::string& host) {
  std::string why = ServedTextProblem(ServedText::kHost, host);
  if (!why.empty()) return why;
  for (const std::string& a : ResolveExportHost(host)) {
    why = ServedTextProblem(ServedText::kAddress, a);
    if (!why.empty()) return "resolves to " + a + ", which " + why;
  }
  return "";
}

}  // namespace zkfiler
