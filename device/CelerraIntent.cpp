// SPDX-License-Identifier: Apache-2.0
#include "device/CelerraIntent.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {

const char kFirstLine[] = "zkintent 1";
const char kEmptyField[] = "~";

bool Plain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '/' ||
         c == ':' || c == '@' || c == '+' || c == '-';
}

std::string Encode(const std::string& sValue) {
  if (sValue.empty()) return kEmptyField;
  static const char kHex[] = "0123456789ABCDEF";
  std::string sText;
  for (unsigned char c : sValue) {
    if (Plain(c)) {
      sText += static_cast<char>(c);
    } else {
      sText += '%';
      sText += kHex[c >> 4];
      sText += kHex[c & 0xF];
    }
  }
  return sText;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Decode(const std::string& sText, std::string* psValue) {
  psValue->clear();
  if (sText == kEmptyField) return true;
  if (sText.empty()) return false;
  for (size_t i = 0; i < sText.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(sText[i]);
    if (c == '%') {
      if (i + 2 >= sText.size()) return false;
      const int nHigh = HexValue(sText[i + 1]);
      const int nLow = HexValue(sText[i + 2]);
      if (nHigh < 0 || nLow < 0) return false;
      *psValue += static_cast<char>(nHigh * 16 + nLow);
      i += 2;
    } else if (Plain(c)) {
      *psValue += static_cast<char>(c);
    } else {
      return false;
    }
  }
  return true;
}

std::string EncodeList(const std::vector<std::string>& vHosts) {
  std::string sText;
  for (const std::string& sHost : vHosts) {
    if (sHost.empty()) continue;
    if (!sText.empty()) sText += ',';
    sText += Encode(sHost);
  }
  return sText.empty() ? kEmptyField : sText;
}

bool DecodeList(const std::string& sText, std::vector<std::string>* pvHosts) {
  pvHosts->clear();
  if (sText == kEmptyField) return true;
  size_t nStart = 0;
  while (true) {
    const size_t nComma = sText.find(',', nStart);
    const std::string sPart =
        sText.substr(nStart, nComma == std::string::npos ? std::string::npos
                                                         : nComma - nStart);
    std::string sHost;
    if (sPart == kEmptyField || !Decode(sPart, &sHost)) return false;
    pvHosts->push_back(sHost);
    if (nComma == std::string::npos) return true;
    nStart = nComma + 1;
  }
}

std::vector<std::string> Split(const std::string& sText, char cSeparator) {
  std::vector<std::string> vParts;
  size_t nStart = 0;
  while (true) {
    const size_t nAt = sText.find(cSeparator, nStart);
    if (nAt == std::string::npos) {
      vParts.push_back(sText.substr(nStart));
      return vParts;
    }
    vParts.push_back(sText.substr(nStart, nAt - nStart));
    nStart = nAt + 1;
  }
}

bool ParseLine(const std::vector<std::string>& vWords, _CelerraIntent* pIntent,
               std::string* psWhy) {
  const std::string& sKind = vWords[0];
  auto fnFields = [&](size_t nCount) {
    if (vWords.size() == nCount + 1) return true;
    *psWhy = "line \"" + sKind + "\" has " + std::to_string(vWords.size() - 1) +
             " fields, not " + std::to_string(nCount);
    return false;
  };
  auto fnField = [&](size_t n, std::string* psValue) {
    if (Decode(vWords[n], psValue)) return true;
    *psWhy = "field " + std::to_string(n) + " of line \"" + sKind +
             "\" is not an encoded value";
    return false;
  };
  auto fnOnce = [&](bool* pbSeen) {
    if (!*pbSeen) return *pbSeen = true;
    *psWhy = "line \"" + sKind + "\" appears twice";
    return false;
  };
  if (sKind == "ro") {
    return fnFields(2) && fnOnce(&pIntent->bROChkpt) &&
           fnField(1, &pIntent->sROName) && fnField(2, &pIntent->sROPFSId);
  }
  if (sKind == "rw") {
    return fnFields(3) && fnOnce(&pIntent->bRWChkpt) &&
           fnField(1, &pIntent->sRWName) && fnField(2, &pIntent->sRWPFSId) &&
           fnField(3, &pIntent->sRWBaselineId);
  }
  if (sKind == "export") {
    _CelerraViewExport& oExport = pIntent->oExport;
    if (!fnFields(5) || !fnOnce(&pIntent->bExport) ||
        !fnField(1, &oExport.sSharePath) || !fnField(2, &oExport.sMoverId)) {
      return false;
    }
    std::vector<std::string>* apLists[] = {&oExport.oHosts.vAccessHosts,
                                           &oExport.oHosts.vRWHosts,
                                           &oExport.oHosts.vRootHosts};
    for (size_t n = 0; n < 3; ++n) {
      if (!DecodeList(vWords[3 + n], apLists[n])) {
        *psWhy = "host list " + std::to_string(n + 1) +
                 " of line \"export\" is not a list of encoded values";
        return false;
      }
    }
    return true;
  }
  *psWhy = "unknown line \"" + Encode(sKind) + "\"";
  return false;
}

}  // namespace

std::string FormatIntent(const _CelerraIntent& oIntent) {
  if (oIntent.Empty()) return "";
  std::string sText = std::string(kFirstLine) + "\n";
  if (oIntent.bROChkpt) {
    sText +=
        "ro " + Encode(oIntent.sROName) + " " + Encode(oIntent.sROPFSId) + "\n";
  }
  if (oIntent.bRWChkpt) {
    sText += "rw " + Encode(oIntent.sRWName) + " " + Encode(oIntent.sRWPFSId) +
             " " + Encode(oIntent.sRWBaselineId) + "\n";
  }
  if (oIntent.bExport) {
    const _CelerraViewExport& oExport = oIntent.oExport;
    sText += "export " + Encode(oExport.sSharePath) + " " +
             Encode(oExport.sMoverId) + " " +
             EncodeList(oExport.oHosts.vAccessHosts) + " " +
             EncodeList(oExport.oHosts.vRWHosts) + " " +
             EncodeList(oExport.oHosts.vRootHosts) + "\n";
  }
  return sText;
}

bool ParseIntent(const std::string& sText, _CelerraIntent* pIntent,
                 std::string* psWhy) {
  *pIntent = _CelerraIntent();
  psWhy->clear();
  if (sText.empty()) return true;
  _CelerraIntent oRead;
  std::vector<std::string> vLines = Split(sText, '\n');
  if (vLines.back().empty()) {
    vLines.pop_back();
  } else {
    *psWhy = "the last line does not end with a line break";
    return false;
  }
  if (vLines.empty() || vLines[0] != kFirstLine) {
    *psWhy = "it does not start with the line \"zkintent 1\"";
    return false;
  }
  for (size_t i = 1; i < vLines.size(); ++i) {
    if (!ParseLine(Split(vLines[i], ' '), &oRead, psWhy)) return false;
  }
  if (oRead.Empty()) {
    *psWhy = "it names nothing";
    return false;
  }
  *pIntent = oRead;
  return true;
}
