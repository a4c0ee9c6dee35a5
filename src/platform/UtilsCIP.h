// The platform utility class: file, folder, process, Apple event and string operations.
// All static; the conversion uses only GetFSSpecFromFSRef.
#pragma once
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

class UtilsCIP {
 public:
  // The classic specification of a referenced item; true when a catalog lookup confirms it.
  static bool GetFSSpecFromFSRef(FSRef& ref, FSSpec& spec);
};
