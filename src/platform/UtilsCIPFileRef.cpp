// SPDX-License-Identifier: GPL-2.0-or-later
// Turning a file reference into the classic specification that the movie toolbox takes.
// The specification is kept even when the confirming lookup fails.
#include "platform/UtilsCIP.h"

bool UtilsCIP::GetFSSpecFromFSRef(FSRef& ref, FSSpec& spec) {
  if (FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &spec, nullptr) != 0) return false;
  CInfoPBRec pb{};
  Str255 name;
  for (int k = 0; k <= spec.name[0]; ++k) name[k] = spec.name[k];
  pb.ioNamePtr = name;
  pb.ioVRefNum = spec.vRefNum;
  pb.ioFDirIndex = 0;
  pb.ioDirID = spec.parID;
  return PBGetCatInfoSync(&pb) == 0;
}
