// SPDX-License-Identifier: GPL-2.0-or-later
// Conversions in worker processes: each result travels as a flat record of its fields; a
// worker that dies becomes a failed photograph in words.
#include "cli/ParallelConversions.h"

#include <cstdint>
#include <cstring>

#include "toolbox/Processes/WorkerProcesses.h"

namespace cli {
namespace {

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

}  // namespace

std::string encodeResult(const PhotoResult& r) {
  std::string out;
  put(&out, std::int32_t(r.outcome));
  put(&out, r.seconds);
  put(&out, std::uint8_t(r.refusedExisting));
  put(&out, r.audioBlocks);
  put(&out, r.recordingBytes);
  putText(&out, r.movie);
  putText(&out, r.problem);
  putText(&out, r.soundSource);
  putText(&out, r.soundFile);
  putText(&out, r.code);
  return out;
}

bool decodeResult(const std::string& bytes, PhotoResult* r) {
  Reader in{bytes};
  std::int32_t outcome = 0;
  std::uint8_t refused = 0;
  if (!in.get(&outcome) || !in.get(&r->seconds) || !in.get(&refused) ||
      !in.get(&r->audioBlocks) || !in.get(&r->recordingBytes) || !in.getText(&r->movie) ||
      !in.getText(&r->problem) || !in.getText(&r->soundSource) || !in.getText(&r->soundFile) ||
      !in.getText(&r->code) || in.at != bytes.size())
    return false;
  if (outcome < int(ConversionOutcome::converted) || outcome > int(ConversionOutcome::upToDate)) return false;
  r->outcome = ConversionOutcome(outcome);
  r->refusedExisting = refused != 0;
  return true;
}

void convertInWorkers(std::size_t count, int workers, const std::function<PhotoResult(std::size_t)>& convert,
                      const std::function<void(std::size_t)>& onStart,
                      const std::function<void(std::size_t, const PhotoResult&)>& onDone,
                      const std::function<bool()>& stop) {
  RunJobsInWorkers(
      count, workers, [&](std::size_t i) { return encodeResult(convert(i)); }, onStart,
      [&](std::size_t i, const WorkerJobResult& answer) {
        PhotoResult result;
        if (answer.ending == WorkerJobResult::Ending::answered && decodeResult(answer.bytes, &result))
          return onDone(i, result);
        result = PhotoResult{};
        result.code = "stopped";
        switch (answer.ending) {
          case WorkerJobResult::Ending::killed: result.problem = "the conversion stopped: " + answer.signalWords; break;
          case WorkerJobResult::Ending::exited: result.problem = "the conversion stopped before it reported"; break;
          default: result.problem = "the worker process was lost"; break;
        }
        onDone(i, result);
      },
      stop);
}

}  // namespace cli
