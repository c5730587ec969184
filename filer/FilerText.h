// SPDX-License-Identifier: Apache-2.0
// Small text helpers of the simulated file server for what it shows people:
// journal fields escaped so one line is always one command, and values cut
// to a readable length inside messages.
//
// Pure functions; any thread.
#ifndef ZK_FILER_FILERTEXT_H_
#define ZK_FILER_FILERTEXT_H_

#include <cstddef>
#include <string>

namespace zkfiler {

// `text` as one blank-free word: "\" becomes "\\", blanks, control
// characters and DEL become "\xHH". Other bytes (UTF-8 included) stay.
std::string EscapeField(const std::string& text);

// `text` in single quotes, escaped as EscapeField does and cut after `max`
// bytes with "..." so a huge value never floods a message.
std::string Shown(const std::string& text, size_t max = 64);

}  // namespace zkfiler

#endif  // ZK_FILER_FILERTEXT_H_
