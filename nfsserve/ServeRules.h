// SPDX-License-Identifier: Apache-2.0
// The one rule for every text that reaches the NFS server's configuration
// (`zkfiler serve` writes it for nfs-ganesha, which runs as root): export
// paths, data directories and the hosts of export lists. `zkfiler load`
// applies it to a layout, the simulated CreateNFSShare to its arguments,
// `zksnap config set` to the plug-in's host lists, and serve again to what
// it is about to write, so a value that passed an older version, or came
// into the state file by another way, is still never written.
//
// The allowed texts are small on purpose; nothing in them means anything
// to ganesha's configuration grammar (quotes, backslash, braces, ';', '#',
// '%' directives, blanks, newlines), and none of them is read by ganesha as
// "any client":
// - an export path: "/" then "/"-separated components of [A-Za-z0-9._-],
//   none empty, "." or "..", each at most 255 characters, the whole at most
//   1024; "/" alone is not one (it would replace the server's root);
// - a data directory: the same, with '%' also allowed in components (the
//   escaped names of control hosts), at most 4095 characters;
// - a host of an export list: a host name ([A-Za-z0-9_-] labels joined by
//   single dots, at most 253 characters, its last label not all digits) or
//   an IPv4 address written as four decimal numbers; no address in
//   0.0.0.0/8 (0.0.0.0 is "any client" to ganesha) and no other form of
//   one ("0", "127.1", "0x7f000001" are addresses to the resolver);
//   wildcards, netgroups ("@name") and networks ("a.b.c.d/n") are refused;
// - a resolved address: an IPv4 address as above.
#ifndef ZK_NFSSERVE_SERVERULES_H_
#define ZK_NFSSERVE_SERVERULES_H_

#include <string>
#include <vector>

namespace zkfiler {

enum class ServedText {
  kExportPath,  // the path an export is made at, also what clients ask for
  kDirectory,   // a directory the server reads or writes
  kHost,        // an entry of an export's host list, as given
  kAddress,     // an address a host entry resolved to
};

// "" when `value` may be written into the server's configuration as `kind`;
// else why not, in words for a message (the value itself is not repeated).
std::string ServedTextProblem(ServedText kind, const std::string& value);

// Resolves a host of an export list to IPv4 addresses (itself when it is
// one) through the ZK_HOSTS_FILE hosts file first, then the system
// resolver; empty when it does not resolve.
std::vector<std::string> ResolveExportHost(const std::string& host);

// ServedTextProblem(kHost) of an entry and, when it names a host that
// resolves, kAddress of every address it resolves to ("" when it does not
// resolve: a host that is not there yet is not refused).
std::string ExportHostProblem(const std::string& host);

}  // namespace zkfiler

#endif  // ZK_NFSSERVE_SERVERULES_H_
