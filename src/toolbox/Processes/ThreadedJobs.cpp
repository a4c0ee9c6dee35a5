// SPDX-License-Identifier: GPL-2.0-or-later
// Numbered jobs on threads: each thread takes the next number until none is left or a stop is
// asked for; a thread that cannot be started leaves its share to the others.
#include "toolbox/Processes/ThreadedJobs.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

void RunJobsInThreads(std::size_t count, int threads, const std::function<void(std::size_t)>& job,
                      const std::function<bool()>& stop) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopped{false};
  auto work = [&](bool asksStop) {
    for (;;) {
      if (asksStop && stop && stop()) stopped = true;
      if (stopped) return;
      const std::size_t i = next++;
      if (i >= count) return;
      job(i);
    }
  };
  std::vector<std::thread> helpers;
  const std::size_t wanted = std::min<std::size_t>(count, std::size_t(std::max(threads, 1))) - (count > 0 ? 1 : 0);
  for (std::size_t t = 0; t < wanted; ++t) {
    try {
      helpers.emplace_back(work, false);
    } catch (const std::system_error&) {
      break;  // the threads there are, and this one, do the jobs
    }
  }
  work(true);
  for (std::thread& helper : helpers) helper.join();
}
