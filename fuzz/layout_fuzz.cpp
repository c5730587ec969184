// Fuzzes the layout file reader of the simulated file server: no crash, no
// undefined behaviour; a refused layout comes back as a Status whose message
// names the origin and leaves no file server behind; a layout that reads is
// then installed into an in-memory store, where a refusal again carries a
// message that does not repeat a password, and an installed server is
// listed without its password.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "filer/FilerSim.h"
#include "filer/LayoutFile.h"

namespace {

const char kOrigin[] = "<fuzz>";

size_t Occurrences(const std::string& sText, const std::string& sNeedle) {
  size_t n = 0;
  for (size_t nPos = sText.find(sNeedle); nPos != std::string::npos;
       nPos = sText.find(sNeedle, nPos + 1)) {
    ++n;
  }
  return n;
}

// A password that can only reach a message from its login line: long,
// holding a byte no fixed message text has, and found once in the input
// also with its quotes taken out (quotes join the pieces of a value, so
// another value, a user name say, could spell it too).
bool IsTraceable(const std::string& sPassword, const std::string& sText) {
  if (sPassword.size() < 6) return false;
  bool bHigh = false;
  for (char c : sPassword) bHigh |= static_cast<unsigned char>(c) >= 0x80;
  std::string sUnquoted;
  for (char c : sText) {
    if (c != '"') sUnquoted += c;
  }
  return bHigh && Occurrences(sUnquoted, sPassword) == 1;
}

void CheckNoPassword(const std::string& sMessage,
                     const std::vector<zkfiler::ServerLayout>& vServers,
                     const std::string& sText) {
  for (const zkfiler::ServerLayout& oServer : vServers) {
    if (IsTraceable(oServer.password, sText)) {
      FUZZ_CHECK(sMessage.find(oServer.password) == std::string::npos);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  static const bool bStore = zkfiler::UseInMemoryStore().ok();
  FUZZ_CHECK(bStore);
  const std::string sText = FuzzText(pData, nSize);

  std::vector<zkfiler::ServerLayout> vServers(1);
  const zkfiler::Status oParsed =
      zkfiler::ParseLayout(sText, kOrigin, &vServers);
  if (!oParsed.ok()) {
    FUZZ_CHECK(!oParsed.message().empty());
    FUZZ_CHECK(oParsed.message().compare(0, sizeof(kOrigin) - 1, kOrigin) == 0);
    FUZZ_CHECK(vServers.empty());
    return 0;
  }
  for (const zkfiler::ServerLayout& oServer : vServers) {
    FUZZ_CHECK(!oServer.user.empty());
  }

  FUZZ_CHECK(zkfiler::Reset().ok());
  const zkfiler::Status oLoaded = zkfiler::LoadLayoutText(sText, kOrigin);
  std::vector<zkfiler::ServerLayout> vInstalled;
  FUZZ_CHECK(zkfiler::ListServers(&vInstalled).ok());
  if (!oLoaded.ok()) {
    FUZZ_CHECK(!oLoaded.message().empty());
    CheckNoPassword(oLoaded.message(), vServers, sText);
    // All or nothing.
    FUZZ_CHECK(vInstalled.empty());
    return 0;
  }
  FUZZ_CHECK(!vInstalled.empty() || vServers.empty());
  FUZZ_CHECK(vInstalled.size() <= vServers.size());
  for (const zkfiler::ServerLayout& oServer : vInstalled) {
    FUZZ_CHECK(oServer.password.empty());
  }
  return 0;
}
