// SPDX-License-Identifier: GPL-2.0-or-later
// The open panel through org.freedesktop.portal.FileChooser: OpenFile, then the Request object's
// Response signal, waited for on a private main context so that the main run loop stays still.
#include "toolbox/AppKit/NSOpenPanel.h"

#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "toolbox/AppKit/NSPathUtilities.h"

namespace {

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kFileChooser = "org.freedesktop.portal.FileChooser";

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "JPG" -> "*.[jJ][pP][gG]": portal globs are case-sensitive, our types are not.
std::string caseFreeGlob(const std::string& type) {
  std::string glob = "*.";
  for (unsigned char c : type) {
    if (std::isalpha(c)) {
      glob += '[';
      glob += char(std::tolower(c));
      glob += char(std::toupper(c));
      glob += ']';
    } else if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') {
      glob += '[';
      glob += char(c);
      glob += ']';
    } else {
      glob += char(c);
    }
  }
  return glob;
}

struct Wait {
  bool done = false;
  guint32 response = 2;
  std::vector<std::string> paths;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer data) {
  auto* wait = static_cast<Wait*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
  GVariant* results = nullptr;
  g_variant_get(parameters, "(u@a{sv})", &wait->response, &results);
  const gchar** uris = nullptr;
  if (g_variant_lookup(results, "uris", "^a&s", &uris)) {
    for (const gchar** u = uris; *u != nullptr; ++u) {
      gchar* path = g_filename_from_uri(*u, nullptr, nullptr);
      if (path != nullptr) wait->paths.emplace_back(path);
      g_free(path);
    }
    g_free(uris);
  }
  g_variant_unref(results);
  wait->done = true;
}

void onPortalVanished(GDBusConnection*, const gchar*, gpointer data) {
  auto* wait = static_cast<Wait*>(data);
  wait->response = 2;
  wait->done = true;
}

std::string requestPath(GDBusConnection* bus, const std::string& token) {
  std::string sender = g_dbus_connection_get_unique_name(bus) ? g_dbus_connection_get_unique_name(bus) + 1 : "";
  for (char& c : sender)
    if (c == '.') c = '_';
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

std::string absolutePath(const std::string& input, const std::string& base) {
  std::string p = input;
  if (p == "~" || p.rfind("~/", 0) == 0) p = NSHomeDirectory() + p.substr(1);
  if (!p.empty() && p[0] != '/') p = base + "/" + p;
  gchar* canonical = g_canonicalize_filename(p.c_str(), nullptr);
  std::string out = canonical;
  g_free(canonical);
  return out;
}

}  // namespace

std::string NSOpenPanelTypedPath(const std::string& line, const std::string& base) {
  std::string text = line;
  const char* blank = " \t\r\n";
  text.erase(0, std::min(text.size(), text.find_first_not_of(blank)));
  text.erase(text.find_last_not_of(blank) + 1);
  if (text.empty()) return "";
  // Quotes and backslashes as the shell reads them; a line the shell could not read is taken
  // as it stands.
  if (gchar* unquoted = g_shell_unquote(text.c_str(), nullptr)) {
    text = unquoted;
    g_free(unquoted);
  }
  if (text.rfind("file:", 0) == 0) {
    gchar* path = g_filename_from_uri(text.c_str(), nullptr, nullptr);
    if (path == nullptr) return "";
    text = path;
    g_free(path);
  }
  return text.empty() ? "" : absolutePath(text, base);
}

bool NSOpenPanelAcceptsPath(const std::string& path, const std::vector<std::string>& types) {
  if (types.empty()) return true;
  const std::string ext = lower(NSStringPathExtension(path));
  for (const std::string& t : types)
    if (!ext.empty() && ext == lower(t)) return true;
  return false;
}

std::unique_ptr<NSOpenPanel> NSOpenPanel::openPanel() { return std::unique_ptr<NSOpenPanel>(new NSOpenPanel()); }

int NSOpenPanel::runModalForDirectory(const std::string& directory, const std::string&,
                                      const std::vector<std::string>& types) {
  mFilenames.clear();
  PortalResult r = runPortal(directory, types);
  if (r == PortalResult::unavailable && isatty(STDIN_FILENO)) r = runTerminalPrompt(types) ? PortalResult::chosen : PortalResult::cancelled;
  if (r != PortalResult::chosen || mFilenames.empty()) {
    mFilenames.clear();
    return NSCancelButton;
  }
  return NSOKButton;
}

