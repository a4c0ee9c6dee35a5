// Why a photograph cannot be read, in a few words, for the subcommands.
#pragma once
#include <string>

namespace cli {

// Why the file at path is no readable JPEG: "no such file", "is a directory", "empty file",
// "not a JPEG file", "damaged JPEG header" ... Never waits on a FIFO or device under the name.
std::string unreadableReason(const std::string& path);

}  // namespace cli
