// Folder listing through opendir/readdir: one pass, names only, nothing looked up per item.
#include "toolbox/Files/FolderNames.h"

#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"

OSErr FSListFolderNames(const std::string& folder, std::vector<std::string>* names, std::string* reason) {
  if (names == nullptr) return paramErr;
  names->clear();
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    const int error = errno;
    if (reason) *reason = ErrnoWords(error);
    return OSErrFromErrno(error);
  }
  errno = 0;
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->emplace_back(e->d_name);
    errno = 0;
  }
  // A listing cut short by an error would pass for a folder without the name looked for.
  const int error = errno;
  closedir(dir);
  if (error != 0) {
    names->clear();
    if (reason) *reason = ErrnoWords(error);
    return OSErrFromErrno(error);
  }
  return noErr;
}
