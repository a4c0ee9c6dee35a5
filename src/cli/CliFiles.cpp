// Whole-file reading and atomic replacement for the subcommands, built on the file toolbox
// for the temporary file and the rename.
#include "cli/CliFiles.h"

#include <sys/stat.h>

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

fs::perms permissionsFor(const std::string& path) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (!ec && fs::is_regular_file(st)) return st.permissions() & fs::perms::mask;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return fs::perms(0666 & ~mask);
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
  OSErr err = FSpCreateTemporary(&target, "still2mov", &temporary);
  if (err != noErr) {
    *reason = "cannot create a file in its folder (error " + std::to_string(err) + ")";
    return false;
  }
  std::string temporaryPath;
  FSpGetPath(&temporary, &temporaryPath);
  bool ok = false;
  if (std::FILE* f = std::fopen(temporaryPath.c_str(), "wb")) {
    ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
  }
  if (!ok) {
    *reason = "write failed (disk full?)";
    FSpDelete(&temporary);
    return false;
  }
  fs::permissions(temporaryPath, permissionsFor(absolute), ec);
  err = FSpReplaceObject(&temporary, &target);
  if (err != noErr) {
    *reason = "cannot rename into place (error " + std::to_string(err) + ")";
    FSpDelete(&temporary);
    return false;
  }
  return true;
}

}  // namespace cli
