// SPDX-License-Identifier: GPL-2.0-or-later
// Text from photographs and file names made safe to print on a terminal or in a log: one line,
// no control characters, nothing that reorders what follows it.
#pragma once
#include <cstddef>
#include <string>

// Printable UTF-8 passes through. Escaped: a backslash as \\, newline, tab and carriage return
// as \n \t \r, other C0 controls, DEL and bytes that are not UTF-8 as \xNN, and C1 controls,
// line and paragraph separators and bidirectional controls as \u{NNNN}.
std::string DisplayText(const std::string& text);

// The length of the valid UTF-8 sequence at text[i] and its code point, or 0 when the bytes
// there are not one.
std::size_t UTF8Sequence(const std::string& text, std::size_t i, char32_t* codePoint);
