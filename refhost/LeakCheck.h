// SPDX-License-Identifier: Apache-2.0
// Tells whether a text the plug-in wrote (a job log line, a reason, a line
// of its debug log) holds an array password, so that zksnap withholds that
// text instead of keeping or printing it.
//
// zksnap itself never puts a password into what it prints; only the
// plug-in's texts are checked. A text found to hold one is replaced whole
// by a fixed notice: its bytes are never rewritten in place, so neither the
// form of the output (JSON) nor the place of a replacement tells anything
// about the password.
//
// A password shorter than kMinLength, or one that is part of a text zksnap
// shows anyway (a user, control host or array name, an address), cannot be
// told apart from ordinary text ("1" is in every job number): such a
// password is not looked for.
//
// Not thread-safe.
#ifndef ZK_REFHOST_LEAKCHECK_H_
#define ZK_REFHOST_LEAKCHECK_H_

#include <cstddef>
#include <string>
#include <vector>

namespace zkref {

class LeakCheck {
 public:
  static const size_t kMinLength = 8;
  // What a withheld text is replaced by.
  static const char kWithheld[];

  void AddSecret(const std::string& sSecret);
  // A text zksnap shows anyway.
  void AddPublic(const std::string& sText);

  bool Holds(const std::string& sText) const;
  // sText, or kWithheld when it holds a password (counted).
  std::string Screen(const std::string& sText);
  int Withheld() const { return m_nWithheld; }

 private:
  std::vector<std::string> m_vSecrets;
  std::vector<std::string> m_vPublic;
  int m_nWithheld = 0;
};

}  // namespace zkref

#endif  // ZK_REFHOST_LEAKCHECK_H_
