// SPDX-License-Identifier: GPL-2.0-or-later
// Calls in a child process: every way a child can end comes back as its ending, the child is
// always reaped, and the limits hold.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/AddressSpace.h"
#include "toolbox/Processes/ChildCalls.h"

namespace {

using Ending = ChildCallResult::Ending;

bool noChildLeft() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// A two-part answer comes back as one, head first, within the bound on the whole, in a block
// with the spare room asked for.
TEST(ChildCalls, TwoPartAnswersComeBackWhole) {
  const std::vector<std::uint8_t> megabyte(1 << 20, 'b');
  const struct {
    const char* name;
    std::string head;
    std::vector<std::uint8_t> body;
    std::uint64_t maxAnswer;
    Ending ending;
  } rows[] = {
      {"a head alone", "head", {}, 16, Ending::answered},
      {"a body alone, past what a pipe holds", "", megabyte, 1 << 20, Ending::answered},
      {"both, exactly at the bound", std::string(1000, 'h'), megabyte, 1000 + (1 << 20), Ending::answered},
      {"both, a byte past the bound", std::string(1000, 'h'), megabyte, 999 + (1 << 20), Ending::crashed},
      {"nothing at all", "", {}, 0, Ending::answered},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::size_t spare = 70000;
    const ChildCallResult r = CallInChildProcess([&] { return ChildAnswer{row.head, row.body}; }, {}, row.maxAnswer,
                                                 spare);
    EXPECT_EQ(int(r.ending), int(row.ending));
    std::string expected;
    if (row.ending == Ending::answered) expected = row.head + std::string(row.body.begin(), row.body.end());
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), expected);
    if (row.ending == Ending::answered) {
      EXPECT_GE(r.bytes.capacity(), r.bytes.size() + spare);
    }
    EXPECT_TRUE(noChildLeft());
  }
}

TEST(ChildCalls, EveryEndingIsReportedAndReaped) {
  const struct {
    const char* name;
    std::function<std::string()> call;
    Ending ending;
    std::string bytes;
  } rows[] = {
      {"answers, a megabyte past what a pipe holds", [] { return std::string(1 << 20, 'x'); }, Ending::answered,
       std::string(1 << 20, 'x')},
      {"answers nothing", [] { return std::string(); }, Ending::answered, ""},
      {"crashes", [] { raise(SIGSEGV); return std::string("never"); }, Ending::crashed, ""},
      {"aborts", []() -> std::string { std::abort(); }, Ending::crashed, ""},
      {"exits without answering", []() -> std::string { _exit(0); }, Ending::crashed, ""},
      {"throws", []() -> std::string { throw 1; }, Ending::crashed, ""},
      {"hangs", [] { std::this_thread::sleep_for(std::chrono::seconds(30)); return std::string("late"); },
       Ending::timedOut, ""},
      // Four gigabytes past the bound: refused to the child, which says so.
      {"allocates past its bound",
       [] {
         try {
           std::vector<char> v(std::size_t(4) << 30, 1);
           return std::string("allocated");
         } catch (const std::bad_alloc&) {
           return std::string("refused");
         }
       },
#if defined(STILL2MOV_UNDER_ADDRESS_SANITIZER)
       // AddressSanitizer's allocator ends the child rather than throw: the bound holds either way.
       Ending::crashed, ""},
#else
       Ending::answered, "refused"},
#endif
      {"answers more than it may", [] { return std::string(70000, 'y'); }, Ending::crashed, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto started = std::chrono::steady_clock::now();
    // A bound of 2 MB on answers, 65536 bytes for the one that says too much.
    const std::uint64_t maxAnswer = std::string(row.name).starts_with("answers more") ? 65536 : 2 << 20;
    const ChildCallResult r =
        CallInChildProcess(row.call, {.extraAddressSpace = std::uint64_t(1) << 30, .milliseconds = 1000}, maxAnswer);
    EXPECT_EQ(int(r.ending), int(row.ending));
    EXPECT_EQ(std::string(r.bytes.begin(), r.bytes.end()), row.bytes);
    EXPECT_TRUE(noChildLeft());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  }
}

TEST(ChildCalls, ACrashIsNamedAndTheCallerGoesOn) {
  const ChildCallResult r = CallInChildProcess([] { raise(SIGSEGV); return std::string(); }, {}, 16);
  EXPECT_EQ(int(r.ending), int(Ending::crashed));
  EXPECT_EQ(r.signalWords, "Segmentation fault");
  // The caller's own state is untouched by what the child did.
  int here = 1;
  const ChildCallResult s = CallInChildProcess([&] { here = 2; return std::to_string(here); }, {}, 16);
  EXPECT_EQ(std::string(s.bytes.begin(), s.bytes.end()), "2");
  EXPECT_EQ(here, 1);
}

}  // namespace
