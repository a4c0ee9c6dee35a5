// SPDX-License-Identifier: GPL-2.0-or-later
// The receiving end of the Apple event transport: serves Deliver calls on a bus connection.
// The application layer calls it while it registers on the bus, before it owns its name.
#pragma once
#include "toolbox/Core/MacTypes.h"

typedef struct _GDBusConnection GDBusConnection;

// Exports kAEBusObjectPath on the connection; calls arrive on the calling thread's default main
// context and go through AEDispatchAppleEvent. Publishing on a second connection moves it.
OSErr AEPublishOnConnection(GDBusConnection* connection);
void AEUnpublish();
