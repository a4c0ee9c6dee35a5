// SPDX-License-Identifier: GPL-2.0-or-later
// What a program asks of the terminal it writes to: whether a stream is one, and how wide it is,
// so that a progress line is drawn only there and fits on one line.
#pragma once
#include <cstddef>
#include <cstdio>

// True when the stream writes to a terminal.
bool IsTerminalStream(std::FILE* stream);
// The terminal's width in columns; fallback when the stream is no terminal or tells none.
std::size_t TerminalColumns(std::FILE* stream, std::size_t fallback = 80);
