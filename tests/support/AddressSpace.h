// SPDX-License-Identifier: GPL-2.0-or-later
// Huge inputs that cost no disk, and running the built program with its address space limited,
// to show that what it holds in memory does not grow with its input. The address sanitizer reserves more address space than
// any modest limit allows, so such tests skip themselves under it:
//   SKIP_UNDER_ADDRESS_SANITIZER();
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define STILL2MOV_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STILL2MOV_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(STILL2MOV_UNDER_ADDRESS_SANITIZER)
#define SKIP_UNDER_ADDRESS_SANITIZER() \
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows"
#else
#define SKIP_UNDER_ADDRESS_SANITIZER() (void)0
#endif

namespace testsupport {

// A WAVE file whose 'fmt ' chunk is format and whose data chunk is a hole of dataBytes: the disk
// holds only the header.
void sparseWave(const std::string& path, const std::string& format, std::uint64_t dataBytes);
// A linear PCM 'fmt ' chunk body (16 bytes).
std::string pcmFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);

// A shell command line that runs the built still2mov with args (each quoted here) in at most
// limitKiB of address space (none when 0), standard error joined to standard output.
std::string still2movLimited(long limitKiB, const std::vector<std::string>& args);

}  // namespace testsupport
