// SPDX-License-Identifier: GPL-2.0-or-later
// The file a subcommand writes (embed's copy, extract's recording): a free name, or with -y one
// holding a regular file of this user's, replaced only while it is that file unchanged.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "toolbox/Files/Files.h"

namespace cli {

struct OutputTarget {
  FSSpec spec{};
  FSPublishRule rule = FSPublishRule::noReplace;
  FSItemStamp stamp;  // what had the name when looked at, for replaceChecked
};

// Whether path may be written, with overwrite (-y) or without: false with the refusal in words
// ("already exists (-y replaces it)", "is a FIFO; only a regular file is replaced" ...).
bool chooseOutputTarget(const std::string& path, bool overwrite, OutputTarget* target, std::string* reason);

// Saves what produce appends as the target, whole or not at all, as its rule allows. A name
// taken or changed meanwhile is refused as "already exists (-y replaces it)" or "changed while
// it was written; left as it is".
using OutputAppend = std::function<bool(const char* bytes, std::size_t count)>;
bool saveOutput(const OutputTarget& target, const std::function<bool(const OutputAppend& append)>& produce,
                std::string* reason);

// "-" as an output file: standard output, as tools take it.
inline bool isStandardOutput(const std::string& path) { return path == "-"; }

}  // namespace cli
