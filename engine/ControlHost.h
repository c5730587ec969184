// SPDX-License-Identifier: Apache-2.0
// Control host determination: from one device identifier text, decide
// whether the device is a VMware datastore on a Celerra file server and name
// the file server's control host, and the path and volume to snap. Answers
// zkso_isSupported.
//
// Nothing is kept between calls; the file server is not contacted. The host
// utility object is borrowed for the call and used only for its job id
// (REQUIRES: pOSUtil != nullptr). Every log line carries the job id.
//
// Thread-safe: no shared state; callable from any thread that may call the
// host utility object.
//
// These are internal to the plug-in (hidden visibility); they are declared
// here so the unit tests can call them.
#ifndef ZK_ENGINE_CONTROLHOST_H_
#define ZK_ENGINE_CONTROLHOST_H_

#include <string>

#include "host/ZKSnapHost.h"

// True when the identifier names a VMware device on a Celerra file server
// whose control host, path and volume can be named. The three outputs are
// emptied first.
bool DetermineControlHost(std::string sDeviceIdentifier,
                          ZKSO::ZKOSUtil* pOSUtil,
                          std::string& sControlHostServer,
                          std::string& sControlHostPath,
                          std::string& sControlHostVolume);

// The VMware half of DetermineControlHost: reads the identifier and fills
// the outputs. Only "nfs" devices can succeed.
bool DetermineControlHostVMWare(std::string sDeviceIdentifier,
                                ZKSO::ZKOSUtil* pOSUtil,
                                std::string& sControlHostServer,
                                std::string& sControlHostPath,
                                std::string& sControlHostVolume);

// Reads "lunuuid", "targetidentifier", "targethostname" and "type" from an
// identifier. Only pairs preceded by "," are read (a pair right after "{" is
// not). Values read the same wherever their pair stands. For "fc" devices
// the target identifier loses its ":" and is upper-cased. sIdentifier is
// the NFS share path or the LUN serial number (GetIdentifierFromUUID).
bool ParseDeviceIdentifier(ZKUint64 nJobId, std::string sDeviceIdentifier,
                           std::string& sIdentifier,
                           std::string& sTargetIdentifier,
                           std::string& sTargetHostName, std::string& sType);

// "nfs": the LUN UUID itself (it holds the share path). Any other type: the
// serial number hidden in the LUN UUID; false when the UUID is too short.
bool GetIdentifierFromUUID(ZKUint64 nJobId, std::string sLunUUID,
                           std::string sType, std::string& sIdentifier);

#endif  // ZK_ENGINE_CONTROLHOST_H_
