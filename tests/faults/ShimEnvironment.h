// SPDX-License-Identifier: GPL-2.0-or-later
// The environment that runs still2mov under the fault shim, for tests that start the program
// (the build gives them the shim's path as STILL2MOV_FAULT_SHIM).
#pragma once
#include <cstdlib>
#include <map>
#include <string>

namespace faultshim {

using Environment = std::map<std::string, std::string>;

// env with the shim preloaded. It must come first; a sanitizer runtime then does not insist on
// being first itself.
inline Environment withShim(Environment env) {
  env["LD_PRELOAD"] = STILL2MOV_FAULT_SHIM;
  const char* asan = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  return env;
}

}  // namespace faultshim
