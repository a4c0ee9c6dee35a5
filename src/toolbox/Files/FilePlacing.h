// Giving a finished file its final name in one step without replacing anything already there,
// the exclusive counterpart of FSpReplaceObject.
#pragma once
#include "toolbox/Files/Files.h"

// Renames source to target after flushing it. dupFNErr when the target's name is taken (by
// anything, a dangling link included); source then keeps its name.
OSErr FSpRenameUnlessTaken(const FSSpec* source, const FSSpec* target);
