// SPDX-License-Identifier: GPL-2.0-or-later
// Application lookup, launching and display names over the XDG desktop entries.
// Entries are parsed with GDesktopAppInfo; the folder walk is ours so that it sees changes at once.
#include "toolbox/LaunchServices/LaunchServices.h"

#include <dirent.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/TextConversion.h"

namespace {

// An activatable entry's name on the bus is its desktop ID without ".desktop", when that is a
// well-known bus name.
std::string busNameOf(const std::string& id) {
  std::string name = id.size() > 8 ? id.substr(0, id.size() - 8) : std::string();
  return g_dbus_is_name(name.c_str()) && !g_dbus_is_unique_name(name.c_str()) ? name : std::string();
}

bool parseEntry(const std::string& file, const std::string& id, LSApplicationEntry* out) {
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file.c_str());
  if (info == nullptr) return false;
  LSApplicationEntry e;
  e.path = FSResolvedPath(file);
  if (e.path.empty()) e.path = file;
  e.id = id;
  if (g_desktop_app_info_get_boolean(info, "DBusActivatable")) e.busName = busNameOf(id);
  if (const char* exe = g_app_info_get_executable(G_APP_INFO(info)); exe && *exe) {
    gchar* found = g_find_program_in_path(exe);
    if (found) {
      e.program = FSResolvedPath(found);
      g_free(found);
    }
  }
  e.programIsScript = !e.program.empty() && FSIsInterpreterScript(e.program);
  e.hidden = g_desktop_app_info_get_nodisplay(info);
  gchar* code = g_desktop_app_info_get_string(info, "X-Creator-Code");
  e.creator = code ? FourCharCodeFromText(code) : 0;
  g_free(code);
  if (const char* name = g_app_info_get_name(G_APP_INFO(info))) e.name = name;
  g_object_unref(info);
  *out = std::move(e);
  return true;
}

struct Found {
  std::string id;
  std::string path;
  std::tuple<long, long, long> stamp;  // mtime seconds, nanoseconds, size
};

void walk(const std::string& folder, const std::string& prefix, int depth, std::vector<Found>* out) {
  if (depth > 8) return;  // desktop IDs nest a few levels at most; stop at a loop
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* d = readdir(dir)) {
    if (d->d_name[0] != '.') names.emplace_back(d->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::string path = folder + "/" + n;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      walk(path, prefix + n + "-", depth + 1, out);
    } else if (S_ISREG(st.st_mode) && n.size() > 8 && n.compare(n.size() - 8, 8, ".desktop") == 0) {
      out->push_back(Found{prefix + n, path, {long(st.st_mtim.tv_sec), long(st.st_mtim.tv_nsec), long(st.st_size)}});
    }
  }
}

struct Cache {
  std::mutex lock;
  std::vector<std::tuple<std::string, std::tuple<long, long, long>>> signature;
  std::vector<LSApplicationEntry> entries;
};

Cache& cache() {
  static Cache c;
  return c;
}

std::string pathOfRef(const FSRef* ref) { return ref ? ref->path : std::string(); }

bool isDesktopFile(const std::string& path) {
  return path.size() > 8 && path.compare(path.size() - 8, 8, ".desktop") == 0;
}

struct PidSink {
  pid_t pid = 0;
};

void onLaunched(GDesktopAppInfo*, GPid pid, gpointer data) { static_cast<PidSink*>(data)->pid = pid; }

// The desktop ID of an entry file: its path below a data folder's "applications" with "/" made
// "-", or for a file elsewhere its own name.
std::string desktopIdOf(const std::string& file) {
  std::string path = FSResolvedPath(file);
  if (path.empty()) path = file;
  for (const std::string& data : LSCopyDataFolders()) {
    std::string folder = FSResolvedPath(data + "/applications");
    if (folder.empty() || path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 ||
        path[folder.size()] != '/')
      continue;
    std::string id = path.substr(folder.size() + 1);
    std::replace(id.begin(), id.end(), '/', '-');
    return id;
  }
  return NSStringLastPathComponent(path);
}

// A private connection to the session bus, or null when there is none. Private, because the
// shared one ends the process when the bus goes away. Without DBUS_SESSION_BUS_ADDRESS only the
// user's runtime socket is tried: never an autolaunched bus.
GDBusConnection* openSessionBus() {
  std::string address;
  if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) {
    address = a;
  } else if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) {
    std::string socket = std::string(run) + "/bus";
    struct stat st {};
    if (stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      gchar* escaped = g_dbus_address_escape_value(socket.c_str());
      address = std::string("unix:path=") + escaped;
      g_free(escaped);
    }
  }
  if (address.empty()) return nullptr;
  GError* error = nullptr;
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (error) g_error_free(error);
  return bus;
}

