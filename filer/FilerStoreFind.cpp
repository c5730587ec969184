// SPDX-License-Identifier: Apache-2.0
// FilerStore's indexed lookups: each reads at most a few rows through an
// index (the tables and their indexes are in FilerStore.cpp).
#include "filer/FilerStore.h"
#include "filer/FilerStoreRows.h"

namespace zkfiler {

using rows::kCkptColumns;
using rows::kExportColumns;
using rows::kFsColumns;
using rows::ReadCkpt;
using rows::ReadExport;
using rows::ReadFs;

bool FilerStore::FindMover(const std::string& host, const std::string& id) {
  Statement q = db_->Prepare("SELECT 1 FROM mover WHERE host=? AND id=?");
  q.Bind(host).Bind(id);
  return q.Step();
}

bool FilerStore::FindVdm(const std::string& host, const std::string& id,
                         VdmDef* out) {
  Statement q =
      db_->Prepare("SELECT id, name, mover FROM vdm WHERE host=? AND id=?");
  q.Bind(host).Bind(id);
  if (!q.Step()) return false;
  *out = {q.Text(0), q.Text(1), q.Text(2)};
  return true;
}

bool FilerStore::FindFileSystem(const std::string& host, const std::string& id,
                                FileSystemDef* out) {
  Statement q = db_->Prepare(std::string("SELECT ") + kFsColumns +
                             " FROM fs WHERE host=? AND id=?");
  q.Bind(host).Bind(id);
  if (!q.Step()) return false;
  *out = ReadFs(q);
  return true;
}

bool FilerStore::FindMountedAt(const std::string& host,
                               const std::string& mover,
                               const std::string& path, FileSystemDef* out) {
  Statement q = db_->Prepare(
      std::string("SELECT ") + kFsColumns +
      " FROM fs WHERE host=? AND phys_mover=? AND phys_path=? ORDER BY rowid "
      "LIMIT 1");
  q.Bind(host).Bind(mover).Bind(path);
  if (!q.Step()) return false;
  *out = ReadFs(q);
  return true;
}

bool FilerStore::FindMountOn(const std::string& host,
                             const std::string& mover_id, bool on_vdm,
                             const std::string& mount, FileSystemDef* out) {
  Statement q = db_->Prepare(
      std::string("SELECT ") + kFsColumns +
      " FROM fs WHERE host=? AND mover=? AND on_vdm=? AND mount=? ORDER BY "
      "rowid LIMIT 1");
  q.Bind(host).Bind(mover_id).Bind(int64_t{on_vdm}).Bind(mount);
  if (!q.Step()) return false;
  *out = ReadFs(q);
  return true;
}

std::string FilerStore::PhysicalMover(const std::string& host,
                                      const std::string& fs_id) {
  Statement q = db_->Prepare("SELECT phys_mover FROM fs WHERE host=? AND id=?");
  q.Bind(host).Bind(fs_id);
  return q.Step() ? q.Text(0) : std::string();
}

bool FilerStore::FileSystemNamed(const std::string& host,
                                 const std::string& name) {
  Statement q = db_->Prepare("SELECT 1 FROM fs WHERE host=? AND name=?");
  q.Bind(host).Bind(name);
  return q.Step();
}

bool FilerStore::FindCheckpoint(const std::string& host, const std::string& id,
                                CheckpointView* out) {
  Statement q = db_->Prepare(std::string("SELECT ") + kCkptColumns +
                             " FROM ckpt WHERE host=? AND id=?");
  q.Bind(host).Bind(id);
  if (!q.Step()) return false;
  *out = ReadCkpt(q);
  return true;
}

bool FilerStore::FindCheckpointNamed(const std::string& host,
                                     const std::string& name,
                                     CheckpointView* out) {
  Statement q = db_->Prepare(std::string("SELECT ") + kCkptColumns +
                             " FROM ckpt WHERE host=? AND name=?");
  q.Bind(host).Bind(name);
  if (!q.Step()) return false;
  *out = ReadCkpt(q);
  return true;
}

int64_t FilerStore::CountCheckpoints(const std::string& host,
                                     const std::string& fs_id, bool writable) {
  Statement q = db_->Prepare(
      "SELECT n FROM ckpt_fs_count WHERE host=? AND fs=? AND writable=?");
  q.Bind(host).Bind(fs_id).Bind(int64_t{writable});
  return q.Step() ? q.Int(0) : 0;
}

int64_t FilerStore::CountWritableOf(const std::string& host,
                                    const std::string& baseline_id) {
  Statement q =
      db_->Prepare("SELECT n FROM ckpt_base_count WHERE host=? AND baseline=?");
  q.Bind(host).Bind(baseline_id);
  return q.Step() ? q.Int(0) : 0;
}

bool FilerStore::FindWritableOf(const std::string& host,
                                const std::string& baseline_id,
                                const std::string& except,
                                CheckpointView* out) {
  Statement q = db_->Prepare(
      std::string("SELECT ") + kCkptColumns +
      " FROM ckpt WHERE host=? AND baseline=? AND writable=1 AND id<>? "
      "ORDER BY seq LIMIT 1");
  q.Bind(host).Bind(baseline_id).Bind(except);
  if (!q.Step()) return false;
  *out = ReadCkpt(q);
  return true;
}

bool FilerStore::FindExportOf(const std::string& host, const std::string& id,
                              ExportView* out) {
  Statement q = db_->Prepare(std::string("SELECT ") + kExportColumns +
                             " FROM nfs_export WHERE host=? AND fs=? ORDER BY "
                             "rowid LIMIT 1");
  q.Bind(host).Bind(id);
  if (!q.Step()) return false;
  *out = ReadExport(q);
  return true;
}

bool FilerStore::FindExportAt(const std::string& host, const std::string& path,
                              ExportView* out) {
  Statement q = db_->Prepare(std::string("SELECT ") + kExportColumns +
                             " FROM nfs_export WHERE host=? AND path=? ORDER "
                             "BY rowid LIMIT 1");
  q.Bind(host).Bind(path);
  if (!q.Step()) return false;
  *out = ReadExport(q);
  return true;
}

bool FilerStore::FindExport(const std::string& host,
                            const std::string& mover_id,
                            const std::string& path) {
  Statement q = db_->Prepare(
      "SELECT 1 FROM nfs_export WHERE host=? AND mover=? AND path=?");
  q.Bind(host).Bind(mover_id).Bind(path);
  return q.Step();
}

bool FilerStore::FindShare(const std::string& host, const std::string& name,
                           CifsShareDef* out) {
  Statement q = db_->Prepare(
      "SELECT name, fs, mover, on_vdm, path FROM cifs_share WHERE host=? AND "
      "name=?");
  q.Bind(host).Bind(name);
  if (!q.Step()) return false;
  *out = {q.Text(0), q.Text(1), q.Text(2), q.Int(3) != 0, q.Text(4)};
  return true;
}

std::vector<std::string> FilerStore::CifsServersOn(const std::string& host,
                                                   const std::string& mover_id,
                                                   bool on_vdm) {
  std::vector<std::string> names;
  Statement q = db_->Prepare(
      "SELECT name FROM cifs_server WHERE host=? AND mover=? AND on_vdm=? "
      "ORDER BY rowid");
  q.Bind(host).Bind(mover_id).Bind(int64_t{on_vdm});
  while (q.Step()) names.push_back(q.Text(0));
  return names;
}

}  // namespace zkfiler
