// SPDX-License-Identifier: Apache-2.0
// The host's logging classes.
//
// Every call produces one structured line (see hostenv/ZkLogSink.h): stream
// (debug or error), tag, level when given, job id when given or set, text.
// The format arguments are checked by the compiler; a text built from data
// must be passed as an argument to "%s", never as the format.
//
// Thread-safe: the lines go to one process-wide sink.
#ifndef ZK_HOST_EVDEBUG_H_
#define ZK_HOST_EVDEBUG_H_

#include "host/ZKSnapHost.h"

class EvDebug {
 public:
  // The host passes a file instance; null selects the process-wide sink,
  // which is all this system uses.
  explicit EvDebug(void* pFileInstance = nullptr);

  void DebugLvl(const char* pszTag, int nLevel, ZKUint64 nJobId,
                const char* pszFormat, ...) ZK_PRINTF_FORMAT(5, 6);
  void DebugLvl(const char* pszTag, int nLevel, const char* pszFormat, ...)
      ZK_PRINTF_FORMAT(4, 5);
  void DebugJob(const char* pszTag, ZKUint64 nJobId, const char* pszFormat,
                ...) ZK_PRINTF_FORMAT(4, 5);
  void DebugJob(int nLevel, const char* pszTag, ZKUint64 nJobId,
                const char* pszFormat, ...) ZK_PRINTF_FORMAT(5, 6);
  // Tag only: no level, no job id.
  void Debug(const char* pszTag, const char* pszFormat, ...)
      ZK_PRINTF_FORMAT(3, 4);
  // Level only.
  void debugLvl(int nLevel, const char* pszFormat, ...) ZK_PRINTF_FORMAT(3, 4);
  // Error output: no tag, no level; carries the job id once set.
  void error(const char* pszFormat, ...) ZK_PRINTF_FORMAT(2, 3);

  void setJobId(ZKUint64 nJobId);

 protected:
  ZKUint64 m_nJobId;
  bool m_bJobIdSet;
};

// A logging context: the same operations, copyable by assignment.
class EvEvent : public EvDebug {
 public:
  EvEvent() : EvDebug(nullptr) {}
};

#endif  // ZK_HOST_EVDEBUG_H_
