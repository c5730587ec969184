// SPDX-License-Identifier: Apache-2.0
#include "bench/DiscardLogSink.h"

#include <utility>

namespace zkbench {

DiscardLogSink::DiscardLogSink(int nThreshold, std::string sSecret)
    : m_nThreshold(nThreshold),
      m_sSecret(std::move(sSecret)),
      m_pPrevious(ZkSetLogSink(this)) {}

DiscardLogSink::~DiscardLogSink() { ZkSetLogSink(m_pPrevious); }

bool DiscardLogSink::Wants(ZkLogLine::Stream eStream, int nLevel) const {
  return eStream == ZkLogLine::kError || nLevel <= m_nThreshold;
}

void DiscardLogSink::Write(const ZkLogLine& oLine) {
  std::string s = oLine.ToString();
  s += '\n';
  ++m_nLines;
  m_nBytes += static_cast<int64_t>(s.size());
  if (!m_sSecret.empty() && s.find(m_sSecret) != std::string::npos) {
    ++m_nSecretLines;
  }
}

}  // namespace zkbench
