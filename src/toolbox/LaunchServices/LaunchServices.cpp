// Application lookup, launching and display names over the XDG desktop entries.
// Entries are parsed with GDesktopAppInfo; the folder walk is ours so that it sees changes at once.
#include "toolbox/LaunchServices/LaunchServices.h"

#include <dirent.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "toolbox/Core/MacErrors.h"

namespace {

std::string resolvedPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool startsWithShebang(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char head[2] = {};
  size_t n = std::fread(head, 1, 2, f);
  std::fclose(f);
  return n == 2 && head[0] == '#' && head[1] == '!';
}

bool parseEntry(const std::string& file, LSApplicationEntry* out) {
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(file.c_str());
  if (info == nullptr) return false;
  LSApplicationEntry e;
  e.path = file;
  if (const char* exe = g_app_info_get_executable(G_APP_INFO(info)); exe && *exe) {
    gchar* found = g_find_program_in_path(exe);
    if (found) {
      e.program = resolvedPath(found);
      g_free(found);
    }
  }
  e.programIsScript = !e.program.empty() && startsWithShebang(e.program);
  e.hidden = g_desktop_app_info_get_nodisplay(info);
  gchar* code = g_desktop_app_info_get_string(info, "X-Creator-Code");
  e.creator = LSCreatorFromText(code);
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

}  // namespace

OSType LSCreatorFromText(const char* text) {
  if (text == nullptr || std::strlen(text) != 4) return 0;
  return FOUR_CHAR_CODE(*reinterpret_cast<const char(*)[5]>(text));
}

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
      if (parseEntry(f.path, &e)) entries.push_back(std::move(e));
    }
    c.entries = std::move(entries);
    c.signature = std::move(signature);
  }
  return c.entries;
}

bool LSCopyApplicationEntry(const std::string& desktopFile, LSApplicationEntry* entry) {
  if (!isDesktopFile(desktopFile)) return false;
  LSApplicationEntry e;
  if (!parseEntry(desktopFile, &e)) return false;
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
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(desktopFile.c_str());
  if (info == nullptr) return kLSApplicationNotFoundErr;
  GList* list = nullptr;
  for (const std::string& u : uris) list = g_list_append(list, const_cast<char*>(u.c_str()));
  PidSink sink;
  GError* error = nullptr;
  // Without G_SPAWN_DO_NOT_REAP_CHILD the program is started through an intermediate child, so it
  // is not ours to reap.
  gboolean ok = g_desktop_app_info_launch_uris_as_manager(info, list, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                                          onLaunched, &sink, &error);
  g_list_free(list);
  g_object_unref(info);
  if (!ok) {
    OSStatus st = error && error->domain == G_SPAWN_ERROR && error->code == G_SPAWN_ERROR_NOENT ? fnfErr : ioErr;
    if (error) g_error_free(error);
    return st;
  }
  if (pid) *pid = sink.pid;
  return noErr;
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
  GList one{uri, nullptr, nullptr};
  gboolean ok = g_app_info_launch_uris(handler, &one, nullptr, &error);
  if (ok && outLaunchedRef) {
    if (G_IS_DESKTOP_APP_INFO(handler)) {
      if (const char* f = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(handler)))
        FSPathMakeRef(reinterpret_cast<const UInt8*>(f), outLaunchedRef, nullptr);
    }
  }
  g_object_unref(handler);
  g_free(uri);
  if (error) g_error_free(error);
  return ok ? noErr : ioErr;
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
