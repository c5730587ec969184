#include "bench/PluginClock.h"

#include <stdlib.h>

#include <string>

namespace zkbench {

namespace {

int64_t g_nNow = 1800000000;
const int64_t kStep = 3 * 86400;
const char kClientHost[] = "backup.bench.test";

}  // namespace

int64_t AdvancePluginClock() {
  g_nNow += kStep;
  setenv("ZK_TEST_NOW", std::to_string(g_nNow).c_str(), 1);
  setenv("ZK_TEST_HOSTNAME", kClientHost, 1);
  return g_nNow;
}

}  // namespace zkbench
