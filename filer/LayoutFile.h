// SPDX-License-Identifier: Apache-2.0
// Reader of layout files: the human-written text that describes file servers
// (format in docs/filer-layout.md). Parsing checks the syntax, the numbers
// and the structure (one block per control host, one login each); Install
// (FilerSim.h) checks names, paths, limits and that references resolve to
// items declared above them.
//
// Pure functions; any thread. Error texts name the origin and line, cut long
// values short and never repeat a value of a login line (the user included,
// which a misplaced quote can fill with the password).
#ifndef ZK_FILER_LAYOUTFILE_H_
#define ZK_FILER_LAYOUTFILE_H_

#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "filer/FilerTypes.h"

namespace zkfiler {

// Where the items of one parsed server came from: 1-based line numbers,
// one per entry of the matching ServerLayout vector.
struct LayoutSource {
  std::string origin;  // file name, or what the caller named the text
  int server = 0;
  int login = 0;
  std::vector<int> movers, vdms, cifs_servers, cifs_shares, file_systems,
      exports, checkpoints;
};

// Parses `text`; `origin` (a file name) prefixes error texts. On error `out`
// is left empty.
Status ParseLayout(const std::string& text, const std::string& origin,
                   std::vector<ServerLayout>* out);
// The same, with the line of every item; `sources` parallels `out`.
Status ParseLayout(const std::string& text, const std::string& origin,
                   std::vector<ServerLayout>* out,
                   std::vector<LayoutSource>* sources);

// Reads and parses a layout file; a missing, unreadable or empty file (one
// without any 'server' block) is an error naming it.
Status ReadLayoutFile(const std::string& path, std::vector<ServerLayout>* out);
Status ReadLayoutFile(const std::string& path, std::vector<ServerLayout>* out,
                      std::vector<LayoutSource>* sources);

}  // namespace zkfiler

#endif  // ZK_FILER_LAYOUTFILE_H_
