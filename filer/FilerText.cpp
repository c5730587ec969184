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

uint32_t LayoutControlAt(const std::string& text, size_t i, size_t* len) {
  auto byte = [&](size_t k) -> unsigned {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u;
  };
  const unsigned a = byte(i), b = byte(i + 1), c = byte(i + 2);
  uint32_t code = 0;
  if (a == 0xd8 && b == 0x9c) {
    *len = 2;
    return 0x061c;
  }
  if (a != 0xe2 || (b & 0xc0) != 0x80 || (c & 0xc0) != 0x80) return 0;
  code = 0x2000 | ((b & 0x3f) << 6) | (c & 0x3f);
  const bool control = code == 0x200e || code == 0x200f ||
                       (code >= 0x2028 && code <= 0x202e) ||
                       (code >= 0x2066 && code <= 0x2069);
  if (!control) return 0;
  *len = 3;
  return code;
}

std::string EscapeControls(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = 0;
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0xf];
    } else if (c == 0xc2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      // U+0080..U+009F: the C1 control characters (CSI among them).
      const unsigned char d = static_cast<unsigned char>(text[++i]);
      out += "\\u00";
      out += kHex[d >> 4];
      out += kHex[d & 0xf];
    } else if (const uint32_t code = LayoutControlAt(text, i, &len)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(code >> shift) & 0xf];
      i += len - 1;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string Shown(const std::string& text, size_t max) {
  if (text.size() <= max) return "'" + EscapeField(text) + "'";
  return "'" + EscapeField(text.substr(0, max)) + "...'";
}

}  // namespace zkfiler