void closeSessionBus(GDBusConnection* bus) {
  if (bus == nullptr) return;
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
}

GVariant* callBus(GDBusConnection* bus, const char* method, GVariant* args, const char* replyType) {
  return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     method, args, G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
                                     nullptr);
}

bool ownerOf(GDBusConnection* bus, const std::string& name, pid_t* pid) {
  GVariant* r = callBus(bus, "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()), "(u)");
  if (r == nullptr) return false;
  guint32 owner = 0;
  g_variant_get(r, "(u)", &owner);
  g_variant_unref(r);
  if (pid) *pid = pid_t(owner);
  return owner != 0;
}

struct OwnerSnapshot {
  std::mutex lock;
  bool valid = false;
  std::chrono::steady_clock::time_point taken;
  std::map<pid_t, std::string> entryOfPid;  // the owner's entry path
};

OwnerSnapshot& ownerSnapshot() {
  static OwnerSnapshot s;
  return s;
}

void forgetOwners() {
  OwnerSnapshot& s = ownerSnapshot();
  std::lock_guard<std::mutex> guard(s.lock);
  s.valid = false;
}

// An application's object path: its bus name with "." as "/" and "-" as "_".
std::string objectPathOf(const std::string& busName) {
  std::string path = "/" + busName;
  for (char& c : path) {
    if (c == '.') c = '/';
    else if (c == '-') c = '_';
  }
  return path;
}

constexpr OSStatus kNotActivatable = 1;  // no bus, or none can start the name: run the Exec line

// Asks the bus to start (or reach) the application and hand it the files.
OSStatus activateOverBus(const LSApplicationEntry& e, const std::vector<std::string>& uris, pid_t* pid) {
  GDBusConnection* bus = openSessionBus();
  if (bus == nullptr) return kNotActivatable;
  GVariantBuilder none;
  g_variant_builder_init(&none, G_VARIANT_TYPE("a{sv}"));
  GVariant* args;
  if (uris.empty()) {
    args = g_variant_new("(a{sv})", &none);
  } else {
    GVariantBuilder files;
    g_variant_builder_init(&files, G_VARIANT_TYPE("as"));
    for (const std::string& u : uris) g_variant_builder_add(&files, "s", u.c_str());
    args = g_variant_new("(asa{sv})", &files, &none);
  }
  GError* error = nullptr;
  // Starting a program by activation can take a while; the bus itself gives up after 25 s.
  GVariant* reply = g_dbus_connection_call_sync(bus, e.busName.c_str(), objectPathOf(e.busName).c_str(),
                                                "org.freedesktop.Application", uris.empty() ? "Activate" : "Open",
                                                args, nullptr, G_DBUS_CALL_FLAGS_NONE, 30000, nullptr, &error);
  pid_t owner = 0;
  bool owned = ownerOf(bus, e.busName, &owner);
  closeSessionBus(bus);
  std::string remote;
  if (error) {
    gchar* name = g_dbus_error_get_remote_error(error);
    if (name) remote = name;
    g_free(name);
    g_error_free(error);
  }
  if (reply) g_variant_unref(reply);
  if (owned) {  // it runs, whatever it made of the request
    *pid = owner;
    return noErr;
  }
  if (reply) {  // it took the request and has already left the bus
    *pid = 0;
    return noErr;
  }
  if (remote == "org.freedesktop.DBus.Error.ServiceUnknown" || remote == "org.freedesktop.DBus.Error.NameHasNoOwner")
    return kNotActivatable;
  return ioErr;  // the bus tried to start it and failed
}

// Runs the entry's Exec line. An activatable entry is run from a copy that does not say so, or
// GIO would only ask the bus again; the process still learns which entry it was launched from.
OSStatus runExecLine(const std::string& desktopFile, const LSApplicationEntry& e, const std::vector<std::string>& uris,
                     pid_t* pid) {
  GDesktopAppInfo* info = nullptr;
  GAppLaunchContext* context = g_app_launch_context_new();
  if (e.busName.empty()) {
    info = g_desktop_app_info_new_from_filename(desktopFile.c_str());
  } else {
    GKeyFile* keys = g_key_file_new();
    if (g_key_file_load_from_file(keys, desktopFile.c_str(), G_KEY_FILE_KEEP_TRANSLATIONS, nullptr)) {
      g_key_file_set_boolean(keys, G_KEY_FILE_DESKTOP_GROUP, "DBusActivatable", FALSE);
      info = g_desktop_app_info_new_from_keyfile(keys);
      g_app_launch_context_setenv(context, "GIO_LAUNCHED_DESKTOP_FILE", desktopFile.c_str());
    }
    g_key_file_unref(keys);
  }
  if (info == nullptr || e.program.empty()) {
    if (info) g_object_unref(info);
    g_object_unref(context);
    return info ? fnfErr : kLSApplicationNotFoundErr;
  }
  GList* list = nullptr;
  for (const std::string& u : uris) list = g_list_append(list, const_cast<char*>(u.c_str()));
  PidSink sink;
  GError* error = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD the program is started through an intermediate child, so it
  // is not ours to reap.
  gboolean ok = g_desktop_app_info_launch_uris_as_manager(info, list, context, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                                          onLaunched, &sink, &error);
  g_list_free(list);
  g_object_unref(info);
  g_object_unref(context);
  if (!ok) {
    OSStatus st = error && error->domain == G_SPAWN_ERROR && error->code == G_SPAWN_ERROR_NOENT ? fnfErr : ioErr;
    if (error) g_error_free(error);
    return st;
  }
  if (sink.pid <= 0) return ioErr;  // no process was started
  if (pid) *pid = sink.pid;
  return noErr;
}

}  // namespace

