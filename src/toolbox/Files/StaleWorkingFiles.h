// Working files that conversions killed outright left in a folder (where the file system could
// not keep them unnamed), cleared when a long-running command starts on the folder.
#pragma once
#include <string>

// Removes below folder the working files that are provably a dead conversion's; leaves
// everything else.
void FSClearStaleWorkingFiles(const std::string& folder);
