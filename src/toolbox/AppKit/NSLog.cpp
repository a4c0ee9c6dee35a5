// SPDX-License-Identifier: GPL-2.0-or-later
// NSLog through GLib's structured logging, each message escaped into one line: the journal writer
// first, standard error when the journal does not take the message (no journal on this machine, or
// it refused); and the developers' diagnostics at debug level, through GLib's default writer.
#include "toolbox/AppKit/NSLog.h"
#include "toolbox/Core/DisplayText.h"

#include <glib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

void NSLog(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  gchar* formatted = g_strdup_vprintf(format, ap);
  va_end(ap);
  // One line, whatever a file name holds: no raw escape sequences or line breaks in the log.
  const std::string text = DisplayText(formatted ? formatted : "");
  g_free(formatted);
  const char* message = text.c_str();
  const std::string pid = std::to_string(getpid());
  const GLogField fields[] = {
      {"MESSAGE", message, -1},
      {"PRIORITY", "5", -1},  // notice: what NSLog lines are
      {"SYSLOG_IDENTIFIER", "still2mov", -1},
      {"GLIB_DOMAIN", "still2mov", -1},
  };
  GLogWriterOutput out = g_log_writer_journald(G_LOG_LEVEL_MESSAGE, fields, G_N_ELEMENTS(fields), nullptr);
  if (out != G_LOG_WRITER_HANDLED) {
    std::fprintf(stderr, "still2mov[%s]: %s\n", pid.c_str(), message);
    std::fflush(stderr);
  }
}

void DebugLog(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  gchar* message = g_strdup_vprintf(format, ap);
  va_end(ap);
  g_log_structured("still2mov", G_LOG_LEVEL_DEBUG, "MESSAGE", "%s", message);
  g_free(message);
}

void ShowDebugLog() {
  // Standard output carries results (JSON lines): diagnostics never go there.
  g_log_writer_default_set_use_stderr(TRUE);
  g_log_set_debug_enabled(TRUE);
}