std::vector<std::string> LSCopyDataFolders() {
  std::vector<std::string> folders;
  const char* home = std::getenv("XDG_DATA_HOME");
  if (home && home[0] == '/') {
    folders.emplace_back(home);
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    folders.push_back(std::string(h) + "/.local/share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
  size_t start = 0;
  while (start <= list.size()) {
    size_t colon = list.find(':', start);
    std::string one = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!one.empty() && one[0] == '/') folders.push_back(one);  // relative entries are ignored
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return folders;
}

std::vector<LSApplicationEntry> LSCopyApplicationEntries() {
  std::vector<Found> found;
  for (const std::string& data : LSCopyDataFolders()) walk(data + "/applications", "", 0, &found);
  std::set<std::string> seen;
  std::vector<Found> chosen;
  for (Found& f : found) {
    if (seen.insert(f.id).second) chosen.push_back(std::move(f));
  }
  std::vector<std::tuple<std::string, std::tuple<long, long, long>>> signature;
  for (const Found& f : chosen) signature.emplace_back(f.path, f.stamp);

  Cache& c = cache();
  std::lock_guard<std::mutex> guard(c.lock);
  if (signature != c.signature || c.signature.empty()) {
    std::vector<LSApplicationEntry> entries;
    for (const Found& f : chosen) {
      LSApplicationEntry e;
      if (parseEntry(f.path, f.id, &e)) entries.push_back(std::move(e));
    }
    c.entries = std::move(entries);
    c.signature = std::move(signature);
  }
  return c.entries;
}

bool LSCopyApplicationEntry(const std::string& desktopFile, LSApplicationEntry* entry) {
  if (!isDesktopFile(desktopFile)) return false;
  LSApplicationEntry e;
  if (!parseEntry(desktopFile, desktopIdOf(desktopFile), &e)) return false;
  if (entry) *entry = std::move(e);
  return true;
}

OSStatus LSFindApplicationForInfo(OSType inCreator, const char*, const char*, FSRef* outAppRef, void*) {
  if (inCreator == kLSUnknownCreator) return paramErr;
  for (const LSApplicationEntry& e : LSCopyApplicationEntries()) {
    if (e.creator != inCreator) continue;
    if (outAppRef) {
      OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(e.path.c_str()), outAppRef, nullptr);
      if (err != noErr) continue;  // removed since the walk
    }
    return noErr;
  }
  return kLSApplicationNotFoundErr;
}

OSStatus LSLaunchApplicationEntry(const std::string& desktopFile, const std::vector<std::string>& uris, pid_t* pid) {
  LSApplicationEntry e;
  if (!LSCopyApplicationEntry(desktopFile, &e)) return kLSApplicationNotFoundErr;
  forgetOwners();
  pid_t launched = 0;
  OSStatus st = e.busName.empty() ? kNotActivatable : activateOverBus(e, uris, &launched);
  if (st == kNotActivatable) st = runExecLine(desktopFile, e, uris, &launched);
  if (st == noErr && pid) *pid = launched;
  return st;
}

bool LSCopyApplicationOwner(const LSApplicationEntry& entry, pid_t* pid) {
  if (entry.busName.empty()) return false;
  GDBusConnection* bus = openSessionBus();
  if (bus == nullptr) return false;
  bool owned = ownerOf(bus, entry.busName, pid);
  closeSessionBus(bus);
  return owned;
}

bool LSCopyApplicationEntryOwnedBy(pid_t pid, const std::vector<LSApplicationEntry>& entries,
                                   LSApplicationEntry* entry) {
  if (std::none_of(entries.begin(), entries.end(), [](const LSApplicationEntry& e) { return !e.busName.empty(); }))
    return false;
  OwnerSnapshot& s = ownerSnapshot();
  std::lock_guard<std::mutex> guard(s.lock);
  auto now = std::chrono::steady_clock::now();
  if (!s.valid || now - s.taken > std::chrono::milliseconds(500)) {
    s.entryOfPid.clear();
    if (GDBusConnection* bus = openSessionBus()) {
      std::set<std::string> names;
      if (GVariant* r = callBus(bus, "ListNames", nullptr, "(as)")) {
        GVariantIter* it = nullptr;
        const gchar* name = nullptr;
        g_variant_get(r, "(as)", &it);
        while (g_variant_iter_next(it, "&s", &name)) names.insert(name);
        g_variant_iter_free(it);
        g_variant_unref(r);
      }
      for (const LSApplicationEntry& e : entries) {
        pid_t owner = 0;
        if (!e.busName.empty() && names.count(e.busName) && ownerOf(bus, e.busName, &owner))
          s.entryOfPid.emplace(owner, e.path);
      }
      closeSessionBus(bus);
    }
    s.valid = true;
    s.taken = now;
  }
  auto it = s.entryOfPid.find(pid);
  if (it == s.entryOfPid.end()) return false;
  for (const LSApplicationEntry& e : entries) {
    if (e.path != it->second) continue;
    if (entry) *entry = e;
    return true;
  }
  return false;
}

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef) {
  std::string path = pathOfRef(inRef);
  if (path.empty()) return paramErr;
  if (access(path.c_str(), F_OK) != 0) return fnfErr;
  if (LSCopyApplicationEntry(path, nullptr)) {
    if (outLaunchedRef) *outLaunchedRef = *inRef;
    return LSLaunchApplicationEntry(path, {}, nullptr);
  }
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
  if (uri == nullptr) return paramErr;
  GFile* file = g_file_new_for_path(path.c_str());
  GError* error = nullptr;
  GAppInfo* handler = g_file_query_default_handler(file, nullptr, &error);
  g_object_unref(file);
  if (handler == nullptr) {
    if (error) g_error_free(error);
    g_free(uri);
    return kLSApplicationNotFoundErr;
  }
  // A handler with an entry file goes the way every entry is launched, so that an activatable
  // one is really reached.
  const char* entryFile = G_IS_DESKTOP_APP_INFO(handler) ? g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(handler))
                                                          : nullptr;
  OSStatus st;
  if (entryFile) {
    st = LSLaunchApplicationEntry(entryFile, {uri}, nullptr);
    if (st == noErr && outLaunchedRef) FSPathMakeRef(reinterpret_cast<const UInt8*>(entryFile), outLaunchedRef, nullptr);
  } else {
    GList one{uri, nullptr, nullptr};
    st = g_app_info_launch_uris(handler, &one, nullptr, &error) ? noErr : ioErr;
  }
  g_object_unref(handler);
  g_free(uri);
  if (error) g_error_free(error);
  return st;
}

