// SPDX-License-Identifier: Apache-2.0
#include "refhost/ZksnapOutput.h"

#include <cstdio>

#include "filer/FilerText.h"
#include "host/ZKSnapTypes.h"

namespace zkref {

std::string EscapeControls(const std::string& s) {
  return zkfiler::EscapeControls(s);
}

void Table::AddRow(std::vector<std::string> vCells) {
  vCells.resize(m_vHeaders.size());
  for (std::string& s : vCells) s = EscapeControls(s);
  m_vRows.push_back(std::move(vCells));
}

std::string Table::Render() const {
  std::vector<size_t> vWidths;
  for (const std::string& s : m_vHeaders) vWidths.push_back(s.size());
  for (const auto& vRow : m_vRows) {
    for (size_t i = 0; i < vRow.size(); ++i) {
      const size_t n = vRow[i].empty() ? 1 : vRow[i].size();
      if (n > vWidths[i]) vWidths[i] = n;
    }
  }
  auto RenderRow = [&](const std::vector<std::string>& vCells) {
    std::string sLine;
    for (size_t i = 0; i < vCells.size(); ++i) {
      const std::string sCell = vCells[i].empty() ? "-" : vCells[i];
      sLine += sCell;
      if (i + 1 < vCells.size()) {
        sLine += std::string(vWidths[i] - sCell.size() + 2, ' ');
      }
    }
    return sLine + "\n";
  };
  std::string sOut = RenderRow(m_vHeaders);
  for (const auto& vRow : m_vRows) sOut += RenderRow(vRow);
  return sOut;
}

Json Json::Bool(bool b) {
  Json o;
  o.m_eKind = Kind::kBool;
  o.m_b = b;
  return o;
}

Json Json::Int(int64_t n) {
  Json o;
  o.m_eKind = Kind::kInt;
  o.m_n = n;
  return o;
}

Json Json::Str(std::string s) {
  Json o;
  o.m_eKind = Kind::kString;
  o.m_s = std::move(s);
  return o;
}

Json Json::Array() {
  Json o;
  o.m_eKind = Kind::kArray;
  return o;
}

Json Json::Object() {
  Json o;
  o.m_eKind = Kind::kObject;
  return o;
}

Json& Json::Push(Json oValue) {
  m_vItems.push_back(std::move(oValue));
  return *this;
}

Json& Json::Set(const std::string& sKey, Json oValue) {
  for (size_t i = 0; i < m_vKeys.size(); ++i) {
    if (m_vKeys[i] == sKey) {
      m_vItems[i] = std::move(oValue);
      return *this;
    }
  }
  m_vKeys.push_back(sKey);
  m_vItems.push_back(std::move(oValue));
  return *this;
}

size_t Utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  unsigned int nCode;
  if (c < 0x80) return 1;
  if (c >= 0xc2 && c <= 0xdf) {
    n = 2;
    nCode = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    n = 3;
    nCode = c & 0x0f;
  } else if (c >= 0xf0 && c <= 0xf4) {
    n = 4;
    nCode = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xc0) != 0x80) return 0;
    nCode = (nCode << 6) | (d & 0x3f);
  }
  // Overlong forms, UTF-16 surrogates and values beyond U+10FFFF.
  if ((n == 3 && nCode < 0x800) || (n == 4 && nCode < 0x10000) ||
      (nCode >= 0xd800 && nCode <= 0xdfff) || nCode > 0x10ffff) {
    return 0;
  }
  return n;
}

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8Length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

namespace {

// A JSON string: valid UTF-8 whatever the bytes; a byte that is not part of
// a UTF-8 character becomes U+FFFD.
std::string Quote(const std::string& s) {
  std::string sOut = "\"";
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const size_t n = Utf8Length(s, i);
      size_t nControl = 0;
      if (n == 0) {
        sOut += "\\ufffd";
      } else if (const uint32_t nCode =
                     zkfiler::LayoutControlAt(s, i, &nControl)) {
        // Valid JSON either way; escaped, it cannot turn a terminal's text.
        char aBuf[16];
        std::snprintf(aBuf, sizeof(aBuf), "\\u%04x",
                      static_cast<unsigned>(nCode & 0xffff));
        sOut += aBuf;
        i += nControl - 1;
      } else {
        sOut.append(s, i, n);
        i += n - 1;
      }
      continue;
    }
    switch (c) {
      case '"':
        sOut += "\\\"";
        break;
      case '\\':
        sOut += "\\\\";
        break;
      case '\b':
        sOut += "\\b";
        break;
      case '\f':
        sOut += "\\f";
        break;
      case '\n':
        sOut += "\\n";
        break;
      case '\r':
        sOut += "\\r";
        break;
      case '\t':
        sOut += "\\t";
        break;
      default:
        if (c < 0x20) {
          char aBuf[8];
          std::snprintf(aBuf, sizeof(aBuf), "\\u%04x", c);
          sOut += aBuf;
        } else {
          sOut += static_cast<char>(c);
        }
    }
  }
  return sOut + "\"";
}

}  // namespace

