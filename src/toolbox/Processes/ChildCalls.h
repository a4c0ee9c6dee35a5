// SPDX-License-Identifier: GPL-2.0-or-later
// Calling a function in a child process under memory and time limits, for work on hostile bytes
// by a library that may crash or hang: the child's death is this process's answer, not its end.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct ChildCallLimits {
  // Address space the child may map beyond what it inherits from this process.
  std::uint64_t extraAddressSpace = std::uint64_t(2) << 30;
  // Wall-clock time before the child is killed.
  int milliseconds = 20000;
};

// How the call came back.
struct ChildCallResult {
  enum class Ending {
    answered,    // bytes hold what the function returned
    crashed,     // the child died by a signal (signalWords says which) or ended without answering
    timedOut,    // killed when its time was up
    notStarted,  // no child could be made
  };
  Ending ending = Ending::notStarted;
  std::vector<std::uint8_t> bytes;
  std::string signalWords;  // "Segmentation fault" ...
};

// An answer in two parts, sent as one: a short head, then a body that is written from where it
// lies rather than copied behind the head (a picture of megabytes).
struct ChildAnswer {
  std::string head;
  std::vector<std::uint8_t> body;
};

// Runs call() in a copy of this process and hands back the bytes it returns. The child runs no
// exit handlers and no inherited crash handler; it is always reaped before this returns, and
// ends with this process. An answer longer than maxAnswer counts as no answer.
ChildCallResult CallInChildProcess(const std::function<std::string()>& call, const ChildCallLimits& limits,
                                   std::uint64_t maxAnswer);
// The same for a two-part answer, which comes back whole in bytes. bytes is read straight into
// one block, reserved at the answer's length and spare bytes beyond it (a caller may grow the
// answer in place) and filled only as the bytes come.
ChildCallResult CallInChildProcess(const std::function<ChildAnswer()>& call, const ChildCallLimits& limits,
                                   std::uint64_t maxAnswer, std::size_t spare = 0);
