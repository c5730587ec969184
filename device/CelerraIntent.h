// SPDX-License-Identifier: Apache-2.0
// The record's intent: what a call is about to create on the file server,
// stored in the record (metadata type SM_MDT_CELERRA_INTENT) before each
// create whose outcome a lost reply can hide. A later call takes an object
// already on the file server as its own work only when the record's intent
// (or its mount metadata) names it and the file server shows it as
// intended.
//
// Text: a first line "zkintent 1", then one line per object, each a kind
// word and its fields separated by one blank:
//   ro <name> <file system id>
//   rw <name> <file system id> <baseline checkpoint id>
//   export <path> <data mover> <access hosts> <rw hosts> <root hosts>
// Lines end with "\n". A field is its bytes with every byte outside
// [A-Za-z0-9._/:@+-] written as "%XX" (two upper-case hex digits); an empty
// field is written "~". A host list is its hosts, each written that way,
// joined by ","; an empty list is "~". Each kind appears at most once.
#ifndef ZK_DEVICE_CELERRAINTENT_H_
#define ZK_DEVICE_CELERRAINTENT_H_

#include <string>

#include "device/CelerraMountWork.h"

struct _CelerraIntent {
  // A read-only checkpoint of a file system (snap).
  bool bROChkpt = false;
  std::string sROName;
  std::string sROPFSId;
  // A writable checkpoint of a checkpoint (map).
  bool bRWChkpt = false;
  std::string sRWName;
  std::string sRWPFSId;
  std::string sRWBaselineId;
  // An export of the writable view (map).
  bool bExport = false;
  _CelerraViewExport oExport;

  bool Empty() const { return !bROChkpt && !bRWChkpt && !bExport; }
  bool NamesROChkpt(const std::string& sName, const std::string& sPFSId) const {
    return bROChkpt && sROName == sName && sROPFSId == sPFSId;
  }
  bool NamesRWChkpt(const std::string& sName, const std::string& sPFSId,
                    const std::string& sBaselineId) const {
    return bRWChkpt && sRWName == sName && sRWPFSId == sPFSId &&
           sRWBaselineId == sBaselineId;
  }
  // The export as intended: path, mover and the three host lists.
  bool NamesExport(const _CelerraViewExport& oFound) const {
    return bExport && SameExport(oExport, oFound);
  }
};

// The text of an intent; empty for an empty intent.
std::string FormatIntent(const _CelerraIntent& oIntent);
// Reads a text written by FormatIntent. An empty text is an empty intent.
// False, with *psWhy saying what is wrong and *pIntent empty, for a text
// that is not one.
bool ParseIntent(const std::string& sText, _CelerraIntent* pIntent,
                 std::string* psWhy);

#endif  // ZK_DEVICE_CELERRAINTENT_H_
