// SPDX-License-Identifier: Apache-2.0
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

// A zero-filled buffer a host getter writes into. Sizes up to
// kInitialBufferSize (every first attempt) use the object's own bytes, so
// reading a record takes no heap allocation; a larger size the host asks
// for comes from the heap.
class GetterBuffer {
 public:
  GetterBuffer() = default;
  GetterBuffer(const GetterBuffer&) = delete;
  GetterBuffer& operator=(const GetterBuffer&) = delete;

  // nSize zeroed bytes (at least one, so that an empty answer can always be
  // read); false when they cannot be allocated.
  bool Reset(uint16_t nSize) {
    const size_t nBytes = nSize > 0 ? nSize : 1;
    m_pHeap.reset();
    m_pData = m_aSmall;
    if (nBytes > sizeof(m_aSmall)) {
      m_pHeap.reset(new (std::nothrow) char[nBytes]);
      m_pData = m_pHeap.get();
      if (m_pData == nullptr) return false;
    }
    std::memset(m_pData, 0, nBytes);
    return true;
  }
  char* Data() const { return m_pData; }

 private:
  char m_aSmall[kInitialBufferSize];
  std::unique_ptr<char[]> m_pHeap;
  char* m_pData = nullptr;
};

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
  GetterBuffer oBuffer;
  int nResult = 0;
  for (;;) {
    uint16_t nAllocated = nSize;
    if (!oBuffer.Reset(nAllocated)) {
      EvDebug().DebugJob(-1, kGetSnapDataTag, nJobId, "%s",
                         "Unable to allocate memory for input buffer.");
      return false;
    }
    switch (static_cast<int>(eType)) {
      case CELERRA_SNAPINFO_HOST_IDENTIFIER:
        nResult = pSnapInfo->GetHostIdentifier(oBuffer.Data(), &nSize);
        break;
      case CELERRA_SNAPINFO_SNAP_NAME:
        nResult = pSnapInfo->GetSnapName(oBuffer.Data(), &nSize);
        break;
      case CELERRA_SNAPINFO_SOURCE_DEVICE:
        nResult = pSnapInfo->GetSourceDevice(oBuffer.Data(), &nSize);
        break;
      case CELERRA_SNAPINFO_ARRAY_INFO:
        nResult = pSnapInfo->GetArrayInfo(oBuffer.Data(), &nSize);
        break;
      case CELERRA_SNAPINFO_SNAP_DEVICE:
        nResult = pSnapInfo->GetSnapDevice(oBuffer.Data(), &nSize);
        break;
      case 6:
        // Data type 6 reads the record's metadata entry 9.
        nResult = pSnapInfo->GetMetaData(9, oBuffer.Data(), &nSize);
        break;
      default:
        nResult = 0;  // nothing to read
        break;
    }
    if (nResult == 2 && --nAttemptsLeft > 0) continue;
    if (nResult != 0) return false;
    if (oBuffer.Data()[0] != '\0') {
      sValue = TextOf(oBuffer.Data(), nAllocated);
    }
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
  GetterBuffer oBuffer;
  bool bAllocated = oBuffer.Reset(nAllocated);
  int nResult = 1;
  if (bAllocated) {
    nResult = m_pSnapInfo->GetMetaData(nType, oBuffer.Data(), &nSize);
    int nCounter = 3;
    while (nResult == 2 && nCounter > 0) {
      --nCounter;
      nAllocated = nSize;
      bAllocated = oBuffer.Reset(nAllocated);
      if (!bAllocated) {
        nResult = 1;
        break;
      }
      nResult = m_pSnapInfo->GetMetaData(nType, oBuffer.Data(), &nSize);
    }
  }
  if (!bAllocated) {
    if (pbNoMemory != nullptr) *pbNoMemory = true;
    EvDebug().DebugJob(-1, kGetSnapMetadataTag, JobId(), "%s",
                       "Unable to allocate memory for input buffer.");
  }
  if (nResult != 0) {
    m_pSnapInfo->Log(2, kGetSnapMetadataTag, "Error:Unable to get Metadata[%d]",
                     nType);
    return false;
  }
  if (oBuffer.Data()[0] != '\0') sValue = TextOf(oBuffer.Data(), nAllocated);
  m_pSnapInfo->Log(0, kGetSnapMetadataTag, "Got value[%s] for Metadata[%d]",
                   sValue.c_str(), nType);
  return true;
}
