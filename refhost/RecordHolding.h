// SPDX-License-Identifier: Apache-2.0
// What a host record holds on the file server now, read from the snapshot
// metadata the plug-in stored in it and the status it last wrote.
//
// The plug-in keeps the snap UUID text after a delete and after reconcile
// found the checkpoint gone (reconcile reads it again), so the text alone
// does not say that the checkpoint still exists: a DELETE_SUCCESS or
// SNAP_NOT_FOUND status says it does not. The mount text is removed by the
// plug-in itself at the end of a successful unmap.
//
// Plain values; any thread.
#ifndef ZK_REFHOST_RECORDHOLDING_H_
#define ZK_REFHOST_RECORDHOLDING_H_

#include <string>
#include <vector>

#include "refhost/Catalog.h"

namespace zkref {

struct Holding {
  // From SM_MDT_SNAP_UUID: "name|id|" with an optional baseline id.
  std::string sCheckpointName, sCheckpointId, sBaselineId;
  // From SM_MDT_SNAP_MOUNT: "name|id" of the writable checkpoint.
  std::string sMountName, sMountId;
  bool bCheckpoint = false;  // the checkpoint still exists
  bool bMount = false;       // the writable checkpoint and its export exist

  bool Empty() const { return !bCheckpoint && !bMount; }
  // "checkpoint NAME (ID)", "writable checkpoint NAME (ID)", or both joined
  // by " and "; "" when it holds nothing.
  std::string Describe() const;
};

// The fields of a "|"-separated metadata text (a last empty field is not
// one).
std::vector<std::string> MetadataFields(const std::string& s);

// The id of the file system the record's file system metadata names
// (SM_MDT_FS_INFO, read as the kind of its source device writes it); ""
// when the record has none or it cannot be read.
std::string FileSystemOf(const RecordRow& r);

// What the record's metadata names, whether or not it still exists.
Holding NamedBy(const RecordRow& r);
// What the record holds now.
Holding HoldingOf(const RecordRow& r);

// The snap device to show: the record's, while it holds a mount.
std::string HeldSnapDevice(const RecordRow& r);
// The export path of that snap device (its "exportpath", else "lunuuid");
// the snap device itself when it names neither; "" without a mount.
std::string HeldCloneExport(const RecordRow& r);

// The control host of the file server a record is bound to (its array), or
// of the file server its device names; "" when the catalog knows neither.
// REQUIRES: a transaction open.
std::string ControlHostOf(Catalog& c, const RecordRow& r);

// The commands that remove what a record holds: 'zksnap unmap ...' and/or
// 'zksnap delete ...', each naming every record that shares it (same
// control host, name and id), which they take together. REQUIRES: a
// transaction open.
std::string RemoveCommands(Catalog& c, const RecordRow& r);

}  // namespace zkref

#endif  // ZK_REFHOST_RECORDHOLDING_H_
