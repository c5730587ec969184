// SPDX-License-Identifier: Apache-2.0
// What zksnap prints: aligned text tables for people, JSON for scripts, and
// the names of the host codes (statuses, result codes, metadata types).
//
// Plain values; any thread.
#ifndef ZK_REFHOST_ZKSNAPOUTPUT_H_
#define ZK_REFHOST_ZKSNAPOUTPUT_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zkref {

// The text with every control character written as an escape, so that a
// text from the file server or the plug-in can neither break a line nor
// reach the terminal as a control sequence nor reorder the text around it
// (zkfiler::EscapeControls: C0 and DEL as "\xHH", C1 as "\u00HH",
// bidirectional controls and line separators as "\uHHHH").
std::string EscapeControls(const std::string& s);

// A text table: one header row, then rows of the same width. Empty cells
// print as "-"; control characters in cells are escaped (EscapeControls).
class Table {
 public:
  explicit Table(std::vector<std::string> vHeaders)
      : m_vHeaders(std::move(vHeaders)) {}
  void AddRow(std::vector<std::string> vCells);
  bool Empty() const { return m_vRows.empty(); }
  // Columns separated by two blanks, each as wide as its widest cell.
  std::string Render() const;

 private:
  std::vector<std::string> m_vHeaders;
  std::vector<std::vector<std::string>> m_vRows;
};

// A JSON value (strings: bidirectional controls and line separators are
// written as "\uHHHH" escapes): null, boolean, integer, string, array or object
// (keys keep their order).
class Json {
 public:
  enum class Kind { kNull, kBool, kInt, kString, kArray, kObject };

  Json() = default;
  static Json Bool(bool b);
  static Json Int(int64_t n);
  static Json Str(std::string s);
  static Json Array();
  static Json Object();

  // REQUIRES: an array.
  Json& Push(Json oValue);
  // REQUIRES: an object.
  Json& Set(const std::string& sKey, Json oValue);
  Json& Set(const std::string& sKey, const std::string& sValue) {
    return Set(sKey, Str(sValue));
  }
  Json& Set(const std::string& sKey, const char* pszValue) {
    return Set(sKey, Str(pszValue));
  }

  // Two-space indentation, one member per line, ending without newline.
  std::string Dump(int nIndent = 0) const;

 private:
  Kind m_eKind = Kind::kNull;
  bool m_b = false;
  int64_t m_n = 0;
  std::string m_s;
  std::vector<Json> m_vItems;
  std::vector<std::string> m_vKeys;  // objects: one per item
};

// Length of the UTF-8 character at s[i], 0 when none starts there.
// REQUIRES: i < s.size().
size_t Utf8Length(const std::string& s, size_t i);
bool IsUtf8(const std::string& s);

// "SNAP_SUCCESS" for 5; "STATUS_<n>" for a value the host does not name.
std::string StatusName(int nStatus);
// "RESULT_SUCCESS" for 0, ...
std::string ResultName(int nResult);
// "SM_MDT_FS_INFO" for 16, ...; "<n>" otherwise.
std::string MetaDataName(int nType);

}  // namespace zkref

#endif  // ZK_REFHOST_ZKSNAPOUTPUT_H_
