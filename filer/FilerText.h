// SPDX-License-Identifier: Apache-2.0
// Small text helpers of the simulated file server (and of zksnap) for what
// they show people: journal fields escaped so one line is always one
// command, names escaped so they can neither break a line nor reorder what
// a terminal shows, and values cut to a readable length inside messages.
//
// Pure functions; any thread.
#ifndef ZK_FILER_FILERTEXT_H_
#define ZK_FILER_FILERTEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace zkfiler {

// `text` as one blank-free word: "\" becomes "\\", blanks, control
// characters and DEL become "\xHH". Other bytes (UTF-8 included) stay.
std::string EscapeField(const std::string& text);

// The invisible format character at text[i] that reorders or breaks the
// text around it when shown (bidirectional controls U+061C, U+200E,
// U+200F, U+202A..U+202E, U+2066..U+2069; line and paragraph separators
// U+2028, U+2029): its code point, with its length in UTF-8 in `*len`;
// 0 when none starts there. REQUIRES: i < text.size().
uint32_t LayoutControlAt(const std::string& text, size_t i, size_t* len);

// `text` with every control character written as an escape, so that a
// name or a text from the file server can neither break a line nor reach
// the terminal as a control sequence nor turn the text around it: a C0
// character or DEL as "\xHH", a C1 character (U+0080..U+009F) as
// "\u00HH", a character of LayoutControlAt as "\uHHHH". Everything else,
// backslashes included, stays as it is.
std::string EscapeControls(const std::string& text);

// `text` in single quotes, escaped as EscapeField does and cut after `max`
// bytes with "..." so a huge value never floods a message.
std::string Shown(const std::string& text, size_t max = 64);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERTEXT_H_
