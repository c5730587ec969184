// SPDX-License-Identifier: Apache-2.0
// The host's side of the key/value texts exchanged with the plug-in: device
// identifiers ("{type:nfs,lunuuid:\/fs1,...,vendor:celerra}"), VMware mount
// host identifiers ("{vcname:..,esxname:..,vmkernel:a|b|}") and the array
// information text.
//
// Values are escaped the way the plug-in reads them back (control
// characters, double quote, slash and backslash); "," and "}" cannot be
// carried inside a value, so the writers refuse them.
//
// Stateless; any thread.
#ifndef ZK_REFHOST_KEYVALUETEXT_H_
#define ZK_REFHOST_KEYVALUETEXT_H_

#include <string>
#include <utility>
#include <vector>

namespace zkref {

using KeyValuePairs = std::vector<std::pair<std::string, std::string>>;

std::string EscapeValue(const std::string& sValue);
std::string UnescapeValue(const std::string& sText);

// "{k1:v1,k2:v2}" with escaped values; pairs with an empty value are left
// out. Returns false (and sets *psError) when a value holds "," or "}", or
// a key is empty.
bool FormKeyValueText(const KeyValuePairs& vPairs, std::string* psText,
                      std::string* psError);

// Reads a text of the form above. False with the reason in *psError when the
// text is not one pair list in braces with non-empty lower-case keys.
bool ParseKeyValueText(const std::string& sText, KeyValuePairs* pvPairs,
                       std::string* psError);

// The unescaped value of sKey, or "" when absent.
std::string ValueOf(const KeyValuePairs& vPairs, const std::string& sKey);

// A copy of a host identifier in which every character after "password:"
// up to the next "}" is replaced by "*": safe to print.
std::string MaskHostIdentifier(const std::string& sText);

}  // namespace zkref

#endif  // ZK_REFHOST_KEYVALUETEXT_H_