OSStatus LSCopyDisplayNameForRef(const FSRef* inRef, std::string* outDisplayName) {
  std::string path = pathOfRef(inRef);
  if (path.empty() || outDisplayName == nullptr) return paramErr;
  if (access(path.c_str(), F_OK) != 0) return fnfErr;
  LSApplicationEntry e;
  if (LSCopyApplicationEntry(path, &e) && !e.name.empty()) {
    *outDisplayName = e.name;
    return noErr;
  }
  gchar* name = g_filename_display_basename(path.c_str());
  *outDisplayName = name ? name : "";
  g_free(name);
  return noErr;
}

OSStatus LSCopyItemInfoForRef(const FSRef* inItemRef, LSRequestedInfo, LSItemInfoRecord* outItemInfo) {
  std::string path = pathOfRef(inItemRef);
  if (path.empty() || outItemInfo == nullptr) return paramErr;
  *outItemInfo = LSItemInfoRecord{0, 0, 0};
  if (access(path.c_str(), F_OK) != 0) return fnfErr;
  LSApplicationEntry e;
  if (LSCopyApplicationEntry(path, &e)) {
    outItemInfo->flags = kLSItemInfoIsApplication;
    outItemInfo->filetype = FOUR_CHAR_CODE("APPL");
    outItemInfo->creator = e.creator;
    return noErr;
  }
  FSSpec spec{};
  FInfo finfo{};
  if (FSpFromPath(path, &spec) == noErr && FSpGetFInfo(&spec, &finfo) == noErr) {
    outItemInfo->filetype = finfo.fdType;
    outItemInfo->creator = finfo.fdCreator;
    if (finfo.fdType == FOUR_CHAR_CODE("APPL")) outItemInfo->flags = kLSItemInfoIsApplication;
  }
  return noErr;
}