std::string Json::Dump(int nIndent) const {
  const std::string sPad(static_cast<size_t>(nIndent) * 2, ' ');
  const std::string sInner(static_cast<size_t>(nIndent + 1) * 2, ' ');
  switch (m_eKind) {
    case Kind::kNull:
      return "null";
    case Kind::kBool:
      return m_b ? "true" : "false";
    case Kind::kInt:
      return std::to_string(m_n);
    case Kind::kString:
      return Quote(m_s);
    case Kind::kArray: {
      if (m_vItems.empty()) return "[]";
      std::string s = "[\n";
      for (size_t i = 0; i < m_vItems.size(); ++i) {
        s += sInner + m_vItems[i].Dump(nIndent + 1);
        s += i + 1 < m_vItems.size() ? ",\n" : "\n";
      }
      return s + sPad + "]";
    }
    case Kind::kObject: {
      if (m_vItems.empty()) return "{}";
      std::string s = "{\n";
      for (size_t i = 0; i < m_vItems.size(); ++i) {
        s += sInner + Quote(m_vKeys[i]) + ": " + m_vItems[i].Dump(nIndent + 1);
        s += i + 1 < m_vItems.size() ? ",\n" : "\n";
      }
      return s + sPad + "}";
    }
  }
  return "null";
}

std::string StatusName(int n) {
  switch (n) {
    case ZKSO::SNAP_STATUS_UNKNOWN:
      return "SNAP_STATUS_UNKNOWN";
    case ZKSO::SNAP_STATUS_NONE:
      return "SNAP_STATUS_NONE";
    case ZKSO::READY_FOR_SNAP:
      return "READY_FOR_SNAP";
    case ZKSO::READY_FOR_SNAP_FAILED:
      return "READY_FOR_SNAP_FAILED";
    case ZKSO::SNAP_UNPREPARED:
      return "SNAP_UNPREPARED";
    case ZKSO::SNAP_SUCCESS:
      return "SNAP_SUCCESS";
    case ZKSO::SNAP_FAILED:
      return "SNAP_FAILED";
    case ZKSO::MAP_FAILED:
      return "MAP_FAILED";
    case ZKSO::MAP_SUCCESS:
      return "MAP_SUCCESS";
    case ZKSO::UNMAP_SUCCESS:
      return "UNMAP_SUCCESS";
    case ZKSO::UNMAP_FAILED:
      return "UNMAP_FAILED";
    case ZKSO::DELETE_SUCCESS:
      return "DELETE_SUCCESS";
    case ZKSO::DELETE_FAILED:
      return "DELETE_FAILED";
    case ZKSO::REVERT_SUCCESS:
      return "REVERT_SUCCESS";
    case ZKSO::REVERT_FAILED:
      return "REVERT_FAILED";
    case ZKSO::SNAP_NOT_FOUND:
      return "SNAP_NOT_FOUND";
  }
  return "STATUS_" + std::to_string(n);
}

std::string ResultName(int n) {
  switch (n) {
    case ZKSO::RESULT_SUCCESS:
      return "RESULT_SUCCESS";
    case ZKSO::RESULT_FAILURE:
      return "RESULT_FAILURE";
    case ZKSO::RESULT_PARTIAL_SUCCESS:
      return "RESULT_PARTIAL_SUCCESS";
  }
  return "RESULT_" + std::to_string(n);
}

std::string MetaDataName(int n) {
  switch (n) {
    case SM_MDT_SNAP_UUID:
      return "SM_MDT_SNAP_UUID";
    case SM_MDT_FS_INFO:
      return "SM_MDT_FS_INFO";
    case SM_MDT_SNAP_MOUNT:
      return "SM_MDT_SNAP_MOUNT";
    case SM_MDT_CELERRA_INTENT:
      return "SM_MDT_CELERRA_INTENT";
  }
  return std::to_string(n);
}

}  // namespace zkref
