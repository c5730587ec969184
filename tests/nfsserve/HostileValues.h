// SPDX-License-Identifier: Apache-2.0
// Values the suites of the served text try in every field that reaches the
// NFS server's configuration (tests/nfsserve, and tests/filer for the
// control station's refusals), and a scratch hosts file to resolve names.
#ifndef ZK_TESTS_NFSSERVE_HOSTILEVALUES_H_
#define ZK_TESTS_NFSSERVE_HOSTILEVALUES_H_

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace zkfiler_test {

// Hostile values for every field: quotes, backslash, braces, semicolons,
// '%', '#', newline, tab, very long, non-ASCII, and the wildcard forms.
inline const std::vector<std::string>& Hostile() {
  static const std::vector<std::string> values = {"a\"b",
                                                  "a\\",
                                                  "a\\\"b",
                                                  "x}",
                                                  "x{",
                                                  "a;b",
                                                  "x;}%include /etc",
                                                  "%dir",
                                                  "a#b",
                                                  "a\nb",
                                                  "a\tb",
                                                  "a b",
                                                  std::string(5000, 'a'),
                                                  "caf\xc3\xa9",
                                                  "a\xe2\x80\xae"
                                                  "b",
                                                  "*",
                                                  "@ng",
                                                  "a?b",
                                                  "10.0.0.0/0"};
  return values;
}

// A network to a host list, two plain components to a path.
inline bool PlainAsAPath(const std::string& value) {
  return value == "10.0.0.0/0";
}

// A scratch hosts file for the names the tests resolve.
class HostsFile {
 public:
  explicit HostsFile(const std::string& text) {
    char tmpl[] = "/tmp/zk_hosts_XXXXXX";
    const int fd = ::mkstemp(tmpl);
    path_ = tmpl;
    ::close(fd);
    std::ofstream(path_) << text;
    const char* old = std::getenv("ZK_HOSTS_FILE");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("ZK_HOSTS_FILE", path_.c_str(), 1);
  }
  ~HostsFile() {
    if (had_) {
      ::setenv("ZK_HOSTS_FILE", old_.c_str(), 1);
    } else {
      ::unsetenv("ZK_HOSTS_FILE");
    }
    ::unlink(path_.c_str());
  }

 private:
  std::string path_, old_;
  bool had_ = false;
};

inline constexpr const char* kHosts =
    "127.0.0.8 goodhost goodhost.zk.test\n"
    "0.0.0.0 anyhost\n"
    "0.1.2.3 zeronet\n";

}  // namespace zkfiler_test

#endif  // ZK_TESTS_NFSSERVE_HOSTILEVALUES_H_
