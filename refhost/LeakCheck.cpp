// SPDX-License-Identifier: Apache-2.0
#include "refhost/LeakCheck.h"

namespace zkref {

const char LeakCheck::kWithheld[] =
    "(withheld by zksnap: the plug-in wrote an array password into this "
    "text)";

void LeakCheck::AddSecret(const std::string& sSecret) {
  if (!sSecret.empty()) m_vSecrets.push_back(sSecret);
}

void LeakCheck::AddPublic(const std::string& sText) {
  if (!sText.empty()) m_vPublic.push_back(sText);
}

bool LeakCheck::Holds(const std::string& sText) const {
  for (const std::string& sSecret : m_vSecrets) {
    if (sSecret.size() < kMinLength) continue;
    bool bPublic = false;
    for (const std::string& s : m_vPublic) {
      bPublic |= s.find(sSecret) != std::string::npos;
    }
    if (!bPublic && sText.find(sSecret) != std::string::npos) return true;
  }
  return false;
}

std::string LeakCheck::Screen(const std::string& sText) {
  if (!Holds(sText)) return sText;
  ++m_nWithheld;
  return kWithheld;
}

}  // namespace zkref
