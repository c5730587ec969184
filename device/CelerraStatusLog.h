// SPDX-License-Identifier: Apache-2.0
// The level -1 line that tells what the file server answered to a refused
// command: "Status [%d] returned by Celerra, Component:[..], facility:[..],
// message:[..], messageCode:[..], severity:[..]". The error's description,
// action and diagnostics are not part of it.
//
// Stateless; any thread.
#ifndef ZK_DEVICE_CELERRASTATUSLOG_H_
#define ZK_DEVICE_CELERRASTATUSLOG_H_

#include "host/EvDebug.h"
#include "host/ManageCelerra.h"

void LogCelerraStatus(const char* pszTag, ZKUint64 nJobId,
                      const CelerraError& oError);

#endif  // ZK_DEVICE_CELERRASTATUSLOG_H_