NSOpenPanel::PortalResult NSOpenPanel::runPortal(const std::string& directory, const std::vector<std::string>& types) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return PortalResult::unavailable;
  static unsigned serial = 0;
  const std::string token = "still2mov" + std::to_string(getpid()) + "_" + std::to_string(++serial);

  GMainContext* modal = g_main_context_new();
  g_main_context_push_thread_default(modal);
  Wait wait;
  std::string path = requestPath(bus, token);
  guint sub = g_dbus_connection_signal_subscribe(bus, nullptr, "org.freedesktop.portal.Request", "Response", path.c_str(),
                                                 nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &wait, nullptr);

  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  g_variant_builder_add(&options, "{sv}", "modal", g_variant_new_boolean(TRUE));
  g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(mMultiple));
  if (!types.empty()) {
    GVariantBuilder patterns;
    g_variant_builder_init(&patterns, G_VARIANT_TYPE("a(us)"));
    std::string label;
    for (const std::string& t : types) {
      g_variant_builder_add(&patterns, "(us)", 0u, caseFreeGlob(t).c_str());
      label += (label.empty() ? "" : ", ") + t;
    }
    GVariant* filter = g_variant_new("(s@a(us))", label.c_str(), g_variant_builder_end(&patterns));
    g_variant_ref_sink(filter);
    GVariantBuilder filters;
    g_variant_builder_init(&filters, G_VARIANT_TYPE("a(sa(us))"));
    g_variant_builder_add_value(&filters, filter);
    g_variant_builder_add(&options, "{sv}", "filters", g_variant_builder_end(&filters));
    g_variant_builder_add(&options, "{sv}", "current_filter", filter);
    g_variant_unref(filter);
  }
  if (!directory.empty())
    g_variant_builder_add(&options, "{sv}", "current_folder", g_variant_new_bytestring(directory.c_str()));

  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kFileChooser, "OpenFile",
                                                g_variant_new("(ss@a{sv})", "", mTitle.c_str(), g_variant_builder_end(&options)),
                                                G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  PortalResult result = PortalResult::unavailable;
  if (reply != nullptr) {
    const gchar* handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    if (path != handle) {
      // An older portal chose its own request path: listen there instead.
      g_dbus_connection_signal_unsubscribe(bus, sub);
      path = handle;
      sub = g_dbus_connection_signal_subscribe(bus, nullptr, "org.freedesktop.portal.Request", "Response", path.c_str(),
                                               nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onResponse, &wait, nullptr);
    }
    g_variant_unref(reply);
    guint watch = g_bus_watch_name_on_connection(bus, kPortalName, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
                                                 onPortalVanished, &wait, nullptr);
    while (!wait.done) g_main_context_iteration(modal, TRUE);
    g_bus_unwatch_name(watch);
    if (wait.response == 0) {
      for (const std::string& p : wait.paths)
        if (NSOpenPanelAcceptsPath(p, types)) mFilenames.push_back(p);
      if (!mMultiple && mFilenames.size() > 1) mFilenames.resize(1);
      result = mFilenames.empty() ? PortalResult::cancelled : PortalResult::chosen;
    } else {
      result = PortalResult::cancelled;
    }
  } else {
    g_clear_error(&error);
  }
  g_dbus_connection_signal_unsubscribe(bus, sub);
  // Let the unsubscription and unwatch finish their clean-up on this context before it goes.
  while (g_main_context_iteration(modal, FALSE)) {
  }
  g_main_context_pop_thread_default(modal);
  g_main_context_unref(modal);
  g_object_unref(bus);
  return result;
}

bool NSOpenPanel::runTerminalPrompt(const std::vector<std::string>& types) {
  std::string kinds;
  std::string alternatives;  // "jpg or jpeg"
  for (const std::string& t : types) {
    kinds += (kinds.empty() ? "" : ", ") + t;
    alternatives += (alternatives.empty() ? "" : " or ") + t;
  }
  gchar* current = g_get_current_dir();
  const std::string base = current;
  g_free(current);
  for (;;) {
    std::fprintf(stderr, "%s%s%s%s (relative to %s; an empty line cancels): ", mTitle.c_str(),
                 kinds.empty() ? "" : " [", kinds.c_str(), kinds.empty() ? "" : "]", base.c_str());
    std::fflush(stderr);
    char line[4096];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
    const std::string p = NSOpenPanelTypedPath(line, base);
    if (p.empty()) return !mFilenames.empty();
    struct stat st {};
    if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "%s: no such file\n", p.c_str());
      continue;
    }
    if (!NSOpenPanelAcceptsPath(p, types)) {
      std::fprintf(stderr, "%s: not a %s file\n", p.c_str(), alternatives.c_str());
      continue;
    }
    mFilenames.push_back(p);
    if (!mMultiple) return true;
  }
}
