// SPDX-License-Identifier: GPL-2.0-or-later
// Worker processes over socket pairs: this process sends a job's index (4 bytes), the worker
// answers with a length-prefixed result; a shut-down socket tells a worker to finish.
#include "toolbox/Processes/WorkerProcesses.h"

#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "toolbox/Files/TemporaryItems.h"

namespace {

// An answer longer than this is no answer a job gives; the worker is stopped rather than read.
constexpr std::uint64_t kMaxAnswer = std::uint64_t(1) << 30;

bool sendAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

// False at the end of the stream or on an error, before size bytes arrived.
bool receiveAll(int fd, void* data, std::size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

[[noreturn]] void serve(int fd, const std::function<std::string(std::size_t)>& job) {
  std::uint32_t index = 0;
  while (receiveAll(fd, &index, sizeof index)) {
    const std::string body = job(index);
    const std::uint64_t size = body.size();
    if (!sendAll(fd, &size, sizeof size) || !sendAll(fd, body.data(), body.size())) break;
  }
  // No exit handlers: they belong to the process this one was copied from.
  FSReleaseTemporaryItemsFolder();
  _exit(0);
}

bool gWorker = false;  // set in each worker as it starts

struct Worker {
  pid_t pid = -1;
  int fd = -1;  // -1 once the worker is retired
  bool busy = false;
  std::size_t index = 0;
};

// The workers, closed and waited for however the run ends.
class Pool {
 public:
  Pool(int count, const std::function<std::string(std::size_t)>& job) {
    // Whatever is buffered must not be written again by the copies.
    std::fflush(nullptr);
    const pid_t parent = getpid();
    for (int k = 0; k < count; ++k) {
      int pair[2];
      if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) break;
      const pid_t pid = fork();
      if (pid < 0) {
        close(pair[0]);
        close(pair[1]);
        break;
      }
      if (pid == 0) {
        gWorker = true;
        // A worker ends with this process, however it ends: SIGTERM removes its working files.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(0);
        close(pair[0]);
        // A worker holds no other worker's socket, so each sees only its own end.
        for (const Worker& w : workers_) close(w.fd);
        serve(pair[1], job);
      }
      close(pair[1]);
      workers_.push_back({pid, pair[0]});
    }
  }
  ~Pool() {
    for (Worker& w : workers_) {
      if (w.fd >= 0) close(w.fd);
      if (w.pid > 0) waitpid(w.pid, nullptr, 0);
    }
  }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  std::vector<Worker>& workers() { return workers_; }

 private:
  std::vector<Worker> workers_;
};

// How a worker that gave no answer ended; it is reaped here.
WorkerJobResult endingOf(Worker& w) {
  WorkerJobResult result;
  int status = 0;
  const pid_t pid = w.pid;
  w.pid = -1;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return result;
  if (WIFSIGNALED(status)) {
    result.ending = WorkerJobResult::Ending::killed;
    result.signalWords = strsignal(WTERMSIG(status));
  } else {
    result.ending = WorkerJobResult::Ending::exited;
  }
  return result;
}

void retire(Worker& w) {
  close(w.fd);
  w.fd = -1;
  w.busy = false;
}

}  // namespace

bool IsWorkerProcess() { return gWorker; }

int AvailableProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? int(n) : 1;
}

void RunJobsInWorkers(std::size_t count, int workers, const std::function<std::string(std::size_t)>& job,
                      const std::function<void(std::size_t)>& onStart,
                      const std::function<void(std::size_t, const WorkerJobResult&)>& onDone,
                      const std::function<bool()>& stop) {
  std::size_t next = 0;
  auto stopped = [&] { return stop && stop(); };
  auto runHere = [&] {
    for (; next < count && !stopped(); ++next) {
      onStart(next);
      WorkerJobResult result;
      result.ending = WorkerJobResult::Ending::answered;
      result.bytes = job(next);
      onDone(next, result);
    }
  };
  if (workers > int(count)) workers = int(count);
  if (workers <= 1) return runHere();
  Pool pool(workers, job);
  if (pool.workers().empty()) return runHere();

  // Hands the next job to w, or tells it to finish; false when w is gone.
  auto handOut = [&](Worker& w) {
    if (next >= count || stopped()) {
      shutdown(w.fd, SHUT_WR);
      w.busy = false;
      return true;
    }
    const std::uint32_t index = std::uint32_t(next);
    if (!sendAll(w.fd, &index, sizeof index)) return false;
    w.busy = true;
    w.index = next++;
    onStart(w.index);
    return true;
  };
  for (Worker& w : pool.workers())
    if (!handOut(w)) retire(w);

  for (;;) {
    std::vector<pollfd> waiting;
    std::vector<Worker*> owners;
    for (Worker& w : pool.workers())
      if (w.busy) {
        waiting.push_back({w.fd, POLLIN, 0});
        owners.push_back(&w);
      }
    if (waiting.empty()) break;
    if (poll(waiting.data(), waiting.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t k = 0; k < waiting.size(); ++k) {
      if (waiting[k].revents == 0) continue;
      Worker& w = *owners[k];
      std::uint64_t size = 0;
      WorkerJobResult result;
      bool ok = receiveAll(w.fd, &size, sizeof size);
      if (ok && size > kMaxAnswer) {
        // Its stream cannot be followed past an answer left unread.
        kill(w.pid, SIGKILL);
        ok = false;
      }
      if (ok) {
        result.bytes.resize(size);
        ok = receiveAll(w.fd, result.bytes.data(), size);
      }
      if (!ok) {
        retire(w);
        onDone(w.index, endingOf(w));
        continue;
      }
      result.ending = WorkerJobResult::Ending::answered;
      onDone(w.index, result);
      if (!handOut(w)) retire(w);
    }
    // Jobs left when every worker is gone run here.
    bool anyAlive = false;
    for (const Worker& w : pool.workers()) anyAlive = anyAlive || w.busy;
    if (!anyAlive) runHere();
  }
}
