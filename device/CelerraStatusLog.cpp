// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraStatusLog.h"

void LogCelerraStatus(const char* pszTag, ZKUint64 nJobId,
                      const CelerraError& oError) {
  EvDebug().DebugLvl(pszTag, -1, nJobId,
                     "Status [%d] returned by Celerra, Component:[%s], "
                     "facility:[%s],message:[%s], messageCode:[%s], "
                     "severity:[%s]",
                     oError.nStatus, oError.sComponent.c_str(),
                     oError.sFacility.c_str(), oError.sMessage.c_str(),
                     oError.sMessageCode.c_str(), oError.sSeverity.c_str());
}
