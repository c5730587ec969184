// SPDX-License-Identifier: Apache-2.0
// The one error type of the reference host (catalog, plug-in loader,
// commands) and the exit statuses of the zksnap command.
//
// A HostError carries a one-line message that names what went wrong (file,
// record, array) and the exit status the command ends with. It never holds
// a password.
#ifndef ZK_REFHOST_ZKSNAPERROR_H_
#define ZK_REFHOST_ZKSNAPERROR_H_

#include <stdexcept>
#include <string>

namespace zkref {

// Exit statuses of zksnap; documented in docs/zksnap.md.
enum ExitStatus : int {
  kExitSuccess = 0,  // RESULT_SUCCESS, or a command that needs no plug-in
  kExitError = 1,    // the command could not run: bad input, catalog, plug-in
  kExitUsage = 2,    // the command line itself is wrong
  kExitPartial = 3,  // the plug-in answered RESULT_PARTIAL_SUCCESS
  kExitFailure = 4,  // the plug-in answered RESULT_FAILURE
  kExitBusy = 5,     // another zksnap held the catalog for too long
  // 128 + N: stopped by signal N (SIGINT, SIGTERM, SIGHUP); the catalog is
  // as it was before the command.
};

class HostError : public std::runtime_error {
 public:
  explicit HostError(const std::string& sMessage, int nExit = kExitError)
      : std::runtime_error(sMessage), m_nExit(nExit) {}
  int ExitCode() const { return m_nExit; }

 private:
  int m_nExit;
};

}  // namespace zkref

#endif  // ZK_REFHOST_ZKSNAPERROR_H_
