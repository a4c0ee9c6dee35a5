// SPDX-License-Identifier: GPL-2.0-or-later
// Jobs in worker processes - every job comes back exactly once however its worker ends, large
// answers come through whole, answers arrive as jobs finish, nothing buffered is written twice -
// and handing this process over to a program beside it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <atomic>
#include <cstring>
#include <thread>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Processes/ProgramImage.h"
#include "toolbox/Processes/ThreadedJobs.h"
#include "toolbox/Processes/WorkerProcesses.h"

using testsupport::ScratchDir;
using Ending = WorkerJobResult::Ending;

namespace {

struct JobsRun {
  std::vector<std::size_t> started, done;
  std::map<std::size_t, WorkerJobResult> results;
};

JobsRun runJobs(std::size_t count, int workers, const std::function<std::string(std::size_t)>& job) {
  JobsRun run;
  RunJobsInWorkers(
      count, workers, job, [&](std::size_t i) { run.started.push_back(i); },
      [&](std::size_t i, const WorkerJobResult& r) {
        run.done.push_back(i);
        run.results[i] = r;
      });
  return run;
}

}  // namespace

TEST(WorkerProcesses, AWorkerThatDiesTakesOnlyItsJobWithIt) {
  const pid_t parent = getpid();
  JobsRun run = runJobs(8, 3, [parent](std::size_t i) -> std::string {
    if (getpid() != parent && i == 1) raise(SIGKILL);
    if (getpid() != parent && i == 4) _exit(3);
    return "job " + std::to_string(i);
  });
  ASSERT_EQ(run.results.size(), 8u);
  EXPECT_EQ(run.done.size(), 8u);  // each once
  EXPECT_EQ(run.started.size(), 8u);
  EXPECT_EQ(run.results[1].ending, Ending::killed);
  EXPECT_EQ(run.results[1].signalWords, strsignal(SIGKILL));
  EXPECT_EQ(run.results[4].ending, Ending::exited);
  for (std::size_t i : {0, 2, 3, 5, 6, 7}) {
    EXPECT_EQ(run.results[i].ending, Ending::answered) << i;
    EXPECT_EQ(run.results[i].bytes, "job " + std::to_string(i));
  }

  // When every worker is gone, what is left runs here.
  run = runJobs(5, 2, [parent](std::size_t i) -> std::string {
    if (getpid() != parent) raise(SIGTERM);
    return "here " + std::to_string(i);
  });
  ASSERT_EQ(run.results.size(), 5u);
  EXPECT_EQ(run.done.size(), 5u);
  EXPECT_EQ(run.results[0].ending, Ending::killed);
  EXPECT_EQ(run.results[1].ending, Ending::killed);
  EXPECT_EQ(run.results[0].signalWords, strsignal(SIGTERM));
  for (std::size_t i : {2, 3, 4}) EXPECT_EQ(run.results[i].bytes, "here " + std::to_string(i));
}

// A worker knows it is one (its siblings have the processors); this process, and jobs that run
// in it, do not.
TEST(WorkerProcesses, AWorkerKnowsItIsOne) {
  const pid_t parent = getpid();
  auto where = [parent](std::size_t) -> std::string {
    return std::string(getpid() != parent ? "worker " : "here ") + (IsWorkerProcess() ? "says worker" : "says not");
  };
  JobsRun run = runJobs(4, 2, where);
  for (const auto& [i, r] : run.results) EXPECT_EQ(r.bytes, "worker says worker") << i;
  run = runJobs(4, 1, where);
  for (const auto& [i, r] : run.results) EXPECT_EQ(r.bytes, "here says not") << i;
  EXPECT_FALSE(IsWorkerProcess());
}

