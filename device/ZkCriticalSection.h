// SPDX-License-Identifier: Apache-2.0
// ZkCriticalSection: owner of one host critical section (ZkCriticalSectionH).
// ZkCriticalSectionLock: scoped holder of a ZkCriticalSection.
//
// A ZkCriticalSection owns its host object for its whole life; the plug-in
// keeps its sections as process-wide statics made at library load. Any
// thread may enter and leave a section; a lock object belongs to the thread
// that made it and is not copyable.
#ifndef ZK_DEVICE_ZKCRITICALSECTION_H_
#define ZK_DEVICE_ZKCRITICALSECTION_H_

#include <memory>
#include <new>

#include "host/ZkHostLib.h"

class ZkCriticalSection {
 public:
  // Throws the character string "Not enough memory to initialize
  // ZkCriticalSection" when the host object cannot be made.
  ZkCriticalSection();
  // For a section made at library load, where nothing may be thrown (it
  // would end the host process in dlopen): when the host object cannot be
  // made, Made() answers false and the section must not be entered.
  explicit ZkCriticalSection(const std::nothrow_t&) noexcept;
  ~ZkCriticalSection();
  ZkCriticalSection(const ZkCriticalSection&) = delete;
  ZkCriticalSection& operator=(const ZkCriticalSection&) = delete;

  // False when the nothrow constructor could not make the host object.
  bool Made() const { return m_pSection != nullptr; }

  // Forwards to the host object: true waits until the section is held.
  bool enter(bool bWait);
  void leave();

 private:
  std::unique_ptr<ZkCriticalSectionH> m_pSection;
};

// Holds a section from construction to destruction. A null section is
// allowed and does nothing.
class ZkCriticalSectionLock {
 public:
  explicit ZkCriticalSectionLock(ZkCriticalSection* pSection);
  ~ZkCriticalSectionLock();
  ZkCriticalSectionLock(const ZkCriticalSectionLock&) = delete;
  ZkCriticalSectionLock& operator=(const ZkCriticalSectionLock&) = delete;

  // Leaves the section held (if any), then enters pSection (if not null).
  void resetCriticalSection(ZkCriticalSection* pSection);

 private:
  ZkCriticalSection* m_pSection;  // borrowed
};

#endif  // ZK_DEVICE_ZKCRITICALSECTION_H_
