// SPDX-License-Identifier: Apache-2.0
#include "refhost/KeyValueText.h"

#include <cctype>

namespace zkref {

std::string EscapeValue(const std::string& sValue) {
  std::string s;
  for (char c : sValue) {
    switch (c) {
      case '\b':
        s += "\\b";
        break;
      case '\t':
        s += "\\t";
        break;
      case '\n':
        s += "\\n";
        break;
      case '\f':
        s += "\\f";
        break;
      case '\r':
        s += "\\r";
        break;
      case '"':
        s += "\\\"";
        break;
      case '/':
        s += "\\/";
        break;
      case '\\':
        s += "\\\\";
        break;
      default:
        s += c;
    }
  }
  return s;
}

std::string UnescapeValue(const std::string& sText) {
  std::string s;
  for (size_t i = 0; i < sText.size(); ++i) {
    char c = sText[i];
    if (c != '\\') {
      s += c;
      continue;
    }
    if (++i == sText.size()) break;
    switch (sText[i]) {
      case 'b':
        s += '\b';
        break;
      case 'f':
        s += '\f';
        break;
      case 'n':
        s += '\n';
        break;
      case 'r':
        s += '\r';
        break;
      case 't':
        s += '\t';
        break;
      default:
        s += sText[i];
    }
  }
  return s;
}

bool FormKeyValueText(const KeyValuePairs& vPairs, std::string* psText,
                      std::string* psError) {
  std::string sBody;
  for (const auto& oPair : vPairs) {
    if (oPair.first.empty()) {
      *psError = "empty key";
      return false;
    }
    if (oPair.second.empty()) continue;
    if (oPair.second.find_first_of(",}") != std::string::npos) {
      *psError = "the value of " + oPair.first +
                 " holds \",\" or \"}\", which the plug-in cannot read back";
      return false;
    }
    if (!sBody.empty()) sBody += ",";
    sBody += oPair.first + ":" + EscapeValue(oPair.second);
  }
  *psText = "{" + sBody + "}";
  return true;
}

bool ParseKeyValueText(const std::string& sText, KeyValuePairs* pvPairs,
                       std::string* psError) {
  pvPairs->clear();
  if (sText.size() < 2 || sText.front() != '{' || sText.back() != '}') {
    *psError = "expected {key:value,...}";
    return false;
  }
  const std::string sBody = sText.substr(1, sText.size() - 2);
  if (sBody.empty()) {
    *psError = "no key:value pair between the braces";
    return false;
  }
  size_t nPos = 0;
  while (nPos <= sBody.size()) {
    size_t nComma = sBody.find(',', nPos);
    if (nComma == std::string::npos) nComma = sBody.size();
    const std::string sPair = sBody.substr(nPos, nComma - nPos);
    const size_t nColon = sPair.find(':');
    if (nColon == std::string::npos || nColon == 0) {
      *psError = "\"" + sPair + "\" is not a key:value pair";
      return false;
    }
    const std::string sKey = sPair.substr(0, nColon);
    for (char c : sKey) {
      if (!std::islower(static_cast<unsigned char>(c))) {
        *psError = "key \"" + sKey + "\" is not a lower-case word";
        return false;
      }
    }
    pvPairs->emplace_back(sKey, UnescapeValue(sPair.substr(nColon + 1)));
    nPos = nComma + 1;
  }
  return true;
}

std::string ValueOf(const KeyValuePairs& vPairs, const std::string& sKey) {
  for (const auto& oPair : vPairs) {
    if (oPair.first == sKey) return oPair.second;
  }
  return std::string();
}

std::string MaskHostIdentifier(const std::string& sText) {
  std::string s = sText;
  const std::string sKey = "password:";
  size_t nPos = s.find(sKey);
  while (nPos != std::string::npos) {
    size_t i = nPos + sKey.size();
    for (; i < s.size() && s[i] != '}'; ++i) s[i] = '*';
    nPos = s.find(sKey, i);
  }
  return s;
}

}  // namespace zkref
