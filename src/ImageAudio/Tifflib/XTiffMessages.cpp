// Placeholder until the TIFF extension installs its message handlers.
#include "ImageAudio/Tifflib/XTiffMessages.h"

void XTIFFShowMessages(bool) {}
