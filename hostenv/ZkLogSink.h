// SPDX-License-Identifier: Apache-2.0
// The one process-wide sink behind EvDebug and EvEvent (libzkhost).
//
// Every log call becomes one ZkLogLine handed to the installed sink. The
// default sink writes to stderr the lines whose level is at most the
// threshold read from ZK_DEBUG_LEVEL (default 0: errors and progress); error
// lines always pass. Tests install a ZkCaptureLogSink and assert on lines.
//
// Thread-safe: any thread may log or swap the sink. A sink passed to
// ZkSetLogSink is borrowed and must outlive its installation.
#ifndef ZK_HOSTENV_ZKLOGSINK_H_
#define ZK_HOSTENV_ZKLOGSINK_H_

#include <mutex>
#include <string>
#include <vector>

#include "host/ZKSnapTypes.h"

struct ZkLogLine {
  enum Stream { kDebug, kError };
  Stream eStream = kDebug;
  std::string sTag;  // empty when the call gave none
  bool bHasLevel = false;
  int nLevel = 0;
  bool bHasJobId = false;
  ZKUint64 nJobId = 0;
  std::string sText;

  // One line of text: "[stream] tag <level> {job} text" with the absent
  // parts left out.
  std::string ToString() const;
};

class ZkLogSink {
 public:
  virtual ~ZkLogSink() = default;
  // Whether a line of this stream and level would be kept; lets the logger
  // skip formatting. Lines without level are asked with level 0.
  virtual bool Wants(ZkLogLine::Stream eStream, int nLevel) const = 0;
  virtual void Write(const ZkLogLine& oLine) = 0;
};

// Installs a sink (null restores the default) and returns the previous one
// (null for the default).
ZkLogSink* ZkSetLogSink(ZkLogSink* pSink);

// Hands a line to the installed sink, if it wants it.
void ZkLogWrite(const ZkLogLine& oLine);
bool ZkLogWants(ZkLogLine::Stream eStream, int nLevel);

// Keeps every line in memory. Installs itself on construction and restores
// the previous sink on destruction.
class ZkCaptureLogSink : public ZkLogSink {
 public:
  ZkCaptureLogSink();
  ~ZkCaptureLogSink() override;

  bool Wants(ZkLogLine::Stream, int) const override { return true; }
  void Write(const ZkLogLine& oLine) override;

  std::vector<ZkLogLine> Lines() const;
  void Clear();
  // True when some line's text contains sNeedle.
  bool Contains(const std::string& sNeedle) const;
  // Lines whose text contains sNeedle.
  std::vector<ZkLogLine> Find(const std::string& sNeedle) const;
  // Every line rendered with ToString, one per line.
  std::string Dump() const;

 private:
  mutable std::mutex m_oMutex;
  std::vector<ZkLogLine> m_vLines;
  ZkLogSink* m_pPrevious;
};

#endif  // ZK_HOSTENV_ZKLOGSINK_H_
