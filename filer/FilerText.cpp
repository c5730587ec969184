// SPDX-License-Identifier: Apache-2.0
#include "filer/FilerText.h"

namespace zkfiler {

std::string EscapeField(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (ch == '\\') {
      out += "\\\\";
    } else if (u <= ' ' || u == 0x7f) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xf];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string Shown(const std::string& text, size_t max) {
  if (text.size() <= max) return "'" + EscapeField(text) + "'";
  return "'" + EscapeField(text.substr(0, max)) + "...'";
}

}  // namespace zkfiler
