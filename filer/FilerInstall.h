// Installing a file server description into the store: checks that every
// id, name, path and reference of a ServerLayout is sound, then replaces the
// file server of that control host.
//
// Runs inside the caller's transaction; throws std::invalid_argument (text
// names the control host and the offending item, never the password) and
// leaves the rollback to the caller. Not thread-safe on its own.
#ifndef ZK_FILER_FILERINSTALL_H_
#define ZK_FILER_FILERINSTALL_H_

#include "filer/FilerStore.h"
#include "filer/FilerTypes.h"

namespace zkfiler {

void InstallLayout(FilerStore& store, const ServerLayout& layout);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERINSTALL_H_
