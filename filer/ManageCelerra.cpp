// Placeholder client: every command is refused until the simulated file
// server lands.
#include "host/ManageCelerra.h"

std::string ManageCelerra::sDummyVar;
bool ManageCelerra::bDummyVar = false;

ManageCelerra::ManageCelerra() : m_nJobId(0) {}
ManageCelerra::ManageCelerra(unsigned long long nJobId) : m_nJobId(nJobId) {}
bool ManageCelerra::SetControlHostInfo(std::string a, std::string b, std::string c) {
  m_sControlHost = a; m_sUserName = b; m_sPassword = c; return true;
}
bool ManageCelerra::CreateROChkPt(std::string, eCelerraStgType, std::string, std::string, std::string&) { return false; }
bool ManageCelerra::CreateRWChkPt(std::string, eCelerraStgType, std::string, std::string, bool, std::string&, std::string&) { return false; }
bool ManageCelerra::DeleteChkPt(std::string, std::string, bool) { return false; }
bool ManageCelerra::RestorePFSFromChkPt(std::string, std::string, std::string) { return false; }
bool ManageCelerra::GetChkPointsInfo(std::string, std::list<CelerraChkPtInfo>&) { return false; }
bool ManageCelerra::GetPFSInfo(std::string&, eCelerraStgType&, std::string&, std::string&, std::string&, std::string&, bool&) { return false; }
bool ManageCelerra::GetCifsShareInfo(std::string, std::string&, bool&, std::string&, std::string&, std::vector<std::string>&) { return false; }
bool ManageCelerra::GetNFSInfo(std::string, std::string&, bool&, std::string&, std::vector<std::string>&, std::vector<std::string>&, std::vector<std::string>&) { return false; }
bool ManageCelerra::GetCifsServers(std::vector<CelerraCifsServer_t>&, const std::string&) { return false; }
bool ManageCelerra::GetMountPointInfo(CelerraMountPointsInfo_t&, std::string, std::string, const bool&) { return false; }
bool ManageCelerra::GetMoverForVdm(const std::string&, std::string& s) { s.clear(); return false; }
bool ManageCelerra::CreateNFSShare(std::string, std::string, bool, std::vector<std::string>&, std::vector<std::string>&, std::vector<std::string>&) { return false; }
bool ManageCelerra::DeleteNFSShare(std::string, std::string) { return false; }
CelerraError ManageCelerra::GetLastError() { return m_oLastError; }
bool Celerra_GetSnapDeviceNameWithManageCelerra(ManageCelerra&, std::string, std::string, std::string, const std::string&, std::string&) { return false; }
