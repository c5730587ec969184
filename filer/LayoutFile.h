// Reader of layout files: the human-written text that describes file servers
// (format in docs/filer-layout.md). Parsing only checks the syntax; Install
// (FilerSim.h) checks that references resolve.
//
// Pure functions; any thread. Error texts name the origin and line and never
// repeat a password.
#ifndef ZK_FILER_LAYOUTFILE_H_
#define ZK_FILER_LAYOUTFILE_H_

#include <string>
#include <vector>

#include "filer/FilerSim.h"
#include "filer/FilerTypes.h"

namespace zkfiler {

// Parses `text`; `origin` (a file name) prefixes error texts. On error `out`
// is left empty.
Status ParseLayout(const std::string& text, const std::string& origin,
                   std::vector<ServerLayout>* out);

// Reads and parses a layout file; a missing file is an error naming it.
Status ReadLayoutFile(const std::string& path,
                      std::vector<ServerLayout>* out);

}  // namespace zkfiler

#endif  // ZK_FILER_LAYOUTFILE_H_
