// SPDX-License-Identifier: GPL-2.0-or-later
// Whether the TIFF library's warnings and errors reach standard error.
// They stay silent unless a caller (--info --verbose) asks to see them.
#pragma once

void XTIFFShowMessages(bool show);
// Puts silence in force unless a caller chose otherwise; every TIFF entry of ours calls it.
void XTIFFEnsureMessagePolicy();
