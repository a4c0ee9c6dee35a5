// SPDX-License-Identifier: GPL-2.0-or-later
// The system log: one line per call, to the journal when it is there, else to standard error.
// The format is printf's (the platform's "%@" is "%s" here).
#pragma once

void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Diagnostics for developers: GLib structured logging at debug level in the "still2mov"
// domain, dropped unless shown (ShowDebugLog, or G_MESSAGES_DEBUG=still2mov); never on standard
// error otherwise.
void DebugLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Shows the debug diagnostics from now on, on standard error (or the journal, when standard error
// is connected to it); what -v asks for.
void ShowDebugLog();
