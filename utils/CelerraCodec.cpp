// SPDX-License-Identifier: Apache-2.0
// The key/value codec of CelerraUtils: value escaping, device identifiers,
// key lookup and the two list tokenisers. Stateless; no host object is used,
// so the log lines carry no job id.
#include <string>
#include <vector>

#include "host/EvDebug.h"
#include "utils/CelerraUtils.h"

namespace {

const char* OrEmpty(const std::string& s) {
  return s.empty() ? "EMPTY" : s.c_str();
}

}  // namespace

void _CelerraSnapDeviceIdentifier::clear() {
  sLunUUID.clear();
  sTargetIdentifier.clear();
  sType.clear();
  sTargetHostName.clear();
  sFiler.clear();
  sVolume.clear();
  sPath.clear();
  sKemType.clear();
  sVendor.clear();
  sFSPath.clear();
  sExportPath.clear();
}

std::string CelerraUtils::formatString(const std::string& sValue) {
  std::string sResult;
  sResult.reserve(sValue.size());
  for (char c : sValue) {
    switch (c) {
      case '\b':
        sResult += "\\b";
        break;
      case '\t':
        sResult += "\\t";
        break;
      case '\n':
        sResult += "\\n";
        break;
      case '\f':
        sResult += "\\f";
        break;
      case '\r':
        sResult += "\\r";
        break;
      case '"':
        sResult += "\\\"";
        break;
      case '/':
        sResult += "\\/";
        break;
      case '\\':
        sResult += "\\\\";
        break;
      default:
        sResult += c;
        break;
    }
  }
  return sResult;
}

// An unescaped "/" is copied as it is whatever bKeepUnescapedSlash says: other
// writers put raw paths such as "/fs1/ds1" into values, and those must come
// back whole.
std::string CelerraUtils::deformatString(const std::string& sText,
                                         bool /*bKeepUnescapedSlash*/) {
  std::string sResult;
  sResult.reserve(sText.size());
  const size_t nLen = sText.size();
  size_t i = 0;
  while (i < nLen) {
    char c = sText[i];
    if (c != '\\') {
      sResult += c;
      ++i;
      continue;
    }
    ++i;
    if (i >= nLen) break;  // a lone trailing backslash is dropped
    char d = sText[i];
    switch (d) {
      case 'b':
        d = '\b';
        break;
      case 'f':
        d = '\f';
        break;
      case 'n':
        d = '\n';
        break;
      case 'r':
        d = '\r';
        break;
      case 't':
        d = '\t';
        break;
      default:
        break;
    }
    sResult += d;
    ++i;
  }
  return sResult;
}

void CelerraUtils::addJsonElem(std::string& sTarget, const std::string& sKey,
                               const std::string& sValue) {
  if (sKey.empty() || sValue.empty()) return;
  std::string sPair = sKey;
  sPair += ':';
  sPair += formatString(sValue);
  if (!sTarget.empty()) sTarget += ',';
  sTarget += sPair;
}

std::string CelerraUtils::FormDeviceIdentifider(
    const _CelerraSnapDeviceIdentifier& oIdentifier) {
  if (oIdentifier.sVendor.empty()) return std::string();
  std::string sPairs;
  addJsonElem(sPairs, "kemtype", oIdentifier.sKemType);
  addJsonElem(sPairs, "type", oIdentifier.sType);
  addJsonElem(sPairs, "lunuuid", oIdentifier.sLunUUID);
  addJsonElem(sPairs, "targetidentifier", oIdentifier.sTargetIdentifier);
  addJsonElem(sPairs, "targethostname", oIdentifier.sTargetHostName);
  addJsonElem(sPairs, "filer", oIdentifier.sFiler);
  addJsonElem(sPairs, "volume", oIdentifier.sVolume);
  addJsonElem(sPairs, "path", oIdentifier.sPath);
  addJsonElem(sPairs, "fspath", oIdentifier.sFSPath);
  addJsonElem(sPairs, "exportpath", oIdentifier.sExportPath);
  if (sPairs.empty()) return std::string();
  addJsonElem(sPairs, "vendor", oIdentifier.sVendor);
  return "{" + sPairs + "}";
}

