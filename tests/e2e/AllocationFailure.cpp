// SPDX-License-Identifier: Apache-2.0
#include "tests/e2e/AllocationFailure.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <cstddef>
#include <new>

namespace {

using zktest::AllocationSource;

// Plain data only: the state lives in static TLS, so reading it never
// allocates.
struct Counter {
  bool bArmed;
  bool bFailed;
  int nPaused;
  AllocationSource eFailSource;
  int64_t nFailAt;
  int64_t anCount[2];  // per AllocationSource
};
thread_local Counter t_oCounter = {
    false, false, 0, AllocationSource::kOperatorNew, 0, {0, 0}};

// Counts one allocation of this thread; true when it is the one to fail.
bool FailThisOne(AllocationSource eSource) {
  Counter& o = t_oCounter;
  if (!o.bArmed || o.nPaused > 0) return false;
  const int64_t nCount = ++o.anCount[static_cast<int>(eSource)];
  if (eSource != o.eFailSource || nCount != o.nFailAt) return false;
  o.bFailed = true;
  return true;
}

void* Allocate(size_t nBytes) {
  if (FailThisOne(AllocationSource::kOperatorNew)) return nullptr;
  return malloc(nBytes == 0 ? 1 : nBytes);
}

void* AllocateAligned(size_t nBytes, std::align_val_t eAlign) {
  if (FailThisOne(AllocationSource::kOperatorNew)) return nullptr;
  size_t nAlign = static_cast<size_t>(eAlign);
  if (nAlign < sizeof(void*)) nAlign = sizeof(void*);
  void* p = nullptr;
  if (posix_memalign(&p, nAlign, nBytes == 0 ? 1 : nBytes) != 0) return nullptr;
  return p;
}

void* AllocateOrThrow(size_t nBytes) {
  void* p = Allocate(nBytes);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateAlignedOrThrow(size_t nBytes, std::align_val_t eAlign) {
  void* p = AllocateAligned(nBytes, eAlign);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

// SQLite's own allocator, wrapped.
sqlite3_mem_methods g_oSqliteDefault;

void* SqliteMalloc(int nBytes) {
  if (FailThisOne(AllocationSource::kSqlite)) return nullptr;
  return g_oSqliteDefault.xMalloc(nBytes);
}
void SqliteFree(void* p) { g_oSqliteDefault.xFree(p); }
void* SqliteRealloc(void* p, int nBytes) {
  if (FailThisOne(AllocationSource::kSqlite)) return nullptr;
  return g_oSqliteDefault.xRealloc(p, nBytes);
}
int SqliteSize(void* p) { return g_oSqliteDefault.xSize(p); }
int SqliteRoundup(int nBytes) { return g_oSqliteDefault.xRoundup(nBytes); }
int SqliteInit(void* pData) { return g_oSqliteDefault.xInit(pData); }
void SqliteShutdown(void* pData) { g_oSqliteDefault.xShutdown(pData); }

}  // namespace

namespace zktest {

void ArmAllocationFailure(AllocationSource eSource, int64_t nFailAt) {
  t_oCounter.anCount[0] = 0;
  t_oCounter.anCount[1] = 0;
  t_oCounter.eFailSource = eSource;
  t_oCounter.nFailAt = nFailAt;
  t_oCounter.bFailed = false;
  t_oCounter.bArmed = true;
}

AllocationCounts DisarmAllocationFailure() {
  t_oCounter.bArmed = false;
  AllocationCounts oCounts;
  oCounts.nOperatorNew =
      t_oCounter.anCount[static_cast<int>(AllocationSource::kOperatorNew)];
  oCounts.nSqlite =
      t_oCounter.anCount[static_cast<int>(AllocationSource::kSqlite)];
  return oCounts;
}

bool AllocationFailureHappened() { return t_oCounter.bFailed; }

UncountedAllocations::UncountedAllocations() { ++t_oCounter.nPaused; }
UncountedAllocations::~UncountedAllocations() { --t_oCounter.nPaused; }

bool CountSqliteAllocations() {
  if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &g_oSqliteDefault) != SQLITE_OK) {
    return false;
  }
  sqlite3_mem_methods oCounted = g_oSqliteDefault;
  oCounted.xMalloc = SqliteMalloc;
  oCounted.xFree = SqliteFree;
  oCounted.xRealloc = SqliteRealloc;
  oCounted.xSize = SqliteSize;
  oCounted.xRoundup = SqliteRoundup;
  oCounted.xInit = SqliteInit;
  oCounted.xShutdown = SqliteShutdown;
  return sqlite3_config(SQLITE_CONFIG_MALLOC, &oCounted) == SQLITE_OK;
}

}  // namespace zktest

// The replaced operators. Every delete form frees what a new form got from
// malloc or posix_memalign.
void* operator new(size_t nBytes) { return AllocateOrThrow(nBytes); }
void* operator new[](size_t nBytes) { return AllocateOrThrow(nBytes); }
void* operator new(size_t nBytes, const std::nothrow_t&) noexcept {
  return Allocate(nBytes);
}
void* operator new[](size_t nBytes, const std::nothrow_t&) noexcept {
  return Allocate(nBytes);
}
void* operator new(size_t nBytes, std::align_val_t eAlign) {
  return AllocateAlignedOrThrow(nBytes, eAlign);
}
void* operator new[](size_t nBytes, std::align_val_t eAlign) {
  return AllocateAlignedOrThrow(nBytes, eAlign);
}
void* operator new(size_t nBytes, std::align_val_t eAlign,
                   const std::nothrow_t&) noexcept {
  return AllocateAligned(nBytes, eAlign);
}
void* operator new[](size_t nBytes, std::align_val_t eAlign,
                     const std::nothrow_t&) noexcept {
  return AllocateAligned(nBytes, eAlign);
}

void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete(void* p, std::align_val_t) noexcept { free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { free(p); }
void operator delete(void* p, std::align_val_t,
                     const std::nothrow_t&) noexcept {
  free(p);
}
void operator delete[](void* p, std::align_val_t,
                       const std::nothrow_t&) noexcept {
  free(p);
}
