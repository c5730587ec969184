// SPDX-License-Identifier: Apache-2.0
#include "hostenv/ZkLogSink.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

class StderrSink : public ZkLogSink {
 public:
  StderrSink() : m_nThreshold(0) {
    const char* psz = std::getenv("ZK_DEBUG_LEVEL");
    if (psz != nullptr && *psz != '\0') m_nThreshold = std::atoi(psz);
  }
  bool Wants(ZkLogLine::Stream eStream, int nLevel) const override {
    return eStream == ZkLogLine::kError || nLevel <= m_nThreshold;
  }
  void Write(const ZkLogLine& oLine) override {
    std::string s = oLine.ToString();
    s += '\n';
    std::lock_guard<std::mutex> oLock(m_oMutex);
    std::fwrite(s.data(), 1, s.size(), stderr);
  }

 private:
  int m_nThreshold;
  std::mutex m_oMutex;
};

StderrSink& DefaultSink() {
  static StderrSink* pSink = new StderrSink();  // never destroyed: logging
  return *pSink;                                // may happen during exit
}

std::mutex g_oSinkMutex;  // guards g_pSink swaps and calls into it
ZkLogSink* g_pSink = nullptr;

ZkLogSink& CurrentSinkLocked() {
  return g_pSink != nullptr ? *g_pSink : DefaultSink();
}

}  // namespace

std::string ZkLogLine::ToString() const {
  std::string s = eStream == kError ? "[error]" : "[debug]";
  if (!sTag.empty()) s += " " + sTag;
  if (bHasLevel) s += " <" + std::to_string(nLevel) + ">";
  if (bHasJobId) s += " {" + std::to_string(nJobId) + "}";
  s += " " + sText;
  return s;
}

ZkLogSink* ZkSetLogSink(ZkLogSink* pSink) {
  std::lock_guard<std::mutex> oLock(g_oSinkMutex);
  ZkLogSink* pPrevious = g_pSink;
  g_pSink = pSink;
  return pPrevious;
}

bool ZkLogWants(ZkLogLine::Stream eStream, int nLevel) {
  std::lock_guard<std::mutex> oLock(g_oSinkMutex);
  return CurrentSinkLocked().Wants(eStream, nLevel);
}

void ZkLogWrite(const ZkLogLine& oLine) {
  std::lock_guard<std::mutex> oLock(g_oSinkMutex);
  ZkLogSink& oSink = CurrentSinkLocked();
  if (oSink.Wants(oLine.eStream, oLine.bHasLevel ? oLine.nLevel : 0)) {
    oSink.Write(oLine);
  }
}

ZkCaptureLogSink::ZkCaptureLogSink() : m_pPrevious(ZkSetLogSink(this)) {}

ZkCaptureLogSink::~ZkCaptureLogSink() { ZkSetLogSink(m_pPrevious); }

void ZkCaptureLogSink::Write(const ZkLogLine& oLine) {
  std::lock_guard<std::mutex> oLock(m_oMutex);
  m_vLines.push_back(oLine);
}

std::vector<ZkLogLine> ZkCaptureLogSink::Lines() const {
  std::lock_guard<std::mutex> oLock(m_oMutex);
  return m_vLines;
}

void ZkCaptureLogSink::Clear() {
  std::lock_guard<std::mutex> oLock(m_oMutex);
  m_vLines.clear();
}

bool ZkCaptureLogSink::Contains(const std::string& sNeedle) const {
  return !Find(sNeedle).empty();
}

std::vector<ZkLogLine> ZkCaptureLogSink::Find(const std::string& sNeedle) const {
  std::lock_guard<std::mutex> oLock(m_oMutex);
  std::vector<ZkLogLine> vFound;
  for (const ZkLogLine& o : m_vLines) {
    if (o.sText.find(sNeedle) != std::string::npos) vFound.push_back(o);
  }
  return vFound;
}

std::string ZkCaptureLogSink::Dump() const {
  std::lock_guard<std::mutex> oLock(m_oMutex);
  std::string s;
  for (const ZkLogLine& o : m_vLines) s += o.ToString() + "\n";
  return s;
}
