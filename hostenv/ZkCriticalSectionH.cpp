// SPDX-License-Identifier: Apache-2.0
#include "host/ZkHostLib.h"

ZkCriticalSectionH::ZkCriticalSectionH() = default;
ZkCriticalSectionH::~ZkCriticalSectionH() = default;

bool ZkCriticalSectionH::enter(bool bWait) {
  if (!bWait) return m_oMutex.try_lock();
  m_oMutex.lock();
  return true;
}

void ZkCriticalSectionH::leave() { m_oMutex.unlock(); }
