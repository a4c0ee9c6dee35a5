// The user's own temporary-items folder: "still2mov-UID" inside the temporary folder ($TMPDIR
// when it names a folder, else /tmp). Working files go there, out of reach of other users'
// names and links; whoever makes one removes it again.
#pragma once
#include <string>

#include "toolbox/Core/MacTypes.h"

// The folder's absolute path, made (mode 0700) when missing. An existing one must be a real
// folder owned by the user, never a link; its permissions are tightened to 0700 when looser.
// On failure reason says why in words.
OSErr FSFindTemporaryItemsFolder(std::string* path, std::string* reason);
