// SPDX-License-Identifier: GPL-2.0-or-later
// SIGTERM and SIGINT as a request to stop, for long-running commands that end cleanly: the
// signal sets a flag and makes a descriptor readable, so that a wait can end on it at once.
#pragma once

// From now on SIGTERM and SIGINT ask this process to stop instead of ending it. Worker
// processes copied from it inherit this, so that a signal sent to the whole group lets each
// finish the job it is doing.
void CatchStopRequests();
bool StopRequested();
// Readable once a stop was requested; -1 before CatchStopRequests.
int StopRequestDescriptor();
