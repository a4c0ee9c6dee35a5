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

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"

namespace {

constexpr mode_t kPrivate = 0700;

std::string temporaryFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = env && *env ? env : "";
  struct stat st {};
  if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) folder = "/tmp";
  char resolved[PATH_MAX];
  return realpath(folder.c_str(), resolved) ? std::string(resolved) : folder;
}

OSErr refuse(OSErr err, const std::string& path, const std::string& why, std::string* reason) {
  if (reason) *reason = "the temporary folder " + path + " " + why;
  return err;
}

}  // namespace

OSErr FSFindTemporaryItemsFolder(std::string* path, std::string* reason) {
  if (path == nullptr) return paramErr;
  path->clear();
  const std::string base = temporaryFolder();
  const std::string folder = (base == "/" ? "" : base) + "/still2mov-" + std::to_string(geteuid());
  if (mkdir(folder.c_str(), kPrivate) != 0 && errno != EEXIST) {
    const int e = errno;
    return refuse(OSErrFromErrno(e), folder, std::string("cannot be made (") + std::strerror(e) + ")", reason);
  }

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
  if (err == noErr) *path = folder;
  return err;
}
