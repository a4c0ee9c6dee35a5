// Whether a movie can be made of a photograph carrying a given recording: the embedder warns
// before it hides a recording that the conversion would refuse.
#pragma once
#include <string>

namespace flashpix {

// Why no movie could be made of the recording (a whole WAVE file), in words ("recording format
// GSM 6.10 not supported"), or "" when one can.
std::string movieProblem(const std::string& wave);

}  // namespace flashpix
