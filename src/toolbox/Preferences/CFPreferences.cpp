// SPDX-License-Identifier: GPL-2.0-or-later
// Preferences kept in GLib key files, one per domain, cached until the domain is synchronised.
// The folder is looked up on every load, so a changed $XDG_CONFIG_HOME is honoured.
#include "toolbox/Preferences/CFPreferences.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace {

struct Domain {
  std::map<std::string, std::string> values;
  std::map<std::string, std::optional<std::string>> pending;  // unsaved sets and removals
  bool loaded = false;
};

std::map<std::string, Domain>& domains() {
  static std::map<std::string, Domain> d;
  return d;
}

std::string configFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;  // relative values are to be ignored
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] == '/' ? home : g_get_home_dir();
  return base + "/.config";
}

// Unreadable or unparsable files read as empty: the defaults apply.
std::map<std::string, std::string> readFile(const std::string& path) {
  std::map<std::string, std::string> values;
  GKeyFile* kf = g_key_file_new();
  if (g_key_file_load_from_file(kf, path.c_str(), G_KEY_FILE_NONE, nullptr)) {
    gsize n = 0;
    gchar** keys = g_key_file_get_keys(kf, kCFPreferencesGroup, &n, nullptr);
    for (gsize i = 0; keys != nullptr && i < n; ++i) {
      gchar* v = g_key_file_get_value(kf, kCFPreferencesGroup, keys[i], nullptr);
      if (v != nullptr) values[keys[i]] = v;
      g_free(v);
    }
    g_strfreev(keys);
  }
  g_key_file_free(kf);
  return values;
}

Domain& loaded(const std::string& appID) {
  Domain& d = domains()[appID];
  if (!d.loaded) {
    d.values = readFile(CFPreferencesPathForApp(appID));
    for (const auto& [k, v] : d.pending) {
      if (v)
        d.values[k] = *v;
      else
        d.values.erase(k);
    }
    d.loaded = true;
  }
  return d;
}

std::string trimmedLower(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  std::string out = s.substr(b, e - b);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

}  // namespace

std::string CFPreferencesPathForApp(const std::string& applicationID) { return configFolder() + "/" + applicationID; }

Boolean CFPreferencesAppSynchronize(const std::string& applicationID) {
  Domain& d = domains()[applicationID];
  bool ok = true;
  if (!d.pending.empty()) {
    const std::string path = CFPreferencesPathForApp(applicationID);
    GKeyFile* kf = g_key_file_new();
    // Keep whatever else the file holds (comments, other groups).
    g_key_file_load_from_file(kf, path.c_str(), GKeyFileFlags(G_KEY_FILE_KEEP_COMMENTS), nullptr);
    for (const auto& [k, v] : d.pending) {
      if (v)
        g_key_file_set_value(kf, kCFPreferencesGroup, k.c_str(), v->c_str());
      else
        g_key_file_remove_key(kf, kCFPreferencesGroup, k.c_str(), nullptr);
    }
    g_mkdir_with_parents(configFolder().c_str(), 0700);
    ok = g_key_file_save_to_file(kf, path.c_str(), nullptr);  // written whole, then renamed into place
    g_key_file_free(kf);
    if (ok) d.pending.clear();
  }
  d.loaded = false;
  loaded(applicationID);
  return ok;
}

Boolean CFPreferencesGetAppBooleanValue(const std::string& key, const std::string& applicationID,
                                        Boolean* keyExistsAndHasValidFormat) {
  if (keyExistsAndHasValidFormat) *keyExistsAndHasValidFormat = false;
  const Domain& d = loaded(applicationID);
  auto it = d.values.find(key);
  if (it == d.values.end()) return false;
  Boolean value = false;
  const bool valid = CFPreferencesParseBoolean(it->second, &value);
  if (keyExistsAndHasValidFormat) *keyExistsAndHasValidFormat = valid;
  return valid && value;
}

bool CFPreferencesParseBoolean(const std::string& text, Boolean* value) {
  const std::string v = trimmedLower(text);
  if (v == "true" || v == "yes" || v == "1") {
    *value = true;
    return true;
  }
  if (v == "false" || v == "no" || v == "0") {
    *value = false;
    return true;
  }
  return false;
}

std::optional<std::string> CFPreferencesCopyAppValue(const std::string& key, const std::string& applicationID) {
  const Domain& d = loaded(applicationID);
  auto it = d.values.find(key);
  if (it == d.values.end()) return std::nullopt;
  return it->second;
}

void CFPreferencesSetAppValue(const std::string& key, const std::optional<std::string>& value,
                              const std::string& applicationID) {
  Domain& d = loaded(applicationID);
  d.pending[key] = value;
  if (value)
    d.values[key] = *value;
  else
    d.values.erase(key);
}
