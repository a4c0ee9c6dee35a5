// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-8 text in the platform's own forms: Pascal strings, and four-character codes.
// Names are kept as the file system holds them (UTF-8 bytes); codes are Mac OS Roman characters.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "toolbox/Core/MacTypes.h"

// The longest start of text that fits in maxBytes without ending inside a UTF-8 character.
// Bytes that are not UTF-8 count one by one, so any text keeps as much as fits.
std::size_t UTF8PrefixLength(std::string_view text, std::size_t maxBytes);

// text as a Pascal string of at most maxLength (at most 255) bytes, cut at a character
// boundary. text may lie in dst's own bytes (a C string turned around in place).
void CopyTextToPascal(std::string_view text, StringPtr dst, std::size_t maxLength = 255);

// A Pascal string's bytes; "" for null.
std::string PascalText(ConstStr255Param p);

// Four Mac OS Roman characters written as UTF-8 text, the first in the most significant byte
// ("Itnt" is 0x49746E74, as FOUR_CHAR_CODE); 0 for text that is not exactly four of them.
OSType FourCharCodeFromText(std::string_view text);
// The reverse: the code's four characters as UTF-8, "" for 0 (no code).
std::string TextFromFourCharCode(OSType code);
