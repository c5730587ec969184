// SPDX-License-Identifier: Apache-2.0
#include "device/ZkCriticalSection.h"

#include <new>

ZkCriticalSection::ZkCriticalSection()
    : m_pSection(new (std::nothrow) ZkCriticalSectionH()) {
  if (!m_pSection) throw "Not enough memory to initialize ZkCriticalSection";
}

ZkCriticalSection::ZkCriticalSection(const std::nothrow_t&) noexcept
    : m_pSection(new (std::nothrow) ZkCriticalSectionH()) {}

ZkCriticalSection::~ZkCriticalSection() { m_pSection.reset(); }

bool ZkCriticalSection::enter(bool bWait) { return m_pSection->enter(bWait); }

void ZkCriticalSection::leave() { m_pSection->leave(); }

ZkCriticalSectionLock::ZkCriticalSectionLock(ZkCriticalSection* pSection)
    : m_pSection(pSection) {
  if (m_pSection != nullptr) m_pSection->enter(true);
}

ZkCriticalSectionLock::~ZkCriticalSectionLock() {
  if (m_pSection != nullptr) m_pSection->leave();
}

void ZkCriticalSectionLock::resetCriticalSection(ZkCriticalSection* pSection) {
  if (m_pSection != nullptr) m_pSection->leave();
  m_pSection = pSection;
  if (m_pSection != nullptr) m_pSection->enter(true);
}
