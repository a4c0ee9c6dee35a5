// SPDX-License-Identifier: GPL-2.0-or-later
// FIFO helpers for the tests that a photograph which is no regular file never blocks.
#include "support/Fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

namespace testsupport {

bool makeFifo(const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }

bool returnsWithin(const std::string& fifo, const std::function<void()>& work, double seconds) {
  auto done = std::async(std::launch::async, work);
  if (done.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::ready) {
    done.get();
    return true;
  }
  // A blocked open for reading returns once a writer appears; a read then sees the end.
  int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    usleep(200000);
    close(fd);
  }
  done.get();
  return false;
}

}  // namespace testsupport
