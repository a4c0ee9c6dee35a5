// The system log: one line per call, to the journal when it is there, else to standard error.
// The format is printf's (the platform's "%@" is "%s" here).
#pragma once

void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
