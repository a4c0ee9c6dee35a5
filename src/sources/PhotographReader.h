// SPDX-License-Identifier: GPL-2.0-or-later
// The photograph as the byte reader its sources and outputs read beyond its held start with: the
// held bytes where they reach, the file itself past them.
#pragma once
#include <memory>

#include "media/Recording.h"
#include "toolbox/Files/FileContents.h"

namespace sources {

// Reads the whole file contents was read from; shares contents for the reader's life.
std::shared_ptr<media::ByteReader> PhotographReader(FSContentsRef contents);

}  // namespace sources
