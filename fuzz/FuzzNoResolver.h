// SPDX-License-Identifier: Apache-2.0
// Keeps fuzzed host names away from the system resolver: a target that
// includes this (in exactly one source file of its program) answers every
// getaddrinfo call with "no such name", so that only the hosts file named
// by ZK_HOSTS_FILE resolves names. Without it every fuzzed name would
// become a DNS query, slow and sent off this machine.
//
// The definition takes the place of the C library's (and of the
// sanitizers' interceptor) for the whole program.
#ifndef ZK_FUZZ_FUZZNORESOLVER_H_
#define ZK_FUZZ_FUZZNORESOLVER_H_

#include <netdb.h>

extern "C" int getaddrinfo(const char* /*pszNode*/, const char* /*pszService*/,
                           const struct addrinfo* /*pHints*/,
                           struct addrinfo** ppResult) {
  if (ppResult != nullptr) *ppResult = nullptr;
  return EAI_NONAME;
}

#endif  // ZK_FUZZ_FUZZNORESOLVER_H_
