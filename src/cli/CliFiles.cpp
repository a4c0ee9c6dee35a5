// Whole-file reading and saving for the subcommands, on the file toolbox's regular-file reads
// and its one way of saving a file.
#include "cli/CliFiles.h"

#include <cstring>
#include <filesystem>
#include <vector>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"
#include "toolbox/Files/SafeSave.h"

namespace cli {
namespace fs = std::filesystem;

bool readWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
  std::vector<UInt8> data;
  if (FSReadRegularFile(path, &data, reason) != noErr) return false;
  bytes->assign(data.begin(), data.end());
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

bool replaceFileWith(const std::string& path, const std::string& bytes, std::string* reason) {
  std::error_code ec;
  std::string absolute = fs::absolute(path, ec).lexically_normal().string();
  if (ec) {
    *reason = ec.message();
    return false;
  }
  FSSpec target{};
  if (FSpFromPath(absolute, &target) != noErr) {
    *reason = "its folder does not exist";
    return false;
  }
  OSErr err = FSpSaveBytes(&target, bytes.data(), bytes.size(), true);
  if (err == notAFileErr) *reason = "is a directory";
  else if (err != noErr) *reason = std::strerror(ErrnoFromOSErr(err));
  return err == noErr;
}

}  // namespace cli
