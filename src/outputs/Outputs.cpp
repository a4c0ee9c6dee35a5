// SPDX-License-Identifier: GPL-2.0-or-later
// The table of outputs, made from Outputs.def, and the questions every caller asks of it.
#include "outputs/Outputs.h"

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
