#include "device/CelerraSnapDevice.h"

#include <cstring>
#include <memory>
#include <new>

#include "device/CelerraSnapDeviceLun.h"
#include "device/CelerraSnapDeviceNAS.h"
#include "device/CelerraSnapDeviceNfs.h"
#include "device/CelerraSnapDeviceUNC.h"
#include "host/EvDebug.h"

namespace {

const char kGetInstanceTag[] = "CelerraSnapDevice::GetInstance";
const char kInitializeTag[] = "CelerraSnapDevice::InitializeDeviceObj";
const char kGetSnapDataTag[] = "CelerraSnapDevice::GetSnapData";
const char kGetSnapMetadataTag[] = "CelerraSnapDevice::GetSnapMetadata";
const char kSetSnapDeviceTag[] = "CelerraSnapDevice::setSnapDevice";

const uint16_t kInitialBufferSize = 4096;

ZKUint64 JobIdOf(ZKSO::ZKOSUtil* pOSUtil) {
  return pOSUtil != nullptr ? pOSUtil->GetJobId() : 0;
}

// A zero-filled buffer of nSize bytes (at least one, so that an empty answer
// can always be read); null when it cannot be allocated.
std::unique_ptr<char[]> NewZeroedBuffer(uint16_t nSize) {
  size_t nBytes = nSize > 0 ? nSize : 1;
  std::unique_ptr<char[]> pBuffer(new (std::nothrow) char[nBytes]);
  if (pBuffer) std::memset(pBuffer.get(), 0, nBytes);
  return pBuffer;
}

// The text in a buffer of nSize bytes the host has filled: up to the first
// zero byte, never past the buffer.
std::string TextOf(const char* pBuffer, uint16_t nSize) {
  size_t nBytes = nSize > 0 ? nSize : 1;
  return std::string(pBuffer, strnlen(pBuffer, nBytes));
}

}  // namespace

CelerraSnapDevice::CelerraSnapDevice()
    : m_pSnapInfo(nullptr),
      m_pOSUtil(nullptr),
      m_eOperationType(static_cast<_SnapOperationType>(0)),
      m_nJobId(0),
      m_eDeviceType(static_cast<_CelerraSourceDeviceType>(0)),
      m_bIsVMware(false),
      m_bMountInfoLoaded(false),
      m_bSnapUUIDChanged(false) {}

CelerraSnapDevice::~CelerraSnapDevice() = default;

CelerraSnapDevice* CelerraSnapDevice::GetInstance(
    ZKSO::SnapInfo* pSnapInfo, ZKSO::ZKOSUtil* pOSUtil,
    _SnapOperationType eOperation) {
  try {
    ZKUint64 nJobId = JobIdOf(pOSUtil);
    std::string sSourceDevice;
    if (!GetSnapData(pSnapInfo, pOSUtil, CELERRA_SNAPINFO_SOURCE_DEVICE,
                     sSourceDevice) ||
        sSourceDevice.empty()) {
      const char* pszText =
          "Unable to get the source device name to be processed";
      EvDebug().DebugLvl(kGetInstanceTag, -1, nJobId, "%s", pszText);
      if (pSnapInfo != nullptr) {
        pSnapInfo->SetJPR(JPR_DEVICE_NOT_SUPPORTED, pszText);
      }
      return nullptr;
    }

    std::string sType;
    CelerraUtils::GetJsonValue(sSourceDevice, "type", sType, true, true);
    _CelerraSourceDeviceType eDeviceType =
        CelerraUtils::StringToDeviceType(sType);

    CelerraSnapDevice* pDevice = InitializeDeviceObj(
        eDeviceType, pOSUtil, pSnapInfo, sSourceDevice, eOperation);
    if (pDevice == nullptr) {
      std::string sText =
          "Device [" + sSourceDevice + "] is invalid or not supported";
      if (pSnapInfo != nullptr) {
        pSnapInfo->SetJPR(JPR_DEVICE_NOT_SUPPORTED, sText.c_str());
      }
    }
    return pDevice;
  } catch (...) {
    // Out of memory: no object.
    return nullptr;
  }
}

