// SPDX-License-Identifier: GPL-2.0-or-later
// The memory stream: slot table limits, modes, no short reads, seeks and growth.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ImageAudio/Tifflib/MemoryStream.h"

namespace {
char block10[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
}

TEST(MemoryStream, TableHoldsTwentyAndReusesTheLowestFreeSlot) {
  std::vector<int32_t> fds;
  for (int i = 0; i < 20; ++i) {
    const int32_t fd = mfs_open(block10, 10, "r");
    ASSERT_GE(fd, 0);
    fds.push_back(fd);
  }
  errno = 0;
  EXPECT_EQ(mfs_open(block10, 10, "r"), -1);
  EXPECT_EQ(errno, EMFILE);
  EXPECT_EQ(mfs_close(fds[7]), 0);
  EXPECT_EQ(mfs_open(block10, 10, "r"), fds[7]);
  for (int32_t fd : fds) EXPECT_EQ(mfs_close(fd), 0);
  errno = 0;
  EXPECT_EQ(mfs_close(fds[0]), -1);  // closing twice
  EXPECT_EQ(errno, EBADF);
  for (int32_t bad : {-1, 20, 1000}) {
    errno = 0;
    EXPECT_EQ(mfs_size(bad), -1);
    EXPECT_EQ(errno, EBADF);
  }
}

TEST(MemoryStream, ModesAreCheckedByTheirFirstLetter) {
  const int32_t rb = mfs_open(block10, 10, "rb");
  ASSERT_GE(rb, 0);
  char c;
  EXPECT_EQ(mfs_read(rb, &c, 1), 1);
  EXPECT_EQ(mfs_close(rb), 0);
  struct Case { void* block; const char* mode; } bad[] = {{block10, "x"}, {nullptr, "r"}, {block10, "w"}};
  for (const Case& k : bad) {
    errno = 0;
    EXPECT_EQ(mfs_open(k.block, 10, k.mode), -1) << k.mode;
    EXPECT_EQ(errno, EINVAL);
  }
  // Reading a writer and writing a reader are both refused.
  const int32_t w = mfs_open(nullptr, 0, "w");
  const int32_t r = mfs_open(block10, 10, "r");
  errno = 0;
  EXPECT_EQ(mfs_read(w, &c, 1), -1);
  EXPECT_EQ(errno, EBADF);
  errno = 0;
  EXPECT_EQ(mfs_write(r, "x", 1), -1);
  EXPECT_EQ(errno, EBADF);
  void* base = nullptr;
  mfs_map(w, &base, nullptr);
  EXPECT_EQ(mfs_close(w), 0);
  EXPECT_EQ(mfs_close(r), 0);
  EXPECT_EQ(mfs_unmap(99, base, 5), 0);
  std::free(base);
}

TEST(MemoryStream, ReadsDeliverAllOrNothingAndSeeksPastTheEndReadNothing) {
  const int32_t fd = mfs_open(block10, 10, "r");
  char out[4] = {};
  EXPECT_EQ(mfs_lseek(fd, 8, SEEK_SET), 8);
  EXPECT_EQ(mfs_read(fd, out, 3), 0);
  EXPECT_EQ(mfs_lseek(fd, 0, SEEK_CUR), 8);
  EXPECT_EQ(mfs_read(fd, out, 2), 2);
  EXPECT_EQ(std::memcmp(out, "89", 2), 0);
  EXPECT_EQ(mfs_lseek(fd, 100, SEEK_SET), 100);
  EXPECT_EQ(mfs_read(fd, out, 1), 0);
  EXPECT_EQ(mfs_size(fd), 10);
  EXPECT_EQ(std::memcmp(block10, "0123456789", 10), 0);
  EXPECT_EQ(mfs_lseek(fd, -4, SEEK_END), 6);
  errno = 0;
  EXPECT_EQ(mfs_lseek(fd, -11, SEEK_END), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(mfs_lseek(fd, -1, SEEK_SET), -1);
  EXPECT_EQ(mfs_lseek(fd, 0, 7), -1);
  EXPECT_EQ(mfs_lseek(fd, 0, SEEK_CUR), 6);
  // Sums that would pass 2^31 are refused instead of wrapping.
  EXPECT_EQ(mfs_lseek(fd, INT32_MAX, SEEK_CUR), -1);
  EXPECT_EQ(mfs_read(fd, out, INT32_MAX), 0);
  void* base = nullptr;
  int32_t size = 0;
  EXPECT_EQ(mfs_map(fd, &base, &size), 0);
  EXPECT_EQ(base, block10);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(mfs_close(fd), 0);
}

TEST(MemoryStream, WriterOverwritesInsideAndGrowsOnlyByWriting) {
  const int32_t fd = mfs_open(nullptr, 0, "w");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(mfs_write(fd, "abcde", 5), 5);
  EXPECT_EQ(mfs_size(fd), 5);
  EXPECT_EQ(mfs_lseek(fd, 2, SEEK_SET), 2);
  EXPECT_EQ(mfs_write(fd, "XY", 2), 2);
  EXPECT_EQ(mfs_size(fd), 5);
  EXPECT_EQ(mfs_lseek(fd, 8, SEEK_SET), 8);
  EXPECT_EQ(mfs_size(fd), 5);
  EXPECT_EQ(mfs_write(fd, "z", 1), 1);
  EXPECT_EQ(mfs_size(fd), 9);
  void* base = nullptr;
  int32_t size = 0;
  EXPECT_EQ(mfs_map(fd, &base, &size), 0);
  EXPECT_EQ(std::memcmp(base, "abXYe", 5), 0);
  EXPECT_EQ(static_cast<char*>(base)[8], 'z');
  EXPECT_EQ(mfs_close(fd), 0);
  std::free(base);  // the block outlives the stream and is the taker's
}

TEST(MemoryStream, AppenderWritesAtTheEndWhateverThePosition) {
  char* block = static_cast<char*>(std::malloc(4));
  std::memcpy(block, "head", 4);
  const int32_t fd = mfs_open(block, 4, "a");
  ASSERT_GE(fd, 0);
  EXPECT_EQ(mfs_lseek(fd, 0, SEEK_SET), 0);
  EXPECT_EQ(mfs_write(fd, "abc", 3), 3);
  EXPECT_EQ(mfs_size(fd), 7);
  EXPECT_EQ(mfs_lseek(fd, 0, SEEK_CUR), 7);
  void* base = nullptr;
  int32_t size = 0;
  mfs_map(fd, &base, &size);
  EXPECT_EQ(std::memcmp(base, "headabc", 7), 0);
  // A write that cannot be held reports ENOMEM and changes nothing.
  errno = 0;
  EXPECT_EQ(mfs_write(fd, "x", INT32_MAX), -1);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(mfs_size(fd), 7);
  EXPECT_EQ(mfs_lseek(fd, 0, SEEK_CUR), 7);
  EXPECT_EQ(mfs_close(fd), 0);
  std::free(base);
}
