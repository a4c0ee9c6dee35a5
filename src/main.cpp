// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov's entry point: everything happens in the library's command line. Built twice: the
// program itself, which starts without the desktop's bus, and the application's binary
// (STILL2MOV_APPLICATION), which has the bus commands. Kept apart so tests link the library alone.
#include "cli/Commands.h"

#ifdef STILL2MOV_APPLICATION
int main(int argc, char** argv) { return still2movMain(argc, argv, &kBusCommands); }
#else
int main(int argc, char** argv) { return still2movMain(argc, argv); }
#endif