CelerraSnapDevice* CelerraSnapDevice::InitializeDeviceObj(
    const _CelerraSourceDeviceType& eDeviceType, ZKSO::ZKOSUtil* pOSUtil,
    ZKSO::SnapInfo* pSnapInfo, const std::string& sSourceDevice,
    const _SnapOperationType& eOperation) {
  ZKUint64 nJobId = JobIdOf(pOSUtil);
  std::unique_ptr<CelerraSnapDevice> pDevice;
  switch (eDeviceType) {
    case CELERRA_DEVICE_LUN:
      pDevice.reset(new (std::nothrow) CelerraSnapDeviceLun());
      break;
    case CELERRA_DEVICE_NFS:
      pDevice.reset(new (std::nothrow) CelerraSnapDeviceNfs());
      break;
    case CELERRA_DEVICE_UNC:
      pDevice.reset(new (std::nothrow) CelerraSnapDeviceUNC());
      break;
    case CELERRA_DEVICE_NAS:
      pDevice.reset(new (std::nothrow) CelerraSnapDeviceNAS());
      break;
  }
  if (!pDevice) {
    EvDebug().DebugLvl(
        kInitializeTag, -1, nJobId,
        "Failed to initialize object of Device type [%d]. Invalid or Not "
        "supported",
        static_cast<int>(eDeviceType));
    return nullptr;
  }
  try {
    pDevice->Initialize(eDeviceType, pSnapInfo, pOSUtil, sSourceDevice,
                        eOperation);
  } catch (...) {
    return nullptr;
  }
  EvDebug().DebugLvl(
      kInitializeTag, 0, nJobId,
      "Initialized CelerraSnapDevice object for device type [%d] vmware [%s]",
      static_cast<int>(eDeviceType), pDevice->m_bIsVMware ? "yes" : "no");
  return pDevice.release();
}

void CelerraSnapDevice::Initialize(const _CelerraSourceDeviceType& eDeviceType,
                                   ZKSO::SnapInfo* pSnapInfo,
                                   ZKSO::ZKOSUtil* pOSUtil,
                                   const std::string& sSourceDevice,
                                   const _SnapOperationType& eOperation) {
  m_pSnapInfo = pSnapInfo;
  m_pOSUtil = pOSUtil;
  m_eOperationType = eOperation;
  m_sSnapSourceDevice = sSourceDevice;
  m_eDeviceType = eDeviceType;
  if (m_pOSUtil != nullptr) {
    m_nJobId = static_cast<int64_t>(m_pOSUtil->GetJobId());
  }
  m_bIsVMware = sSourceDevice.find("kemtype:vmware") != std::string::npos;
}

void CelerraSnapDevice::Delete(CelerraSnapDevice*& pDevice) {
  if (pDevice == nullptr) return;
  delete pDevice;
  pDevice = nullptr;
}

void CelerraSnapDevice::SetJPR(int nMessageId, std::string sText) {
  m_sLastError = std::move(sText);
  if (m_pSnapInfo == nullptr) return;
  std::string sBracketed = "[" + m_sLastError + "]";
  m_pSnapInfo->SetJPR(nMessageId, sBracketed.c_str());
}

void CelerraSnapDevice::setSnapDevice() {
  std::string sClone =
      CelerraUtils::FormDeviceIdentifider(m_oSnapDeviceIdentifier);
  if (m_pSnapInfo == nullptr) return;
  m_pSnapInfo->Log(1, kSetSnapDeviceTag,
                   "Snap clone device is [%s] for device [%s]", sClone.c_str(),
                   m_sSnapSourceDevice.c_str());
  m_pSnapInfo->SetSnapDevice(sClone.c_str());
}

