// SPDX-License-Identifier: GPL-2.0-or-later
// The pieces of JSON that still2mov writes: escaped strings, numbers in their shortest exact
// form, arrays and objects assembled from already-encoded members.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace cli::json {

// A JSON string literal. Control characters are escaped; bytes that are not valid UTF-8
// become U+FFFD, so the output is always valid UTF-8.
std::string quote(const std::string& text);

std::string number(std::int64_t v);
std::string number(std::uint64_t v);
// The shortest decimal that reads back as v; null for NaN and infinities.
std::string number(double v);
// The record's floats: the camera's value (see cameraValue); null for NaN and infinities.
std::string number(float v);

std::string array(const std::vector<std::string>& encodedItems);
// members: (key, encoded value) in output order. indent > 0 puts one member per line.
std::string object(const std::vector<std::pair<std::string, std::string>>& members, int indent = 0);

}  // namespace cli::json
