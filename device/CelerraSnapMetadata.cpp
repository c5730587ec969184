// SPDX-License-Identifier: Apache-2.0
// The metadata texts a device stores in its host record: file system
// (SM_MDT_FS_INFO), checkpoint name and id (SM_MDT_SNAP_UUID) and the
// writable checkpoint made for a mount (SM_MDT_SNAP_MOUNT, read here).
// Fields are separated by "|" without escaping, so a value holding "|" is
// refused by the writers instead of being stored shifted.
#include <climits>
#include <string>

#include "device/CelerraSnapDevice.h"
#include "device/CelerraSnapDeviceNAS.h"
#include "device/CelerraSnapDeviceNfs.h"
#include "host/EvDebug.h"

namespace {

const char kSeparator = '|';
const char kParseFSTag[] = "CelerraSnapDevice::ParseFSMetaData";
const char kParseFSNfsTag[] = "CelerraSnapDeviceNfs::ParseFSMetaData";
const char kParseFSNASTag[] = "CelerraSnapDeviceNAS::ParseFSMetaData";
const char kParseSnapUUIDTag[] = "CelerraSnapDevice::ParseSnapUUID";
const char kParseMountInfoTag[] = "CelerraSnapDevice::ParseMountInfo";
const char kUpdateMetaDataTag[] = "CelerraSnapDevice::UpdateMetaData";
const char kUpdateSnapUUIDTag[] = "CelerraSnapDevice::UpdateSnapUUIDMetaData";

// atoi semantics without its undefined overflow: leading blanks, optional
// sign, digits; no digits gives 0; out of range values are clamped.
int ParseDecimal(const std::string& sText) {
  size_t i = 0;
  while (i < sText.size() &&
         (sText[i] == ' ' || (sText[i] >= '\t' && sText[i] <= '\r'))) {
    ++i;
  }
  bool bNegative = false;
  if (i < sText.size() && (sText[i] == '+' || sText[i] == '-')) {
    bNegative = sText[i] == '-';
    ++i;
  }
  long long nValue = 0;
  for (; i < sText.size() && sText[i] >= '0' && sText[i] <= '9'; ++i) {
    nValue = nValue * 10 + (sText[i] - '0');
    if (nValue > static_cast<long long>(INT_MAX) + 1) break;
  }
  if (bNegative) nValue = -nValue;
  if (nValue > INT_MAX) return INT_MAX;
  if (nValue < INT_MIN) return INT_MIN;
  return static_cast<int>(nValue);
}

// Reads the next field; the position is kept in the caller's unsigned long.
std::string NextField(const std::string& sText, unsigned long& nPosition) {
  size_t nPos = nPosition;
  std::string sField =
      CelerraUtils::GetNextSeparatedValue(sText, nPos, kSeparator);
  nPosition = nPos;
  return sField;
}

// The first field whose value holds the separator, or null.
const std::pair<const char*, std::string>* FieldWithSeparator(
    const std::vector<std::pair<const char*, std::string>>& vFields) {
  for (const auto& oField : vFields) {
    if (oField.second.find(kSeparator) != std::string::npos) return &oField;
  }
  return nullptr;
}

}  // namespace

CelerraSnapDevice::FieldList CelerraSnapDevice::BaseFSMetaDataFields() const {
  return {
      {"PFS id", m_oStorageResource.sPFSId},
      {"storage type",
       std::to_string(static_cast<int>(m_oStorageResource.eStorageType))},
      {"storage extra", m_oStorageResource.sStorageExtra},
  };
}

std::string CelerraSnapDevice::JoinFields(const FieldList& vFields) {
  std::string sText;
  for (const auto& oField : vFields) {
    sText += oField.second;
    sText += kSeparator;
  }
  return sText;
}

std::string CelerraSnapDevice::GetFSMetaData() {
  return JoinFields(BaseFSMetaDataFields());
}

