// SPDX-License-Identifier: Apache-2.0
// A small, strict reader of the nfs-ganesha configuration `zkfiler serve`
// writes, after ganesha's own grammar (ganesha-config(8)): blocks
// `NAME { ... }`, parameters `Name = value[, value...];`, double-quoted
// strings in which a backslash takes the next character as it is, and
// comments from '#' to the end of the line. What serve never writes is an
// error rather than read past: a '%' directive (%include, %dir, %url), a
// bare value other than a name, a number or an IPv4 address, a string
// running over a line end, an unbalanced brace. Tests use it to check that
// each EXPORT block says exactly what was meant.
#ifndef ZK_TESTS_NFS_GANESHACONFIGREADER_H_
#define ZK_TESTS_NFS_GANESHACONFIGREADER_H_

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zknfs {

struct ConfigBlock {
  std::string name;
  int line = 0;
  std::vector<std::pair<std::string, std::vector<std::string>>> params;
  std::vector<ConfigBlock> blocks;
  // Values of parameter `key` (names compared without case); empty when it
  // is not there. Sets `*count` to how often it is given.
  std::vector<std::string> Values(const std::string& key,
                                  int* count = nullptr) const;
};

// The top-level blocks of `text`; "" in `*error` or what is wrong, with the
// line.
std::vector<ConfigBlock> ReadGaneshaConfig(const std::string& text,
                                           std::string* error);

// An EXPORT block as the server reads it.
struct ReadExport {
  std::string id, path, pseudo, access_type, squash;
  // "ACCESS|SQUASH" of each CLIENT block -> its client addresses.
  std::map<std::string, std::set<std::string>> clients;
  bool privileged_port = false;
  std::string attr_expiration;  // Attr_Expiration_Time
  bool operator==(const ReadExport& o) const {
    return id == o.id && path == o.path && pseudo == o.pseudo &&
           access_type == o.access_type && squash == o.squash &&
           clients == o.clients && privileged_port == o.privileged_port &&
           attr_expiration == o.attr_expiration;
  }
};
// Every EXPORT block, in order; a parameter given twice or a block other
// than FSAL or CLIENT inside one is an error.
std::vector<ReadExport> ReadExports(const std::vector<ConfigBlock>& blocks,
                                    std::string* error);

}  // namespace zknfs

#endif  // ZK_TESTS_NFS_GANESHACONFIGREADER_H_
