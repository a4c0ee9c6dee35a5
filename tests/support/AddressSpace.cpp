// SPDX-License-Identifier: GPL-2.0-or-later
// Sparse WAVE files and the command line for running still2mov in a limited address space.
#include "support/AddressSpace.h"

#include <filesystem>

#include "support/JpegBuilder.h"
#include "support/TestPaths.h"

namespace testsupport {

void sparseWave(const std::string& path, const std::string& format, std::uint64_t dataBytes) {
  // RIFF sizes are 32-bit; a test that wants more gets what the field keeps.
  const std::string head = "RIFF" + le32(std::uint32_t(4 + 8 + format.size() + 8 + dataBytes)) + "WAVE" + "fmt " +
                           le32(std::uint32_t(format.size())) + format + "data" + le32(std::uint32_t(dataBytes));
  writeFile(path, head);
  std::filesystem::resize_file(path, head.size() + dataBytes);
}

std::string pcmFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  const std::uint16_t block = std::uint16_t(channels * ((bits + 7) / 8));
  return le16(1) + le16(channels) + le32(rate) + le32(rate * block) + le16(block) + le16(bits);
}

std::string still2movLimited(long limitKiB, const std::vector<std::string>& args) {
  std::string command = limitKiB > 0 ? "ulimit -v " + std::to_string(limitKiB) + " && " : "";
  command += "exec " + shellQuote(binaryPath());
  for (const std::string& a : args) command += " " + shellQuote(a);
  return command + " 2>&1";
}

}  // namespace testsupport
