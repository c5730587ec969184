// SPDX-License-Identifier: Apache-2.0
// A test-only replacement of the global operator new (every form: single and
// array, throwing and nothrow, with and without an alignment) and of SQLite's
// allocator, able to fail one chosen allocation.
//
// Linked into a test executable (AllocationFailure.cpp defines the
// operators), the replacement serves every C++ allocation of the process:
// the test's, the plug-in's when it is loaded with dlopen, and those of the
// libraries beside it. SQLite's allocations join once
// CountSqliteAllocations() has run. Plain malloc calls that bypass both (the
// C library's own) are not counted.
//
// Counting is per thread: only the thread that armed counts, only while
// armed, and not while an UncountedAllocations object of that thread lives.
// Memory comes from malloc and goes back with free, so LeakSanitizer sees
// every block.
#ifndef ZK_TESTS_E2E_ALLOCATIONFAILURE_H_
#define ZK_TESTS_E2E_ALLOCATIONFAILURE_H_

#include <cstdint>

namespace zktest {

// Where an allocation comes from.
enum class AllocationSource { kOperatorNew, kSqlite };

// Allocations counted on one thread since arming, per source.
struct AllocationCounts {
  int64_t nOperatorNew = 0;
  int64_t nSqlite = 0;
};

// Starts counting on the calling thread from zero, both sources. The
// nFailAt-th counted allocation from eSource fails (operator new throws
// std::bad_alloc; the nothrow forms and SQLite's allocator answer null); all
// others succeed. nFailAt 0 only counts.
void ArmAllocationFailure(AllocationSource eSource, int64_t nFailAt);
// Stops counting; returns what was counted since arming.
AllocationCounts DisarmAllocationFailure();
// True when the armed failure happened since the last ArmAllocationFailure.
bool AllocationFailureHappened();

// While one lives, the calling thread's allocations are neither counted nor
// failed. Nests.
class UncountedAllocations {
 public:
  UncountedAllocations();
  ~UncountedAllocations();
  UncountedAllocations(const UncountedAllocations&) = delete;
  UncountedAllocations& operator=(const UncountedAllocations&) = delete;
};

// Routes SQLite's allocations through the same counter. REQUIRES: SQLite is
// not yet in use in this process. False when SQLite refuses.
bool CountSqliteAllocations();

}  // namespace zktest

#endif  // ZK_TESTS_E2E_ALLOCATIONFAILURE_H_
