// SPDX-License-Identifier: Apache-2.0
// The text people read of a file server state: what 'zkfiler show' and
// 'zkfiler journal' print. Every name and value is escaped (FilerText.h)
// or quoted, so one line is always one item and nothing in the state can
// forge another line. Passwords are never printed.
//
// DescribeStore reads through a borrowed FilerStore inside the caller's
// transaction; the others are pure. Not thread-safe beyond that.
#ifndef ZK_FILER_STATETEXT_H_
#define ZK_FILER_STATETEXT_H_

#include <string>

#include "filer/FilerStore.h"
#include "filer/FilerTypes.h"

namespace zkfiler {

// Every file server (sorted by control host, each item in the order it was
// installed or created), then the armed faults with the calls each has
// seen, then the latency.
std::string DescribeStore(FilerStore& store);

// One journal line, without the trailing newline.
std::string JournalLine(const JournalEntry& entry);

}  // namespace zkfiler

#endif  // ZK_FILER_STATETEXT_H_
