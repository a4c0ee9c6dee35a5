// The names of the items in a folder, read in one pass, for lookups the file system cannot do
// itself (such as a name whose letter case is not known).
#pragma once
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

// Every name in folder ("" means the current folder) except "." and "..", in no particular
// order. On failure names is empty and reason says why ("no such file", "permission denied" ...).
OSErr FSListFolderNames(const std::string& folder, std::vector<std::string>* names, std::string* reason = nullptr);
