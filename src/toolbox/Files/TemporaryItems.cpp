// SPDX-License-Identifier: GPL-2.0-or-later
// Finding, making and checking the private temporary-items folder, on the open descriptor so
// that a link or another user's folder planted under the name is noticed, never followed.
#include "toolbox/Files/TemporaryItems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"

namespace {

constexpr mode_t kPrivate = 0700;

std::string resolved(const std::string& folder) {
  char buffer[PATH_MAX];
  return realpath(folder.c_str(), buffer) ? std::string(buffer) : folder;
}

std::string temporaryFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = env && *env ? env : "";
  struct stat st {};
  if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) folder = "/tmp";
  return resolved(folder);
}

// $XDG_RUNTIME_DIR when it is what it must be: an absolute path to a folder of the user's own
// that no one else may enter. Otherwise none.
std::string runtimeFolder() {
  const char* env = std::getenv("XDG_RUNTIME_DIR");
  if (env == nullptr || env[0] != '/') return std::string();
  struct stat st {};
  if (stat(env, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) return "";
  return resolved(env);
}

std::string joined(const std::string& base, const char* leaf) { return (base == "/" ? "" : base) + "/" + leaf; }

OSErr refuse(OSErr err, const std::string& path, const std::string& why, std::string* reason) {
  if (reason) *reason = "the temporary folder " + path + " " + why;
  return err;
}

// An existing folder must be a real folder of the user's, never a link; looser permissions are
// tightened.
OSErr checkFolder(const std::string& folder, std::string* reason) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    struct stat st {};
    bool link = lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (link) return refuse(permErr, folder, "is a symbolic link, not a folder of this user's", reason);
    if (e == ENOTDIR) return refuse(dupFNErr, folder, "is not a folder", reason);
    return refuse(permErr, folder, std::string("cannot be opened (") + std::strerror(e) + ")", reason);
  }
  struct stat st {};
  OSErr err = noErr;
  if (fstat(fd, &st) != 0) {
    const int e = errno;
    err = refuse(OSErrFromErrno(e), folder, std::string("cannot be examined (") + std::strerror(e) + ")", reason);
  } else if (st.st_uid != geteuid()) {
    err = refuse(permErr, folder, "belongs to another user", reason);
  } else if ((st.st_mode & 07777) != kPrivate && fchmod(fd, kPrivate) != 0) {
    err = refuse(permErr, folder, "cannot be made private", reason);
  }
  close(fd);
  return err;
}

// Folders this process made in a shared temporary folder, by that folder; each goes when the
// process that made it ends (FSReleaseTemporaryItemsFolder).
struct MadeFolders {
  std::mutex lock;
  std::map<std::string, std::string> byBase;
  pid_t owner = 0;
};

// Never destroyed: the exit handler that releases the folders runs after statics may have gone.
MadeFolders& madeFolders() {
  static MadeFolders* m = new MadeFolders;
  return *m;
}

}  // namespace

OSErr FSFindTemporaryItemsFolder(std::string* path, std::string* reason) {
  if (path == nullptr) return paramErr;
  path->clear();

  // The session's own folder, private by definition: a fixed name there cannot be taken by anyone else.
  if (const std::string runtime = runtimeFolder(); !runtime.empty()) {
    const std::string folder = joined(runtime, "still2mov");
    if (mkdir(folder.c_str(), kPrivate) != 0 && errno != EEXIST) {
      const int e = errno;
      return refuse(OSErrFromErrno(e), folder, std::string("cannot be made (") + std::strerror(e) + ")", reason);
    }
    const OSErr err = checkFolder(folder, reason);
    if (err == noErr) *path = folder;
    return err;
  }

  // Elsewhere a folder of this process's own with a name no one can guess beforehand (mkdtemp),
  // so no name planted by another user stands in the way.
  const std::string base = temporaryFolder();
  MadeFolders& made = madeFolders();
  std::lock_guard<std::mutex> hold(made.lock);
  if (made.owner != getpid()) {
    // A copy of a process (a worker) makes folders of its own, and removes them itself.
    made.byBase.clear();
    made.owner = getpid();
  }
  auto it = made.byBase.find(base);
  if (it != made.byBase.end() && checkFolder(it->second, nullptr) == noErr) {
    *path = it->second;
    return noErr;
  }
  std::string pattern = joined(base, "still2mov-XXXXXX");
  FSInterruptsHeld held;  // made and registered as one step
  if (mkdtemp(pattern.data()) == nullptr) {
    const int e = errno;
    return refuse(OSErrFromErrno(e), base, std::string("has no room for a private folder (") + std::strerror(e) + ")",
                  reason);
  }
  if (made.byBase.empty()) {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(FSReleaseTemporaryItemsFolder); });
  }
  made.byBase[base] = pattern;
  FSRemoveOnInterrupt(pattern);
  *path = pattern;
  return noErr;
}

void FSReleaseTemporaryItemsFolder() {
  MadeFolders& made = madeFolders();
  std::lock_guard<std::mutex> hold(made.lock);
  if (made.owner != getpid()) return;
  // Only when empty: whatever is still inside belongs to a conversion that has not ended.
  for (const auto& [base, folder] : made.byBase) {
    if (rmdir(folder.c_str()) == 0) FSKeepOnInterrupt(folder);
  }
  made.byBase.clear();
}
