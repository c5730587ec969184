// SPDX-License-Identifier: Apache-2.0
// Fuzzes the layout file reader of the simulated file server: no crash, no
// undefined behaviour; a refused layout comes back as a Status whose message
// names the origin and leaves no file server behind; a layout that reads is
// then installed into an in-memory store, where a refusal again carries a
// message that does not repeat a password, and an installed server is
// listed without its password. No error, of reading or of installing,
// repeats any piece of a line whose first word is "login", however
// malformed the line (a misplaced quote can put the password anywhere on
// it).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "filer/FilerSim.h"
#include "filer/FilerText.h"
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

// Whether the line [nStart, nEnd) of sText has "login" as its first word
// (as the reader splits words: blanks are ' ', '\t' and '\r'); *pRest is
// then where the word ends.
bool IsLoginLine(const std::string& sText, size_t nStart, size_t nEnd,
                 size_t* pRest) {
  size_t n = nStart;
  while (n < nEnd && (sText[n] == ' ' || sText[n] == '\t' || sText[n] == '\r'))
    ++n;
  const std::string sWord = "login";
  if (sText.compare(n, sWord.size(), sWord) != 0) return false;
  n += sWord.size();
  if (n < nEnd && sText[n] != ' ' && sText[n] != '\t' && sText[n] != '\r')
    return false;
  *pRest = n;
  return true;
}

// A byte a message shows as it stands (FilerText's escaping leaves it),
// that is no quote, comment or escape of a layout line, and that the
// messages do not put around the values they show ("'" quotes them, "..."
// ends a value cut short).
bool IsPieceByte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u > ' ' && u != 0x7f && c != '"' && c != '#' && c != '\\' &&
         c != '\'' && c != '.';
}

// Messages cut a value after its first 64 bytes; a piece is checked in
// parts of this size, so the first part of a long one counts too.
constexpr size_t kPart = 32;

// The pieces of every login line after its keyword (the runs of piece
// bytes), in parts of at most kPart bytes, keeping the parts that hold a
// byte of 0x80 or above (which no fixed message text has). Any value the
// reader makes of the line holds its pieces whole; a message showing that
// value holds them too, or the first part of a long one.
FuzzSpans LoginPieceSpans(const std::string& sText) {
  FuzzSpans v;
  for (size_t nStart = 0; nStart < sText.size();) {
    size_t nEnd = sText.find('\n', nStart);
    if (nEnd == std::string::npos) nEnd = sText.size();
    size_t n = 0;
    if (IsLoginLine(sText, nStart, nEnd, &n)) {
      while (n < nEnd) {
        if (!IsPieceByte(sText[n])) {
          ++n;
          continue;
        }
        const size_t nPart = n;
        bool bHigh = false;
        for (; n < nEnd && n - nPart < kPart && IsPieceByte(sText[n]); ++n) {
          bHigh |= static_cast<unsigned char>(sText[n]) >= 0x80;
        }
        if (bHigh) v.emplace_back(nPart, n);
      }
    }
    nStart = nEnd + 1;
  }
  return v;
}

// Fails when a message repeats a piece of a login line that nothing else of
// the layout spells: not the other lines as written, with their quotes
// taken out (quotes join pieces) or escaped as messages show values.
void CheckNoLoginPiece(const std::string& sMessage, const std::string& sText) {
  const FuzzSpans vSpans = LoginPieceSpans(sText);
  if (vSpans.empty()) return;
  const std::string sOutside = FuzzOutside(sText, vSpans);
  std::string sUnquoted;
  for (char c : sOutside) {
    if (c != '"') sUnquoted += c;
  }
  const std::string sContext = sUnquoted + '\x01' +
                               zkfiler::EscapeField(sOutside) + '\x01' +
                               zkfiler::EscapeField(sUnquoted);
  FuzzCheckPasswordsNotSeen(sText, vSpans, sContext, {sMessage});
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
    CheckNoLoginPiece(oParsed.message(), sText);
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
    CheckNoLoginPiece(oLoaded.message(), sText);
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
