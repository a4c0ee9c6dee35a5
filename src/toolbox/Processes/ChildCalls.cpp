// SPDX-License-Identifier: GPL-2.0-or-later
// Child calls over a pipe: the child writes an 8-byte length and the bytes; this process reads
// them as they come (a pipe holds less than an answer) until the deadline, then kills and reaps.
#include "toolbox/Processes/ChildCalls.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// What one read of an answer takes at most: the pipe's size.
constexpr std::size_t kReadStep = std::size_t(1) << 20;

bool writeAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

// A large block goes by reference to its pages (the child ends without touching them again, and
// the pipe keeps them until they are read), saving the copy into the pipe; write where that fails.
bool spliceAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    iovec v{const_cast<char*>(p), size};
    const ssize_t n = vmsplice(fd, &v, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return writeAll(fd, p, size);
    p += n;
    size -= std::size_t(n);
  }
  return true;
}

// What this process maps now, from /proc/self/statm (pages); 0 when it cannot be told.
std::uint64_t mappedBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "re");
  if (f == nullptr) return 0;
  unsigned long long pages = 0;
  const bool read = std::fscanf(f, "%llu", &pages) == 1;
  std::fclose(f);
  return read ? pages * std::uint64_t(sysconf(_SC_PAGESIZE)) : 0;
}

[[noreturn]] void runChild(int fd, pid_t parent, const std::function<ChildAnswer()>& call,
                           const ChildCallLimits& limits, std::uint64_t mapped) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  // A crash is the child's death alone: no handler of this process's (nor a sanitizer's)
  // reports it as this process's own; a stop request ends the child at once.
  for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS, SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    signal(s, SIG_DFL);
  // The limit counts from what is mapped already: a sanitizer's shadow is terabytes of it.
  if (mapped > 0) {
    const rlim_t limit = rlim_t(mapped + limits.extraAddressSpace);
    const rlimit r{limit, limit};
    if (setrlimit(RLIMIT_AS, &r) != 0) _exit(126);
  }
  ChildAnswer answer;
  try {
    answer = call();
  } catch (...) {
    _exit(125);
  }
  const std::uint64_t size = answer.head.size() + answer.body.size();
  const bool sent = writeAll(fd, &size, sizeof size) && writeAll(fd, answer.head.data(), answer.head.size()) &&
                    spliceAll(fd, answer.body.data(), answer.body.size());
  // No exit handlers: they belong to the process this one was copied from.
  _exit(sent ? 0 : 124);
}

}  // namespace

ChildCallResult CallInChildProcess(const std::function<std::string()>& call, const ChildCallLimits& limits,
                                   std::uint64_t maxAnswer) {
  return CallInChildProcess([&] { return ChildAnswer{call(), {}}; }, limits, maxAnswer);
}

ChildCallResult CallInChildProcess(const std::function<ChildAnswer()>& call, const ChildCallLimits& limits,
                                   std::uint64_t maxAnswer, std::size_t spare) {
  ChildCallResult result;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  const std::uint64_t mapped = mappedBytes();
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return result;
  }
  if (pid == 0) {
    close(pipeFds[0]);
    runChild(pipeFds[1], parent, call, limits, mapped);
  }
  close(pipeFds[1]);
  // Fewer, larger hand-overs of a picture of megabytes; the default stands where it is refused.
  fcntl(pipeFds[0], F_SETPIPE_SZ, int(kReadStep));

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits.milliseconds);
  // The length comes first; the answer is then read into its own block, which is allocated once
  // the length is known to be within the bound.
  std::uint64_t size = 0;
  std::size_t got = 0;
  bool timedOut = false, tooLong = false, sized = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{pipeFds[0], POLLIN, 0};
    const int ready = poll(&p, 1, int(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) continue;  // the deadline is checked above
    // The block grows, within what was reserved, only by what has come: a length that the bytes
    // do not follow costs no memory. Once the answer is whole, one byte more is asked for: more
    // than the length said is no answer.
    char extra = 0;
    char* into = reinterpret_cast<char*>(&size) + got;
    std::size_t want = sizeof size - got;
    if (sized && got < size) {
      want = std::size_t(std::min<std::uint64_t>(size - got, kReadStep));
      result.bytes.resize(got + want);
      into = reinterpret_cast<char*>(result.bytes.data()) + got;
    } else if (sized) {
      into = &extra;
      want = 1;
    }
    const ssize_t n = read(pipeFds[0], into, want);
    if (sized && got < size) result.bytes.resize(got + std::size_t(std::max<ssize_t>(n, 0)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the child closed its end: answered, or died
    got += std::size_t(n);
    if (!sized && got == sizeof size) {
      if (size > maxAnswer) {
        tooLong = true;
        break;
      }
      try {
        result.bytes.reserve(std::size_t(size) + spare);
      } catch (const std::bad_alloc&) {
        tooLong = true;
        break;
      }
      sized = true;
      got = 0;
    } else if (sized && got > size) {
      tooLong = true;
      break;
    }
  }
  close(pipeFds[0]);
  if (timedOut || tooLong) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    result.bytes = {};
    result.ending = ChildCallResult::Ending::timedOut;
    return result;
  }
  result.ending = ChildCallResult::Ending::crashed;
  if (WIFSIGNALED(status)) {
    result.bytes = {};
    result.signalWords = strsignal(WTERMSIG(status));
    return result;
  }
  if (tooLong || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !sized || got != size) {
    result.bytes = {};
    return result;
  }
  result.ending = ChildCallResult::Ending::answered;
  return result;
}
