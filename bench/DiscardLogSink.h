// SPDX-License-Identifier: Apache-2.0
// A log sink that keeps nothing: it renders each line it wants the way the
// default sink does (so the cost of formatting is the same) and drops it.
// Lines pass when they are error lines or their level is at most the
// threshold, as with the default sink and ZK_DEBUG_LEVEL.
//
// It counts the lines and bytes it dropped and the lines that held a given
// secret, so a benchmark can tell that no password was ever logged.
//
// Installs itself on construction and restores the previous sink on
// destruction. The process-wide sink lock serialises every Write.
#ifndef ZK_BENCH_DISCARDLOGSINK_H_
#define ZK_BENCH_DISCARDLOGSINK_H_

#include <cstdint>
#include <string>

#include "hostenv/ZkLogSink.h"

namespace zkbench {

class DiscardLogSink : public ZkLogSink {
 public:
  DiscardLogSink(int nThreshold, std::string sSecret);
  ~DiscardLogSink() override;
  DiscardLogSink(const DiscardLogSink&) = delete;
  DiscardLogSink& operator=(const DiscardLogSink&) = delete;

  bool Wants(ZkLogLine::Stream eStream, int nLevel) const override;
  void Write(const ZkLogLine& oLine) override;

  int64_t Lines() const { return m_nLines; }
  int64_t Bytes() const { return m_nBytes; }
  int64_t LinesWithSecret() const { return m_nSecretLines; }

 private:
  const int m_nThreshold;
  const std::string m_sSecret;
  int64_t m_nLines = 0;
  int64_t m_nBytes = 0;
  int64_t m_nSecretLines = 0;
  ZkLogSink* m_pPrevious;
};

}  // namespace zkbench

#endif  // ZK_BENCH_DISCARDLOGSINK_H_
