// SPDX-License-Identifier: Apache-2.0
// Installing a file server description into the store: checks that every
// id, name, path, number and reference of a ServerLayout is sound, then
// replaces the file server of that control host.
//
// Runs inside the caller's transaction; throws std::invalid_argument (text
// names the item, and the file and line when `source` is given; never the
// password) and leaves the rollback to the caller. Costs O(n log n) in the
// size of the layout. Not thread-safe on its own.
#ifndef ZK_FILER_FILERINSTALL_H_
#define ZK_FILER_FILERINSTALL_H_

#include "filer/FilerStore.h"
#include "filer/FilerTypes.h"
#include "filer/LayoutFile.h"

namespace zkfiler {

// `source`, when given, says which line of which file each item came from;
// references must then name items on earlier lines. Borrowed for the call.
void InstallLayout(FilerStore& store, const ServerLayout& layout,
                   const LayoutSource* source = nullptr);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERINSTALL_H_
