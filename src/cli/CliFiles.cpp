// Whole-file reading and atomic replacement for the subcommands, built on the file toolbox
// for the temporary file and the rename.
#include "cli/CliFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Files.h"

namespace cli {
namespace fs = std::filesystem;

bool readWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) {
    *reason = ec && ec != std::errc::no_such_file_or_directory ? ec.message() : "no such file";
    return false;
  }
  if (fs::is_directory(st)) {
    *reason = "is a directory";
    return false;
  }
  if (!fs::is_regular_file(st)) {
    *reason = "not a regular file";
    return false;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *reason = std::strerror(errno);
    return false;
  }
  std::string data;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    *reason = "read error";
    return false;
  }
  *bytes = std::move(data);
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

namespace {

// The system's words for a file manager code.
int errnoFor(OSErr err) {
  switch (err) {
    case dskFulErr: return ENOSPC;
    case permErr: return EACCES;
    case wPrErr: return EROFS;
    case fnfErr: return ENOENT;
    case dirNFErr: return ENOTDIR;
    case dupFNErr: return EEXIST;
    case bdNamErr: return ENAMETOOLONG;
    default: return EIO;
  }
}

// The permission bits of the file being replaced (never of a link's target, never set-ID or
// sticky bits), else the usual ones.
mode_t permissionsFor(const std::string& path) {
  std::error_code ec;
  fs::file_status st = fs::symlink_status(path, ec);
  if (!ec && fs::is_regular_file(st)) return mode_t(st.permissions() & fs::perms::all);
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool replaceFileWith(const std::string& path, const std::string& bytes, std::string* reason) {
  std::error_code ec;
  std::string absolute = fs::absolute(path, ec).lexically_normal().string();
  if (ec) {
    *reason = ec.message();
    return false;
  }
  FSSpec target{}, temporary{};
  if (FSpFromPath(absolute, &target) != noErr) {
    *reason = "its folder does not exist";
    return false;
  }
  if (fs::is_directory(absolute, ec)) {
    *reason = "is a directory";
    return false;
  }
  // A working file that has no name until it is complete, so a kill leaves nothing behind.
  OSErr err = FSpCreateTemporary(&target, "still2mov", &temporary);
  if (err != noErr) {
    *reason = "cannot create a file in its folder (" + std::string(std::strerror(errnoFor(err))) + ")";
    return false;
  }
  int fd = -1;
  bool ok = FSpOpenDescriptor(&temporary, O_WRONLY, &fd) == noErr;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += std::size_t(n);
  }
  ok = ok && ::fchmod(fd, permissionsFor(absolute)) == 0;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (!ok) {
    *reason = "write failed (disk full?)";
    FSpDelete(&temporary);
    return false;
  }
  err = FSpPublishTemporary(&temporary, &target, true);
  if (err != noErr) {
    *reason = "cannot put it in place (" + std::string(std::strerror(errnoFor(err))) + ")";
    FSpDelete(&temporary);
    return false;
  }
  return true;
}

}  // namespace cli
