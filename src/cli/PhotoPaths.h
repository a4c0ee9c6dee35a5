// Path rules shared by the subcommands: the movie path of a photograph, and a short reason
// why a photograph cannot be read.
#pragma once
#include <string>

namespace cli {

// The photograph's path with the extension of its last component removed, plus ".mov".
// A leading dot does not start an extension (".hidden" -> ".hidden.mov").
std::string moviePathFor(const std::string& photo);

// Why the file at path is no readable JPEG: "no such file", "is a directory", "empty file",
// "not a JPEG file", "damaged JPEG header" ...
std::string unreadableReason(const std::string& path);

}  // namespace cli
