// SPDX-License-Identifier: GPL-2.0-or-later
// Running numbered jobs in worker processes: for work whose process-wide state may not be shared
// between threads, each worker is a copy of this process that runs jobs one at a time.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

// The processors this process may run on (at least 1).
int AvailableProcessorCount();

// Whether this process is one of the workers RunJobsInWorkers started: its siblings keep the
// processors busy, so work it would spread over threads of its own is better done in line.
bool IsWorkerProcess();

// How one job came back.
struct WorkerJobResult {
  enum class Ending {
    answered,  // bytes hold what the job returned
    killed,    // its worker was killed by a signal; signalWords says which
    exited,    // its worker ended without answering
    lost,      // its worker vanished or its answer could not be read
  };
  Ending ending = Ending::lost;
  std::string bytes;
  std::string signalWords;  // "Segmentation fault", "Killed" ...
};

// Calls job(i) for every i below count in at most workers child processes at once; in this
// process when workers <= 1, count <= 1 or no worker can be started. onStart(i) when job i is
// handed out and onDone(i, result) when it is back run in this process, one at a time, in the
// order the jobs finish. A worker that dies takes only its current job with it (reported by
// how it ended); jobs left when every worker is gone run in this process. Buffered output is
// flushed before the copies are made; a worker never runs this process's exit handlers.
// stop, when given and true, hands out no more jobs: those under way finish and are reported.
void RunJobsInWorkers(std::size_t count, int workers, const std::function<std::string(std::size_t)>& job,
                      const std::function<void(std::size_t)>& onStart,
                      const std::function<void(std::size_t, const WorkerJobResult&)>& onDone,
                      const std::function<bool()>& stop = {});
