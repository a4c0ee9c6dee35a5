// The few pieces of JSON that --info --json writes: escaped strings, numbers that read back as
// the same value, arrays and objects assembled from already-encoded members.
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
// The shortest decimal form that reads back as the same float; null for NaN and infinities.
std::string number(float v);

std::string array(const std::vector<std::string>& encodedItems);
// members: (key, encoded value) in output order. indent > 0 puts one member per line.
std::string object(const std::vector<std::pair<std::string, std::string>>& members, int indent = 0);

// The shortest "%.Ng" form of v that reads back as v (N from 6 to 9), for text output too.
std::string shortestFloat(float v);

}  // namespace cli::json
