// SPDX-License-Identifier: Apache-2.0
#include "device/ZkSystemClock.h"

#include <time.h>
#include <unistd.h>

int64_t ZkNow() { return static_cast<int64_t>(time(nullptr)); }

std::string ZkLocalHostName() {
  char szName[65] = {0};
  // The 64 bytes of the name buffer are offered whole; the spare last byte
  // stays zero even when the name fills them.
  if (gethostname(szName, sizeof(szName) - 1) != 0) return std::string();
  return std::string(szName);
}
