// SPDX-License-Identifier: GPL-2.0-or-later
// The table of the commands that need the desktop's bus, for the application's binary: naming
// it is what links them (and GIO) in.
#include "cli/Commands.h"

const BusCommands kBusCommands = {&runAppCommand, &runOpenCommand, &runSendCommand};
