// SPDX-License-Identifier: GPL-2.0-or-later
// Calling a function in a child process under memory and time limits, for work on hostile bytes
// by a library that may crash or hang: the child's death is this process's answer, not its end.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

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
  std::string bytes;
  std::string signalWords;  // "Segmentation fault" ...
};

// Runs call() in a copy of this process and hands back the bytes it returns. The child runs no
// exit handlers and no inherited crash handler; it is always reaped before this returns, and
// ends with this process. An answer longer than maxAnswer counts as no answer.
ChildCallResult CallInChildProcess(const std::function<std::string()>& call, const ChildCallLimits& limits,
                                   std::uint64_t maxAnswer);
