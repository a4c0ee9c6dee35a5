// Unreadable-photograph reasons for the subcommands.
#include "cli/PhotoPaths.h"

#include <cstdio>

#include "toolbox/Files/RegularFiles.h"

namespace cli {

std::string unreadableReason(const std::string& path) {
  std::FILE* f = nullptr;
  std::string reason;
  if (FSOpenRegularFile(path, &f, &reason) != 0) return reason;
  unsigned char head[2] = {0, 0};
  std::size_t n = std::fread(head, 1, 2, f);
  bool huge = std::fseek(f, 0, SEEK_END) == 0 && UInt64(std::ftell(f)) > kFSMaxWholeFileBytes;
  std::fclose(f);
  if (n == 0) return "empty file";
  if (n < 2 || head[0] != 0xFF || head[1] != 0xD8) return "not a JPEG file";
  if (huge) return "larger than " + std::to_string(kFSMaxWholeFileBytes >> 20) + " MB";
  return "damaged JPEG header";
}

}  // namespace cli
