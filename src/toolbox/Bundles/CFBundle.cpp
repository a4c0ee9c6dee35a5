// SPDX-License-Identifier: GPL-2.0-or-later
// Bundles over dlopen: each bundle is loaded with its own symbols kept local, bound at once, so
// that a missing dependency fails the load instead of a later call.
#include "toolbox/Bundles/CFBundle.h"

#include <dlfcn.h>

struct __CFBundle {
  void* handle;
};

CFBundleRef CFBundleCreateFromPath(const std::string& libraryPath) {
  if (libraryPath.empty() || libraryPath[0] != '/') return nullptr;  // never a search of the library path
  void* handle = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  return new __CFBundle{handle};
}

void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, const char* functionName) {
  if (bundle == nullptr || functionName == nullptr) return nullptr;
  return dlsym(bundle->handle, functionName);
}

void CFBundleRelease(CFBundleRef bundle) {
  if (bundle == nullptr) return;
  dlclose(bundle->handle);
  delete bundle;
}
