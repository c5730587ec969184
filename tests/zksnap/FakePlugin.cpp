// SPDX-License-Identifier: Apache-2.0
// Plug-ins that a host must refuse: built once without zkso_snapDevices
// (ZK_FAKE_MISSING_EXPORT) and once complete but of the major version after
// the project's; ZK_FAKE_MAJOR is the major version each reports. Every
// operation fails without touching anything.
//
// The exports are made from the one list of them (ZKSO_EXPORTS). Those not
// made from it are renamed out of its way first: the generated function of
// the new name is not declared as an export, so it stays hidden (the module
// is built with hidden visibility).
#include "host/ZKSnapPlugin.h"

namespace {

template <typename Ret>
struct Refusal {
  static Ret Answer() { return ZKSO::RESULT_FAILURE; }
};
template <>
struct Refusal<void> {
  static void Answer() {}
};

}  // namespace

// Answered by hand below.
#define zkso_version zk_fake_generated_version
#ifdef ZK_FAKE_MISSING_EXPORT
#define zkso_snapDevices zk_fake_left_out_snapDevices
#endif

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define ZK_FAKE_EXPORT(name, ret, params) \
  extern "C" ret name params { return Refusal<ret>::Answer(); }
ZKSO_EXPORTS(ZK_FAKE_EXPORT)
#undef ZK_FAKE_EXPORT
#pragma GCC diagnostic pop

#undef zkso_version
#undef zkso_snapDevices

ZKSO_EXPORT void zkso_version(uint16_t* pMajor, uint16_t* pMinor,
                              uint16_t* pRevision) {
  *pMajor = ZK_FAKE_MAJOR;
  *pMinor = 0;
  *pRevision = 0;
}
