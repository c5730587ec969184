// SPDX-License-Identifier: Apache-2.0
// The host objects of one zksnap command, backed by the catalog: the array
// management database, one SnapInfo per selected record and the ZKOSUtil
// with the catalog's configuration and a job id from the catalog's counter.
//
// Load copies everything out of the catalog into the in-memory host objects
// of MemHost (which honour the getter convention); the plug-in is then
// called on them; WriteBack puts the records' new state, their new job log
// lines and reason messages back. Both run inside the caller's write
// transaction, so the catalog changes all at once or not at all.
//
// The array passwords are known to this object; a text it writes to the
// catalog (job log line, reason message) that holds one is withheld whole
// (LeakCheck.h), and Withheld() counts how often that was needed: a
// well-behaved plug-in never needs it.

//
// The catalog is borrowed and must outlive this object. Not thread-safe.
#ifndef ZK_REFHOST_CATALOGHOST_H_
#define ZK_REFHOST_CATALOGHOST_H_

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "refhost/Catalog.h"
#include "refhost/LeakCheck.h"
#include "refhost/MemHost.h"

namespace zkref {

class CatalogHost {
 public:
  // Reads the arrays and the configuration, and takes the next job id.
  // REQUIRES: a write transaction open on oCatalog.
  explicit CatalogHost(Catalog* pCatalog);
  CatalogHost(const CatalogHost&) = delete;
  CatalogHost& operator=(const CatalogHost&) = delete;

  uint64_t JobId() const { return m_nJobId; }
  MemOSUtil* OSUtil() { return &m_oOSUtil; }

  // Adds a record as the host hands it to the plug-in. Returns the object
  // the plug-in will see; it lives as long as this CatalogHost.
  MemSnapInfo* Add(const RecordRow& oRow);
  // The records in the order they were added, as the plug-in takes them.
  std::vector<ZKSO::SnapInfo*> Pointers();
  const std::deque<MemSnapInfo>& Records() const { return m_dRecords; }
  const std::vector<RecordRow>& Rows() const { return m_vRows; }

  // Writes every record's state back, with its job log lines tagged with
  // sOperation and this job id. Returns the rows as written.
  std::vector<RecordRow> WriteBack(const std::string& sOperation);

  int Withheld() const { return m_oLeaks.Withheld(); }
  LeakCheck& Leaks() { return m_oLeaks; }

 private:
  Catalog* m_pCatalog;  // borrowed
  uint64_t m_nJobId;
  ArrayDatabase m_oDatabase;
  LeakCheck m_oLeaks;
  MemOSUtil m_oOSUtil;
  std::deque<MemSnapInfo> m_dRecords;  // stable addresses
  std::vector<RecordRow> m_vRows;
};

// Tells the check every array's password and the texts shown anyway.
void AddArrayTexts(const ArrayRow& a, LeakCheck* pLeaks);

}  // namespace zkref

#endif  // ZK_REFHOST_CATALOGHOST_H_
