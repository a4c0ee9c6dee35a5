// Placeholder until the component is written.
// Opening it answers "no such component".
#include "toolbox/Movies/Components.h"

ComponentInstance NewWaveMovieImporter() { return nullptr; }
