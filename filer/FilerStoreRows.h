// SPDX-License-Identifier: Apache-2.0
// Column lists and row readers shared by the FilerStore sources. Internal
// to the store; pure functions over a Statement positioned on a row.
#ifndef ZK_FILER_FILERSTOREROWS_H_
#define ZK_FILER_FILERSTOREROWS_H_

#include "filer/FilerDb.h"
#include "filer/FilerStore.h"
#include "filer/FilerTypes.h"

namespace zkfiler {
namespace rows {

constexpr const char* kFsColumns =
    "id, name, stg_type, stg_extra, savvol, mount, mover, on_vdm, "
    "generation, restores";

inline FileSystemDef ReadFs(const Statement& q) {
  FileSystemDef fs;
  fs.id = q.Text(0);
  fs.name = q.Text(1);
  fs.storage_type = static_cast<eCelerraStgType>(q.Int(2));
  fs.storage_extra = q.Text(3);
  fs.save_volume = q.Text(4);
  fs.mount_path = q.Text(5);
  fs.mover_id = q.Text(6);
  fs.on_vdm = q.Int(7) != 0;
  fs.generation = q.Int(8);
  fs.restores = q.Int(9);
  return fs;
}

constexpr const char* kCkptColumns =
    "host, id, name, fs, baseline, writable, generation";

inline CheckpointView ReadCkpt(const Statement& q) {
  return {q.Text(0), q.Text(1),     q.Text(2), q.Text(3),
          q.Text(4), q.Int(5) != 0, q.Int(6)};
}

constexpr const char* kExportColumns =
    "host, path, mover, fs, access, rw, root";

inline ExportView ReadExport(const Statement& q) {
  return {q.Text(0),
          q.Text(1),
          q.Text(2),
          q.Text(3),
          SplitList(q.Text(4)),
          SplitList(q.Text(5)),
          SplitList(q.Text(6))};
}

}  // namespace rows
}  // namespace zkfiler

#endif  // ZK_FILER_FILERSTOREROWS_H_
