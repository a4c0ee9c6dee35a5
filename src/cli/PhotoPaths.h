// Path rules shared by the subcommands: the movie and recording paths of a photograph, and a
// short reason why a photograph cannot be read.
#pragma once
#include <string>

namespace cli {

// The photograph's path with the extension of its last component replaced by extension
// (".mov", ".wav"). A leading dot does not start an extension (".hidden" -> ".hidden.mov").
std::string pathWithExtension(const std::string& photo, const std::string& extension);
inline std::string moviePathFor(const std::string& photo) { return pathWithExtension(photo, ".mov"); }
inline std::string recordingPathFor(const std::string& photo) { return pathWithExtension(photo, ".wav"); }

// Why the file at path is no readable JPEG: "no such file", "is a directory", "empty file",
// "not a JPEG file", "damaged JPEG header" ... Never waits on a FIFO or device under the name.
std::string unreadableReason(const std::string& path);

}  // namespace cli
