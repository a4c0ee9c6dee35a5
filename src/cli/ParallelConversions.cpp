// Worker processes over socket pairs: this process sends a photograph's index (4 bytes), the
// worker answers with a length-prefixed result; a shut-down socket tells a worker to finish.
#include "cli/ParallelConversions.h"

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace cli {
namespace {

constexpr std::uint32_t kMaxMessage = 1u << 20;

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

template <typename T>
void put(std::string* out, const T& v) {
  out->append(reinterpret_cast<const char*>(&v), sizeof v);
}

void putText(std::string* out, const std::string& s) {
  put(out, std::uint32_t(s.size()));
  out->append(s);
}

struct Reader {
  const std::string& bytes;
  std::size_t at = 0;
  template <typename T>
  bool get(T* v) {
    if (bytes.size() - at < sizeof *v) return false;
    std::memcpy(v, bytes.data() + at, sizeof *v);
    at += sizeof *v;
    return true;
  }
  bool getText(std::string* s) {
    std::uint32_t n = 0;
    if (!get(&n) || bytes.size() - at < n) return false;
    s->assign(bytes, at, n);
    at += n;
    return true;
  }
};

[[noreturn]] void serve(int fd, const std::function<PhotoResult(std::size_t)>& convert) {
  std::uint32_t index = 0;
  while (receiveAll(fd, &index, sizeof index)) {
    const std::string body = encodeResult(convert(index));
    std::uint32_t size = std::uint32_t(body.size());
    if (!sendAll(fd, &size, sizeof size) || !sendAll(fd, body.data(), body.size())) break;
  }
  // No exit handlers: they belong to the process this one was copied from.
  _exit(0);
}

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  bool busy = false;
  std::size_t index = 0;
};

std::string howItEnded(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return "the worker process was lost";
  if (WIFSIGNALED(status)) return std::string("the conversion stopped: ") + strsignal(WTERMSIG(status));
  return "the conversion stopped before it reported";
}

}  // namespace

int processorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? int(n) : 1;
}

std::string encodeResult(const PhotoResult& r) {
  std::string out;
  put(&out, std::int32_t(r.outcome));
  put(&out, r.seconds);
  put(&out, r.code);
  put(&out, std::uint8_t(r.refusedExisting));
  put(&out, r.audioBlocks);
  put(&out, r.recordingBytes);
  putText(&out, r.movie);
  putText(&out, r.problem);
  putText(&out, r.soundSource);
  putText(&out, r.soundFile);
  return out;
}

bool decodeResult(const std::string& bytes, PhotoResult* r) {
  Reader in{bytes};
  std::int32_t outcome = 0;
  std::uint8_t refused = 0;
  if (!in.get(&outcome) || !in.get(&r->seconds) || !in.get(&r->code) || !in.get(&refused) ||
      !in.get(&r->audioBlocks) || !in.get(&r->recordingBytes) || !in.getText(&r->movie) ||
      !in.getText(&r->problem) || !in.getText(&r->soundSource) || !in.getText(&r->soundFile) || in.at != bytes.size())
    return false;
  if (outcome < int(ConversionOutcome::converted) || outcome > int(ConversionOutcome::failed)) return false;
  r->outcome = ConversionOutcome(outcome);
  r->refusedExisting = refused != 0;
  return true;
}

void convertInWorkers(std::size_t count, int workers, const std::function<PhotoResult(std::size_t)>& convert,
                      const std::function<void(std::size_t)>& onStart,
                      const std::function<void(std::size_t, const PhotoResult&)>& onDone) {
  if (workers > int(count)) workers = int(count);
  std::vector<Worker> pool;
  // Whatever is buffered must not be written again by the copies.
  std::fflush(nullptr);
  for (int k = 0; k < workers && workers > 1; ++k) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) break;
    const pid_t pid = fork();
    if (pid < 0) {
      close(pair[0]);
      close(pair[1]);
      break;
    }
    if (pid == 0) {
      close(pair[0]);
      for (const Worker& w : pool) close(w.fd);
      serve(pair[1], convert);
    }
    close(pair[1]);
    pool.push_back({pid, pair[0]});
  }

  std::size_t next = 0;
  if (pool.empty()) {
    for (; next < count; ++next) {
      onStart(next);
      onDone(next, convert(next));
    }
    return;
  }

  // Hands the next photograph to w, or tells it to finish; false when w is gone.
  auto handOut = [&](Worker& w) {
    if (next >= count) {
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
  auto retire = [](Worker& w) {
    close(w.fd);
    w.fd = -1;
    w.busy = false;
  };
  for (Worker& w : pool)
    if (!handOut(w)) retire(w);

  for (;;) {
    std::vector<pollfd> waiting;
    std::vector<Worker*> owners;
    for (Worker& w : pool)
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
      std::uint32_t size = 0;
      std::string body;
      PhotoResult result;
      bool ok = receiveAll(w.fd, &size, sizeof size) && size <= kMaxMessage;
      if (ok) {
        body.resize(size);
        ok = receiveAll(w.fd, body.data(), size) && decodeResult(body, &result);
      }
      if (!ok) {
        const std::size_t lost = w.index;
        retire(w);
        result = PhotoResult{};
        result.code = -1;
        result.problem = howItEnded(w.pid);
        w.pid = -1;
        onDone(lost, result);
        continue;
      }
      onDone(w.index, result);
      if (!handOut(w)) retire(w);
    }
    // Photographs left when every worker is gone are converted here.
    bool anyAlive = false;
    for (const Worker& w : pool) anyAlive = anyAlive || w.busy;
    if (!anyAlive)
      for (; next < count; ++next) {
        onStart(next);
        onDone(next, convert(next));
      }
  }
  for (Worker& w : pool) {
    if (w.fd >= 0) close(w.fd);
    if (w.pid > 0) waitpid(w.pid, nullptr, 0);
  }
}

}  // namespace cli
