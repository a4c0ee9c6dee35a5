// SPDX-License-Identifier: GPL-2.0-or-later
// Terminal queries on the stream's descriptor: isatty and the window size the terminal keeps.
#include "toolbox/Core/Terminals.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool IsTerminalStream(std::FILE* stream) { return stream != nullptr && isatty(fileno(stream)) == 1; }

std::size_t TerminalColumns(std::FILE* stream, std::size_t fallback) {
  struct winsize size {};
  if (stream != nullptr && ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return fallback;
}
