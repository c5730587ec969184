// SPDX-License-Identifier: Apache-2.0
#include "bench/PluginClock.h"

#include <string>

#include "tests/testclock/ZkTestClock.h"

namespace zkbench {

namespace {

int64_t g_nNow = 1800000000;
const int64_t kStep = 3 * 86400;
const char kClientHost[] = "backup.bench.test";

}  // namespace

int64_t AdvancePluginClock() {
  g_nNow += kStep;
  zktest::FixNow(g_nNow);
  zktest::FixHostName(kClientHost);
  return g_nNow;
}

}  // namespace zkbench
