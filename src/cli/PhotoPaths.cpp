// Movie naming and unreadable-photograph reasons for the subcommands.
#include "cli/PhotoPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace cli {
namespace fs = std::filesystem;

std::string moviePathFor(const std::string& photo) {
  std::size_t leafStart = photo.rfind('/');
  leafStart = leafStart == std::string::npos ? 0 : leafStart + 1;
  std::size_t dot = photo.rfind('.');
  std::string stem = photo;
  if (dot != std::string::npos && dot > leafStart) stem.erase(dot);
  return stem + ".mov";
}

std::string unreadableReason(const std::string& path) {
  std::error_code ec;
  fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) return "no such file";
  if (fs::is_directory(st)) return "is a directory";
  if (!fs::is_regular_file(st)) return "not a regular file";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::strerror(errno);
  unsigned char head[2] = {0, 0};
  std::size_t n = std::fread(head, 1, 2, f);
  std::fclose(f);
  if (n == 0) return "empty file";
  if (n < 2 || head[0] != 0xFF || head[1] != 0xD8) return "not a JPEG file";
  return "damaged JPEG header";
}

}  // namespace cli
