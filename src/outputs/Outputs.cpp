// SPDX-License-Identifier: GPL-2.0-or-later
// The table of outputs, made from Outputs.def, and the questions every caller asks of it.
#include "outputs/Outputs.h"

#include "toolbox/AppKit/NSPathUtilities.h"

namespace outputs {

#define OUTPUT(row) Output row();
#include "outputs/Outputs.def"
#undef OUTPUT

std::span<const Output> Outputs() {
  static const Output rows[] = {
#define OUTPUT(row) row(),
#include "outputs/Outputs.def"
#undef OUTPUT
  };
  return rows;
}

const Output* OutputNamed(std::string_view name) {
  for (const Output& row : Outputs())
    if (name == row.name) return &row;
  return nullptr;
}

const Output& DefaultOutput() { return Outputs().front(); }

std::optional<std::string> OurOutputByName(const std::string& path,
                                           const std::function<bool(const std::string& photo)>& isThere) {
  for (const Output& row : Outputs())
    if (row.photographOf != nullptr)
      if (std::optional<std::string> photo = row.photographOf(path); photo && isThere(*photo))
        return std::string("a ") + row.noun + " made from " + NSStringLastPathComponent(*photo);
  return std::nullopt;
}

std::optional<std::string> OurOutputByMark(const std::string& path) {
  // Rows share their readers: each reader is asked once.
  std::optional<media::MadeFrom> (*asked[8])(const std::string&) = {};
  std::size_t n = 0;
  for (const Output& row : Outputs()) {
    bool seen = false;
    for (std::size_t i = 0; i < n; ++i) seen |= asked[i] == row.readMadeFrom;
    if (seen || row.readMadeFrom == nullptr || n == std::size(asked)) continue;
    asked[n++] = row.readMadeFrom;
    if (const std::optional<media::MadeFrom> r = row.readMadeFrom(path)) {
      const Output* made = OutputNamed(r->format);
      return std::string("a ") + (made ? made->noun : "movie") + " still2mov made from " + r->photograph;
    }
  }
  return std::nullopt;
}

std::string OutputNamesInWords(const char* lastJoin) {
  const std::span<const Output> rows = Outputs();
  std::string words;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) words += i + 1 == rows.size() ? lastJoin : ", ";
    words += rows[i].name;
  }
  return words;
}

}  // namespace outputs
