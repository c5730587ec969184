// SPDX-License-Identifier: Apache-2.0
// The process-wide cache of CIFS server lists, one list per file server
// (keyed by the control host name of its array management entry), so that a
// job with many datastores on one file server asks for the list once.
//
// State: the map, one time stamp for the whole map (when an entry was last
// fetched and stored; 0 means never) and the lock that guards both. The lock
// is a static made when the library loads and destroyed when it unloads; the
// map is made on first use and destroyed at unload. Expiry drops every entry
// at once: when the newest fetch is older than "nClearCelerraArrayMapSecs"
// (default 86400; read from the host on every call, inside the lock).
//
// Thread-safe: any thread may call GetCifsServersCached. The fetch from the
// file server runs under the lock, so concurrent callers for any file server
// wait for it, and at most one fetch per file server happens per expiry
// period.
#ifndef ZK_DEVICE_CELERRACIFSSERVERCACHE_H_
#define ZK_DEVICE_CELERRACIFSSERVERCACHE_H_

#include <string>
#include <vector>

#include "host/ManageCelerra.h"
#include "host/ZKSnapHost.h"

// Fills vServers with a private copy of the CIFS servers of the file server
// whose control host is sHostName: from the cache, or fetched with oClient
// (already logged in to that control host) and then stored. False when the
// fetch fails, or when the lock could not be made at load (logged); nothing
// is stored and the time stamp is left alone.
// pOSUtil (borrowed) supplies the expiry setting; pszTag and nJobId tag the
// log lines.
bool GetCifsServersCached(ManageCelerra& oClient, ZKSO::ZKOSUtil* pOSUtil,
                          const std::string& sHostName, const char* pszTag,
                          ZKUint64 nJobId,
                          std::vector<CelerraCifsServer_t>& vServers);

#endif  // ZK_DEVICE_CELERRACIFSSERVERCACHE_H_
