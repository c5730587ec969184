// SPDX-License-Identifier: Apache-2.0
#include "host/EvDebug.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "hostenv/ZkLogSink.h"

namespace {

// Both take a printf format with a va_list; the attributes let the compiler
// check every caller instead of warning on the non-literal format here.
std::string FormatV(const char* pszFormat, va_list vaArgs)
    ZK_PRINTF_FORMAT(1, 0);
void Emit(ZkLogLine::Stream eStream, const char* pszTag, bool bHasLevel,
          int nLevel, bool bHasJobId, ZKUint64 nJobId, const char* pszFormat,
          va_list vaArgs) ZK_PRINTF_FORMAT(7, 0);

std::string FormatV(const char* pszFormat, va_list vaArgs) {
  if (pszFormat == nullptr) return std::string();
  va_list vaCopy;
  va_copy(vaCopy, vaArgs);
  char aSmall[512];
  int n = std::vsnprintf(aSmall, sizeof(aSmall), pszFormat, vaCopy);
  va_end(vaCopy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(aSmall)) return std::string(aSmall, n);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&s[0], s.size(), pszFormat, vaArgs);
  s.resize(static_cast<size_t>(n));
  return s;
}

void Emit(ZkLogLine::Stream eStream, const char* pszTag, bool bHasLevel,
          int nLevel, bool bHasJobId, ZKUint64 nJobId, const char* pszFormat,
          va_list vaArgs) {
  if (!ZkLogWants(eStream, bHasLevel ? nLevel : 0)) return;
  ZkLogLine oLine;
  oLine.eStream = eStream;
  if (pszTag != nullptr) oLine.sTag = pszTag;
  oLine.bHasLevel = bHasLevel;
  oLine.nLevel = nLevel;
  oLine.bHasJobId = bHasJobId;
  oLine.nJobId = nJobId;
  oLine.sText = FormatV(pszFormat, vaArgs);
  ZkLogWrite(oLine);
}

}  // namespace

EvDebug::EvDebug(void* /*pFileInstance*/) : m_nJobId(0), m_bJobIdSet(false) {}

void EvDebug::setJobId(ZKUint64 nJobId) {
  m_nJobId = nJobId;
  m_bJobIdSet = true;
}

void EvDebug::DebugLvl(const char* pszTag, int nLevel, ZKUint64 nJobId,
                       const char* pszFormat, ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kDebug, pszTag, true, nLevel, true, nJobId, pszFormat, va);
  va_end(va);
}

void EvDebug::DebugLvl(const char* pszTag, int nLevel, const char* pszFormat,
                       ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kDebug, pszTag, true, nLevel, m_bJobIdSet, m_nJobId,
       pszFormat, va);
  va_end(va);
}

void EvDebug::DebugJob(const char* pszTag, ZKUint64 nJobId,
                       const char* pszFormat, ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kDebug, pszTag, false, 0, true, nJobId, pszFormat, va);
  va_end(va);
}

void EvDebug::DebugJob(int nLevel, const char* pszTag, ZKUint64 nJobId,
                       const char* pszFormat, ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kDebug, pszTag, true, nLevel, true, nJobId, pszFormat, va);
  va_end(va);
}

void EvDebug::Debug(const char* pszTag, const char* pszFormat, ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kDebug, pszTag, false, 0, false, 0, pszFormat, va);
  va_end(va);
}

void EvDebug::debugLvl(int nLevel, const char* pszFormat, ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kDebug, nullptr, true, nLevel, m_bJobIdSet, m_nJobId,
       pszFormat, va);
  va_end(va);
}

void EvDebug::error(const char* pszFormat, ...) {
  va_list va;
  va_start(va, pszFormat);
  Emit(ZkLogLine::kError, nullptr, false, 0, m_bJobIdSet, m_nJobId, pszFormat,
       va);
  va_end(va);
}