size_t CelerraUtils::GetJsonValue(const std::string& sSource,
                                  const std::string& sKey, std::string& sValue,
                                  const bool& bDeformat,
                                  const bool& bLogValue) {
  static const char kTag[] = "CelerraUtils::GetJsonValue";
  EvDebug oLog(nullptr);
  if (bLogValue) {
    oLog.DebugLvl(kTag, 5, "JSON String [%s]. Key = [%s]", sSource.c_str(),
                  sKey.c_str());
  }
  // The leading brace or comma anchors the match to a whole key.
  const std::string sFirst = "{" + sKey + ":";
  const std::string sNext = "," + sKey + ":";
  size_t nPos = sSource.find(sFirst);
  if (nPos == std::string::npos) nPos = sSource.find(sNext);
  if (nPos == std::string::npos) return std::string::npos;

  const size_t nStart = nPos + sKey.size() + 2;
  size_t nEnd = sSource.find(',', nStart);
  if (nEnd == std::string::npos) nEnd = sSource.find('}', nStart);
  if (nEnd == std::string::npos) return std::string::npos;

  sValue.assign(sSource, nStart, nEnd - nStart);
  if (bDeformat) sValue = deformatString(sValue, false);
  if (bLogValue) {
    oLog.DebugLvl(kTag, 3, "Key = [%s], Value[%s]", sKey.c_str(),
                  sValue.c_str());
  }
  return nStart;
}

void CelerraUtils::ParseDeviceIdentifier(
    const std::string& sIdentifier, _CelerraSnapDeviceIdentifier& oIdentifier) {
  static const char kTag[] = "CelerraUtils::ParseDeviceIdentifier";
  EvDebug oLog(nullptr);
  if (sIdentifier.empty()) {
    oLog.Debug(kTag,
               "Error:Array info is empty unable to get filer login info");
    return;
  }
  oLog.DebugLvl(kTag, 2, "Device ID [%s]", sIdentifier.c_str());
  oIdentifier.clear();

  const bool bRaw = false;
  const bool bDeformat = true;
  const bool bLogValue = true;
  GetJsonValue(sIdentifier, "lunuuid", oIdentifier.sLunUUID, bRaw, bLogValue);
  oIdentifier.sLunUUID = deformatString(oIdentifier.sLunUUID, true);

  struct KeyField {
    const char* pszKey;
    std::string* pField;
  };
  const KeyField aFields[] = {
      {"targetidentifier", &oIdentifier.sTargetIdentifier},
      {"type", &oIdentifier.sType},
      {"targethostname", &oIdentifier.sTargetHostName},
      {"filer", &oIdentifier.sFiler},
      {"volume", &oIdentifier.sVolume},
      {"path", &oIdentifier.sPath},
      {"kemtype", &oIdentifier.sKemType},
      {"vendor", &oIdentifier.sVendor},
      {"fspath", &oIdentifier.sFSPath},
      {"exportpath", &oIdentifier.sExportPath},
  };
  for (const KeyField& o : aFields) {
    GetJsonValue(sIdentifier, o.pszKey, *o.pField, bDeformat, bLogValue);
  }

  oLog.DebugLvl(
      kTag, 2, "LunId [%s], TargetIdentifier[%s], Type[%s], KemType[%s]",
      OrEmpty(oIdentifier.sLunUUID), OrEmpty(oIdentifier.sTargetIdentifier),
      OrEmpty(oIdentifier.sType), OrEmpty(oIdentifier.sKemType));
}

std::string CelerraUtils::GetNextSeparatedValue(const std::string& sText,
                                                size_t& nPos, char cSeparator) {
  // A position past the end (not only at it) also ends the list.
  if (nPos != std::string::npos && nPos >= sText.size()) {
    nPos = std::string::npos;
  }
  if (nPos == std::string::npos) return std::string();
  const size_t nSep = sText.find(cSeparator, nPos);
  std::string sToken;
  if (nSep == std::string::npos) {
    sToken = sText.substr(nPos);
    nPos = std::string::npos;
  } else {
    sToken = sText.substr(nPos, nSep - nPos);
    nPos = nSep + 1;
  }
  return sToken;
}

bool CelerraUtils::VectorizeString(const std::string& sText,
                                   std::vector<std::string>& vList,
                                   char cSeparator) {
  vList.clear();
  if (sText.empty()) {
    EvDebug oLog(nullptr);
    oLog.DebugLvl("CelerraUtils::VectorizeString", 0,
                  "Input string is empty, nothing to do.");
    return true;
  }
  size_t nStart = 0;
  for (;;) {
    const size_t nSep = sText.find(cSeparator, nStart);
    if (nSep == std::string::npos) {
      vList.push_back(sText.substr(nStart));
      break;
    }
    vList.push_back(sText.substr(nStart, nSep - nStart));
    nStart = nSep + 1;
  }
  return true;
}
