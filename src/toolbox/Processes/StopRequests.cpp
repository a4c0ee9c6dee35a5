// SPDX-License-Identifier: GPL-2.0-or-later
// Stop requests through a handler that sets a flag and writes to a pipe (safe in a handler);
// system calls under way are restarted, so that a file being written is not cut by the signal.
#include "toolbox/Processes/StopRequests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

std::atomic<bool> gStop{false};
int gPipe[2] = {-1, -1};

void onStopSignal(int) {
  gStop.store(true);
  const char byte = 1;
  if (gPipe[1] >= 0) [[maybe_unused]] ssize_t n = write(gPipe[1], &byte, 1);
}

}  // namespace

void CatchStopRequests() {
  if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

bool StopRequested() { return gStop.load(); }

int StopRequestDescriptor() { return gPipe[0]; }
