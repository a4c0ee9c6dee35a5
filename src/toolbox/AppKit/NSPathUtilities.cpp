// SPDX-License-Identifier: GPL-2.0-or-later
// Path-string helpers in the manner of the platform's string category for paths.
// An extension is what follows the last dot of the last component, unless that dot leads the name.
#include "toolbox/AppKit/NSPathUtilities.h"

#include <glib.h>

#include <cstdlib>

namespace {
std::string withoutTrailingSlashes(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// Position of the extension's dot in p, or npos.
size_t extensionDot(const std::string& p) {
  size_t slash = p.rfind('/');
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = p.rfind('.');
  if (dot == std::string::npos || dot <= start) return std::string::npos;
  return dot;
}
}  // namespace

std::string NSHomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  return g_get_home_dir();
}

std::string NSStringByDeletingPathExtension(const std::string& path) {
  std::string p = withoutTrailingSlashes(path);
  size_t dot = extensionDot(p);
  return dot == std::string::npos ? p : p.substr(0, dot);
}

std::string NSStringPathExtension(const std::string& path) {
  std::string p = withoutTrailingSlashes(path);
  size_t dot = extensionDot(p);
  return dot == std::string::npos ? std::string() : p.substr(dot + 1);
}

std::string NSStringLastPathComponent(const std::string& path) {
  std::string p = withoutTrailingSlashes(path);
  size_t slash = p.rfind('/');
  // The root is its own last component.
  if (slash == std::string::npos || p.size() == 1) return p;
  return p.substr(slash + 1);
}

std::string NSStringByDeletingLastPathComponent(const std::string& path) {
  std::string p = withoutTrailingSlashes(path);
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  size_t end = slash;
  while (end > 0 && p[end - 1] == '/') --end;  // "a//b" is in "a"
  return end == 0 ? "/" : p.substr(0, end);
}