bool CelerraSnapDevice::GetSnapData(ZKSO::SnapInfo* pSnapInfo,
                                    ZKSO::ZKOSUtil* pOSUtil,
                                    _eCelerraSnapInfoDataType eType,
                                    std::string& sValue) {
  ZKUint64 nJobId = JobIdOf(pOSUtil);
  sValue.clear();
  EvDebug().DebugLvl(kGetSnapDataTag, 3, nJobId,
                     "Get snap information for data type [%d]",
                     static_cast<int>(eType));
  if (pSnapInfo == nullptr) return false;

  uint16_t nSize = kInitialBufferSize;
  int nAttemptsLeft = 3;
  std::unique_ptr<char[]> pBuffer;
  int nResult = 0;
  for (;;) {
    uint16_t nAllocated = nSize;
    pBuffer = NewZeroedBuffer(nAllocated);
    if (!pBuffer) {
      EvDebug().DebugJob(-1, kGetSnapDataTag, nJobId, "%s",
                         "Unable to allocate memory for input buffer.");
      return false;
    }
    switch (static_cast<int>(eType)) {
      case CELERRA_SNAPINFO_HOST_IDENTIFIER:
        nResult = pSnapInfo->GetHostIdentifier(pBuffer.get(), &nSize);
        break;
      case CELERRA_SNAPINFO_SNAP_NAME:
        nResult = pSnapInfo->GetSnapName(pBuffer.get(), &nSize);
        break;
      case CELERRA_SNAPINFO_SOURCE_DEVICE:
        nResult = pSnapInfo->GetSourceDevice(pBuffer.get(), &nSize);
        break;
      case CELERRA_SNAPINFO_ARRAY_INFO:
        nResult = pSnapInfo->GetArrayInfo(pBuffer.get(), &nSize);
        break;
      case CELERRA_SNAPINFO_SNAP_DEVICE:
        nResult = pSnapInfo->GetSnapDevice(pBuffer.get(), &nSize);
        break;
      case 6:
        // Data type 6 reads the record's metadata entry 9.
        nResult = pSnapInfo->GetMetaData(9, pBuffer.get(), &nSize);
        break;
      default:
        nResult = 0;  // nothing to read
        break;
    }
    if (nResult == 2 && --nAttemptsLeft > 0) continue;
    if (nResult != 0) return false;
    if (pBuffer[0] != '\0') sValue = TextOf(pBuffer.get(), nAllocated);
    return true;
  }
}

bool CelerraSnapDevice::GetSnapData(_eCelerraSnapInfoDataType eType,
                                    std::string& sValue) {
  return GetSnapData(m_pSnapInfo, m_pOSUtil, eType, sValue);
}

bool CelerraSnapDevice::GetSnapMetadata(const int& nType, std::string& sValue,
                                        bool* pbNoMemory) {
  if (m_pSnapInfo == nullptr) return false;
  uint16_t nSize = kInitialBufferSize;
  uint16_t nAllocated = nSize;
  std::unique_ptr<char[]> pBuffer = NewZeroedBuffer(nAllocated);
  int nResult = 1;
  if (pBuffer) {
    nResult = m_pSnapInfo->GetMetaData(nType, pBuffer.get(), &nSize);
    int nCounter = 3;
    while (nResult == 2 && nCounter > 0) {
      --nCounter;
      nAllocated = nSize;
      pBuffer = NewZeroedBuffer(nAllocated);
      if (!pBuffer) {
        nResult = 1;
        break;
      }
      nResult = m_pSnapInfo->GetMetaData(nType, pBuffer.get(), &nSize);
    }
  }
  if (!pBuffer) {
    if (pbNoMemory != nullptr) *pbNoMemory = true;
    EvDebug().DebugJob(-1, kGetSnapMetadataTag, JobId(), "%s",
                       "Unable to allocate memory for input buffer.");
  }
  if (nResult != 0) {
    m_pSnapInfo->Log(2, kGetSnapMetadataTag, "Error:Unable to get Metadata[%d]",
                     nType);
    return false;
  }
  if (pBuffer[0] != '\0') sValue = TextOf(pBuffer.get(), nAllocated);
  m_pSnapInfo->Log(0, kGetSnapMetadataTag, "Got value[%s] for Metadata[%d]",
                   sValue.c_str(), nType);
  return true;
}