bool CelerraSnapDevice::ParseFSMetaData(std::string sText,
                                        unsigned long& nPosition) {
  m_oStorageResource.sPFSId = NextField(sText, nPosition);
  m_oStorageResource.eStorageType =
      static_cast<eCelerraStgType>(ParseDecimal(NextField(sText, nPosition)));
  m_oStorageResource.sStorageExtra = NextField(sText, nPosition);
  if (m_oStorageResource.sPFSId.empty() ||
      m_oStorageResource.sStorageExtra.empty()) {
    EvDebug().DebugLvl(
        kParseFSTag, -1, JobId(),
        "Unable to parse filesystem information from FSInfo:[%s]",
        sText.c_str());
    return false;
  }
  return true;
}

bool CelerraSnapDevice::ParseFSMetaData(std::string sText) {
  unsigned long nPosition = 0;
  return ParseFSMetaData(std::move(sText), nPosition);
}

CelerraSnapDevice::FieldList CelerraSnapDeviceNfs::FSMetaDataFields() const {
  return {
      {"target host name", m_sTargetHostName},
      {"PFS id", m_oStorageResource.sPFSId},
      {"storage type",
       std::to_string(static_cast<int>(m_oStorageResource.eStorageType))},
      {"storage extra", m_oStorageResource.sStorageExtra},
      {"data mover id", m_sMoverId},
      {"NFS export path", m_sShareName},
  };
}

std::string CelerraSnapDeviceNfs::GetFSMetaData() {
  return JoinFields(FSMetaDataFields());
}

bool CelerraSnapDeviceNfs::ParseFSMetaData(std::string sText,
                                           unsigned long& nPosition) {
  m_sTargetHostName = NextField(sText, nPosition);
  m_sArrayIdentifier = m_sTargetHostName;
  m_oStorageResource.sPFSId = NextField(sText, nPosition);
  m_oStorageResource.eStorageType =
      static_cast<eCelerraStgType>(ParseDecimal(NextField(sText, nPosition)));
  m_oStorageResource.sStorageExtra = NextField(sText, nPosition);
  m_sMoverId = NextField(sText, nPosition);
  m_sShareName = NextField(sText, nPosition);
  if (m_oStorageResource.sPFSId.empty() ||
      m_oStorageResource.sStorageExtra.empty() || m_sMoverId.empty() ||
      m_sShareName.empty()) {
    EvDebug().DebugLvl(
        kParseFSNfsTag, -1, JobId(),
        "Unable to parse filesystem information from FSInfo:[%s]",
        sText.c_str());
    return false;
  }
  return true;
}

CelerraSnapDevice::FieldList CelerraSnapDeviceNAS::FSMetaDataFields() const {
  FieldList vFields = BaseFSMetaDataFields();
  vFields.emplace_back("target host name", m_sTargetHostName);
  vFields.emplace_back("path", m_sPath);
  vFields.emplace_back("file system name", m_sFSName);
  vFields.emplace_back("VDM id", m_sVdmId);
  vFields.emplace_back("on a VDM", m_bIsVdm ? "true" : "false");
  vFields.emplace_back("mount path", m_sMountPath);
  return vFields;
}

std::string CelerraSnapDeviceNAS::GetFSMetaData() {
  return JoinFields(FSMetaDataFields());
}

bool CelerraSnapDeviceNAS::ParseFSMetaData(std::string sText,
                                           unsigned long& nPosition) {
  if (!CelerraSnapDevice::ParseFSMetaData(sText, nPosition)) return false;
  m_sTargetHostName = NextField(sText, nPosition);
  m_sArrayIdentifier = m_sTargetHostName;
  m_sPath = NextField(sText, nPosition);
  m_sFSName = NextField(sText, nPosition);
  m_sVdmId = NextField(sText, nPosition);
  std::string sIsVdm = NextField(sText, nPosition);
  m_sMountPath = NextField(sText, nPosition);
  m_sMoverMountPath = m_sMountPath;
  bool bFlagValid = true;
  if (sIsVdm == "true") {
    m_bIsVdm = true;
    m_sMoverMountPath = "/root_vdm_" + m_sVdmId + m_sMountPath;
  } else if (sIsVdm == "false") {
    m_bIsVdm = false;
  } else {
    bFlagValid = false;
  }
  if (m_sTargetHostName.empty() || m_sPath.empty() || m_sVdmId.empty() ||
      !bFlagValid) {
    EvDebug().DebugLvl(
        kParseFSNASTag, -1, JobId(),
        "Unable to parse filesystem information from FSInfo:[%s]",
        sText.c_str());
    return false;
  }
  return true;
}

