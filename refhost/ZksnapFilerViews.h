// SPDX-License-Identifier: Apache-2.0
// How zksnap shows the simulated file server's checkpoints and exports: as
// JSON objects and as table rows, the same in 'filer show' and 'orphans'.
//
// Plain functions; any thread.
#ifndef ZK_REFHOST_ZKSNAPFILERVIEWS_H_
#define ZK_REFHOST_ZKSNAPFILERVIEWS_H_

#include <vector>

#include "filer/FilerTypes.h"
#include "refhost/ZksnapOutput.h"

namespace zkref {

Json CheckpointJson(const zkfiler::CheckpointView& c);
Json ExportJson(const zkfiler::ExportView& e);
Table CheckpointTable(const std::vector<zkfiler::CheckpointView>& v);
Table ExportTable(const std::vector<zkfiler::ExportView>& v);

}  // namespace zkref

#endif  // ZK_REFHOST_ZKSNAPFILERVIEWS_H_
