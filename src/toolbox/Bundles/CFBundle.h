// SPDX-License-Identifier: GPL-2.0-or-later
// Loadable code bundles: a shared library opened by path, its C functions found by name.
// A plug-in is loaded for one use and released after it.
#pragma once
#include <string>

struct __CFBundle;
using CFBundleRef = __CFBundle*;

// nullptr when the file is missing or is not a loadable library for this machine.
CFBundleRef CFBundleCreateFromPath(const std::string& libraryPath);
// nullptr when the library has no function of that name.
void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, const char* functionName);
void CFBundleRelease(CFBundleRef bundle);
