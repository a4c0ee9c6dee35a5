// SPDX-License-Identifier: GPL-2.0-or-later
// Running numbered jobs on threads of this process: for short, thread-safe work (a look at a
// few files) that a worker process would cost more to start than to do.
#pragma once
#include <cstddef>
#include <functional>

// Calls job(i) for every i below count on at most threads threads, the calling one among them;
// job must be safe to run on several threads at once. stop, when given, is asked on the calling
// thread only, between its jobs; once true no more jobs start. Returns when every job started
// has ended.
void RunJobsInThreads(std::size_t count, int threads, const std::function<void(std::size_t)>& job,
                      const std::function<bool()>& stop = {});