bool CelerraSnapDevice::ParseSnapUUID(std::string sText) {
  unsigned long nPosition = 0;
  m_sChkptName = NextField(sText, nPosition);
  m_sChkptId = NextField(sText, nPosition);
  m_sBaselineChkptId = NextField(sText, nPosition);
  if (m_sChkptName.empty() || m_sChkptId.empty()) {
    EvDebug().DebugLvl(kParseSnapUUIDTag, -1, JobId(),
                       "Unable to parse ChkPtName,  ChkPtId from:[%s]",
                       sText.c_str());
    return false;
  }
  EvDebug().DebugLvl(kParseSnapUUIDTag, 0, JobId(),
                     "CheckpointName:[%s], chkptid [%s]", m_sChkptName.c_str(),
                     m_sChkptId.c_str());
  return true;
}

bool CelerraSnapDevice::ParseMountInfo(std::string sText) {
  m_sRWChkptName.clear();
  m_sRWChkptId.clear();
  if (sText.empty()) return false;
  EvDebug().DebugJob(kParseMountInfoTag, JobId(), "Mount Metadata is [%s]",
                     sText.c_str());
  unsigned long nPosition = 0;
  m_sRWChkptName = NextField(sText, nPosition);
  m_sRWChkptId = NextField(sText, nPosition);
  if (m_sRWChkptName.empty() || m_sRWChkptId.empty()) {
    std::string sLine = std::string(kParseMountInfoTag) +
                        " Unable to parse ChkPtName,  ChkPtId " + sText + "]";
    EvDebug().DebugJob(kParseMountInfoTag, JobId(), "%s", sLine.c_str());
    return false;
  }
  return true;
}

bool CelerraSnapDevice::UpdateFSMetaData() {
  if (m_pSnapInfo == nullptr) return false;
  FieldList vFields;
  if (auto* pNfs = dynamic_cast<CelerraSnapDeviceNfs*>(this)) {
    vFields = pNfs->FSMetaDataFields();
  } else if (auto* pNAS = dynamic_cast<CelerraSnapDeviceNAS*>(this)) {
    vFields = pNAS->FSMetaDataFields();
  }
  std::string sText = GetFSMetaData();
  if (const auto* pField = FieldWithSeparator(vFields)) {
    m_pSnapInfo->Log(2, kUpdateMetaDataTag,
                     "Unable to store metadata type[SM_MDT_FS_INFO] for device "
                     "[%s]: the %s [%s] holds the separator \"|\"",
                     m_sSnapSourceDevice.c_str(), pField->first,
                     pField->second.c_str());
    return false;
  }
  std::string sLine = std::string(kUpdateMetaDataTag) + ": Setting Metadata [" +
                      sText +
                      "] for metadata type[SM_MDT_FS_INFO] for device [" +
                      m_sSnapSourceDevice + "]";
  m_pSnapInfo->LogMessage(1, sLine.c_str());
  m_pSnapInfo->SetMetaData(SM_MDT_FS_INFO, sText.c_str());
  return true;
}

bool CelerraSnapDevice::UpdateSnapUUIDMetaData() {
  if (m_pSnapInfo == nullptr) return false;
  FieldList vFields = {{"checkpoint name", m_sChkptName},
                       {"checkpoint id", m_sChkptId}};
  if (const auto* pField = FieldWithSeparator(vFields)) {
    m_pSnapInfo->Log(2, kUpdateSnapUUIDTag,
                     "Unable to store metadata type[SM_MDT_SNAP_UUID] for "
                     "device [%s]: the %s [%s] holds the separator \"|\"",
                     m_sSnapSourceDevice.c_str(), pField->first,
                     pField->second.c_str());
    return false;
  }
  std::string sText = JoinFields(vFields);
  std::string sLine = "Setting Metadata [" + sText + "] for device [" +
                      m_sSnapSourceDevice + "]";
  m_pSnapInfo->LogMessage(1, sLine.c_str());
  m_pSnapInfo->SetMetaData(SM_MDT_SNAP_UUID, sText.c_str());
  return true;
}