TEST(WorkerProcesses, AnswersComeWholeAndAsTheJobsFinish) {
  // Far larger than a socket's buffer, each its own pattern.
  auto big = [](std::size_t i) {
    std::string bytes(std::size_t(9) << 20, '\0');
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = char((k * 31 + i * 7) & 0xFF);
    return bytes;
  };
  JobsRun run = runJobs(4, 2, big);
  ASSERT_EQ(run.results.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(run.results[i].ending, Ending::answered);
    EXPECT_TRUE(run.results[i].bytes == big(i)) << i;
  }

  // A slow first job does not hold back the others' answers.
  run = runJobs(3, 2, [](std::size_t i) {
    if (i == 0) usleep(400000);
    return std::to_string(i);
  });
  ASSERT_EQ(run.done.size(), 3u);
  EXPECT_EQ(run.done.back(), 0u);
  EXPECT_EQ(run.started, (std::vector<std::size_t>{0, 1, 2}));

  // One worker, or one job: all in this process.
  const pid_t parent = getpid();
  for (auto [count, workers] : {std::pair<std::size_t, int>{3, 1}, {1, 4}, {0, 4}}) {
    run = runJobs(count, workers, [parent](std::size_t) { return getpid() == parent ? "here" : "away"; });
    EXPECT_EQ(run.done.size(), count);
    for (auto& [i, r] : run.results) EXPECT_EQ(r.bytes, "here");
  }
}

TEST(WorkerProcesses, WhatIsBufferedIsWrittenOnce) {
  ScratchDir dir;
  std::FILE* log = std::fopen(dir.file("log").c_str(), "a");
  ASSERT_NE(log, nullptr);
  std::fputs("before\n", log);  // still in the buffer
  runJobs(3, 3, [log](std::size_t i) {
    std::fprintf(log, "job %zu\n", i);
    std::fflush(log);
    return std::string();
  });
  std::fclose(log);
  const std::string text = testsupport::readFile(dir.file("log"));
  EXPECT_EQ(text.find("before\n"), 0u) << text;
  EXPECT_EQ(text.find("before\n", 1), std::string::npos) << text;
  EXPECT_EQ(text.size(), std::string("before\njob 0\njob 1\njob 2\n").size()) << text;
}

TEST(ProgramImage, AProgramBesideThisOneOrWhyNot) {
  ScratchDir dir;
  const std::string unrunnable = dir.file("not-a-program");
  testsupport::writeFile(unrunnable, "#!/bin/sh\nexit 0\n");
  ASSERT_EQ(chmod(unrunnable.c_str(), 0644), 0);
  char name[] = "still2mov";
  char version[] = "--version";
  char* argv[] = {name, version, nullptr};

  std::string reason;
  EXPECT_EQ(ExecProgramBesideThisOne({"no-such-program", dir.file("missing/too")}, argv, &reason), fnfErr);
  EXPECT_EQ(reason, "No such file or directory");
  // One that is there but will not run says more than one that is missing, wherever it stands.
  for (const std::vector<std::string>& places : {std::vector<std::string>{"no-such-program", unrunnable},
                                                 std::vector<std::string>{unrunnable, "no-such-program"}}) {
    EXPECT_EQ(ExecProgramBesideThisOne(places, argv, &reason), permErr);
    EXPECT_EQ(reason, "Permission denied");
  }

  // The first that runs replaces the process: the program built beside this test, found by a
  // relative place, answers --version.
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    ExecProgramBesideThisOne({"no-such-program", "still2mov"}, argv, nullptr);
    _exit(99);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Every job runs once whatever the thread count, on more than one thread when asked; a stop
// asked between jobs starts no more, and what started ends before the call returns.
TEST(ThreadedJobs, EachJobOnceAndAStopStartsNoMore) {
  for (int threads : {0, 1, 3, 64}) {
    for (std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(500)}) {
      std::vector<std::atomic<int>> runs(count);
      std::mutex lock;
      std::set<std::thread::id> seen;
      RunJobsInThreads(count, threads, [&](std::size_t i) {
        ++runs[i];
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        std::lock_guard<std::mutex> hold(lock);
        seen.insert(std::this_thread::get_id());
      });
      for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << threads << " threads, job " << i;
      if (threads > 1 && count == 500) {
        EXPECT_GT(seen.size(), 1u) << threads << " threads";
      }
      if (threads <= 1) {
        EXPECT_LE(seen.size(), 1u);
      }
    }
  }
  std::atomic<int> started{0}, ended{0};
  RunJobsInThreads(
      100000, 4,
      [&](std::size_t) {
        ++started;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
        ++ended;
      },
      [&] { return started.load() >= 20; });
  EXPECT_GE(started.load(), 20);
  EXPECT_LT(started.load(), 100000);
  EXPECT_EQ(ended.load(), started.load());
}
