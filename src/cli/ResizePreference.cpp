// The resize preference that a plain conversion falls back on.
// Until preferences are stored, scaling is on, as it is when the preference is unset.
#include "cli/Commands.h"

bool defaultResizePreference() { return true; }
