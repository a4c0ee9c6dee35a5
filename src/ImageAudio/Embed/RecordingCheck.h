// SPDX-License-Identifier: GPL-2.0-or-later
// Whether a movie can be made of a photograph carrying a given recording: the embedder warns
// before it hides a recording that the conversion would refuse.
#pragma once
#include <string>

struct FSSpec;

namespace flashpix {

// Why no movie could be made of the recording in the file, in words ("recording format GSM 6.10
// not supported"), or "" when one can. Only its header and first samples are read.
std::string movieProblem(const FSSpec& recording);

}  // namespace flashpix
