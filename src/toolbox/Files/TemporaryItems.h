// SPDX-License-Identifier: GPL-2.0-or-later
// The user's own temporary-items folder: "$XDG_RUNTIME_DIR/still2mov" when the session has a
// runtime folder, else a folder this process makes with an unpredictable name,
// "still2mov-XXXXXX" in the temporary folder ($TMPDIR when it names a folder, else /tmp).
// Working files go there, out of reach of other users' names and links.
#pragma once
#include <string>

#include "toolbox/Core/MacTypes.h"

// The folder's absolute path, made (mode 0700) when missing. The runtime folder's must be a
// real folder owned by the user, never a link; its permissions are tightened to 0700 when
// looser. On failure reason says why in words.
OSErr FSFindTemporaryItemsFolder(std::string* path, std::string* reason);

// Removes the folders this process made in the temporary folder, when empty; done at exit, and
// by a process that ends without exit handlers (a worker) itself.
void FSReleaseTemporaryItemsFolder();
