// SPDX-License-Identifier: GPL-2.0-or-later
// Text from photographs and file names made safe to print on a terminal: the toolbox's rule,
// under the command line's names.
#pragma once
#include <string>

#include "toolbox/Core/DisplayText.h"

namespace cli {

inline std::string displayText(const std::string& text) { return DisplayText(text); }
inline std::size_t utf8Sequence(const std::string& text, std::size_t i, char32_t* codePoint) {
  return UTF8Sequence(text, i, codePoint);
}

}  // namespace cli
