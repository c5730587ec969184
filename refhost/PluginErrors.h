// SPDX-License-Identifier: Apache-2.0
// The plug-in's own account of a failure: it writes the file server's
// refusal (status, component, message) to its log, not to the record. For
// the duration of one operation zksnap keeps the lines the plug-in logs as
// errors (its error output, and debug lines at level -1), so that the job
// log and the result say why a record failed.
//
// One capture per call, on the calling thread; the plug-in starts no
// threads.
#ifndef ZK_REFHOST_PLUGINERRORS_H_
#define ZK_REFHOST_PLUGINERRORS_H_

#include <string>
#include <vector>

#include "hostenv/ZkLogSink.h"
#include "refhost/Catalog.h"

namespace zkref {

// Installs itself as the process's log sink, keeps the error lines and
// hands every line on to the sink installed before (none when that was the
// default sink); restores that sink when destroyed.
class PluginErrorCapture : public ZkLogSink {
 public:
  PluginErrorCapture();
  ~PluginErrorCapture() override;
  PluginErrorCapture(const PluginErrorCapture&) = delete;
  PluginErrorCapture& operator=(const PluginErrorCapture&) = delete;

  bool Wants(ZkLogLine::Stream eStream, int nLevel) const override;
  void Write(const ZkLogLine& oLine) override;
  const std::vector<ZkLogLine>& Lines() const { return m_vLines; }

 private:
  ZkLogSink* m_pPrevious;
  std::vector<ZkLogLine> m_vLines;
};

// An error line of one call.
struct ErrorLine {
  // The records the line names (by source path, snap name or checkpoint
  // name), separated by blanks; "" for a line of the call as a whole.
  std::string sRecord;
  // The record whose job log keeps it: the first it names, else the first
  // record that failed in the call, else the first record of the call.
  std::string sLogRecord;
  std::string sTag;
  std::string sText;
};

// Each line once, with the records it names; a line that names none
// belongs to the call. A line the plug-in logged more than once in the call
// is kept once. Lines that carry nothing (a status report with every field
// empty) are dropped.
std::vector<ErrorLine> AttachErrorLines(const std::vector<ZkLogLine>& vLines,
                                        const std::vector<RecordRow>& vRows);

// True for the failure statuses an operation writes.
bool IsFailureStatus(int nStatus);

// True when a reason text holds nothing but the labels of the file server's
// error fields ("Component:Facility:Message:..."), or nothing at all.
bool IsEmptyReason(const std::string& sText);

}  // namespace zkref

#endif  // ZK_REFHOST_PLUGINERRORS_H_
