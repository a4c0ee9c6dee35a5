// SPDX-License-Identifier: GPL-2.0-or-later
// Bursts of camera events from parallel senders, timed against the application's start-up and
// against the moment its quit timer fires: every photograph a sender handed over gets its movie.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PrivateBus.h"

namespace {

using apptest::Child;
using apptest::exists;
using Clock = std::chrono::steady_clock;

constexpr int kSenders = 4;
constexpr int kPhotosPerSender = 10;

// Big enough that a burst of conversions outlasts the quit delay of its own.
const std::string& burstPhoto() {
  static const std::string photo =
      fixtures::embedWave(fixtures::makeJpeg({.width = 1280, .height = 960}),
                          fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 2.0}));
  return photo;
}

std::map<std::string, std::string> senderEnv(const apptest::PrivateBus* bus) {
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  return env;
}

// Starts one application and returns when its first request has been served: its quit timer
// runs from about then.
Clock::time_point startApplication(const apptest::PrivateBus* bus, const std::string& round) {
  const std::string photo = bus->env().photos(round + "-starter.jpg");
  testsupport::writeFile(photo, burstPhoto());
  Child starter({"send", photo}, senderEnv(bus));
  EXPECT_EQ(starter.wait(60), 0) << starter.err();
  return Clock::now();
}

// kSenders processes at once, each sending its own kPhotosPerSender photographs; returns the
// photographs' movie paths after checking that every sender reported success.
std::vector<std::string> burst(const apptest::PrivateBus* bus, const std::string& round, bool noReply) {
  std::vector<std::string> movies;
  std::vector<std::vector<std::string>> argsOf(kSenders);
  for (int s = 0; s < kSenders; ++s) {
    argsOf[s] = {"send"};
    if (noReply) argsOf[s].push_back("--no-reply");
    for (int k = 0; k < kPhotosPerSender; ++k) {
      const std::string name = round + "-" + std::to_string(s) + "-" + std::to_string(k);
      testsupport::writeFile(bus->env().photos(name + ".jpg"), burstPhoto());
      argsOf[s].push_back(bus->env().photos(name + ".jpg"));
      movies.push_back(bus->env().photos(name + ".mov"));
    }
  }
  std::vector<std::unique_ptr<Child>> senders;
  for (int s = 0; s < kSenders; ++s) senders.push_back(std::make_unique<Child>(argsOf[s], senderEnv(bus)));
  for (auto& sender : senders) EXPECT_EQ(sender->wait(120), 0) << round << ": " << sender->err();
  return movies;
}

int countExisting(const std::vector<std::string>& paths) {
  int n = 0;
  for (const std::string& p : paths) n += exists(p) ? 1 : 0;
  return n;
}

// A sender that waits for the reply has its movie by the time the reply comes; one that does
// not gets it once the application has worked through its queue.
void expectAllMovies(const std::vector<std::string>& movies, const std::string& round, bool noReply) {
  if (noReply) {
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (countExisting(movies) < int(movies.size()) && Clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(countExisting(movies), int(movies.size())) << round << ": movies lost";
}

void runRounds(bool noReply) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string mode = noReply ? "quiet" : "reply";
  // Start-up: the bus starts the application for the first of many events at once.
  for (int round = 0; round < 2; ++round) {
    bus->stopApp();
    const std::string name = mode + "-start" + std::to_string(round);
    expectAllMovies(burst(bus, name, noReply), name, noReply);
  }
  // The quit: the burst begins shortly before, at, and just after the moment the timer fires.
  for (double offset : {4.5, 4.8, 4.95, 5.05}) {
    bus->stopApp();
    const std::string name = mode + "-quit" + std::to_string(int(offset * 10));
    const Clock::time_point firstServed = startApplication(bus, name);
    std::this_thread::sleep_until(firstServed + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(offset)));
    expectAllMovies(burst(bus, name, noReply), name, noReply);
  }
  bus->stopApp();
}

TEST(AppBurst, ParallelSendersWaitingForRepliesLoseNoPhotograph) { runRounds(false); }

// A second "still2mov app PHOTO" hands its photograph to the running instance and ends at once;
// around the quit, the bus may have to start a fresh instance for it first.
TEST(AppBurst, DocumentsHandedOverAroundTheQuitAreAllConverted) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  for (double offset : {4.7, 4.9}) {
    bus->stopApp();
    const std::string round = "open-quit" + std::to_string(int(offset * 10));
    const Clock::time_point firstServed = startApplication(bus, round);
    std::this_thread::sleep_until(firstServed + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(offset)));
    // Waves of four, 50 ms apart, across the moment the quit timer fires. One of them may find
    // no instance and become the next one itself.
    std::vector<std::string> movies;
    std::vector<std::unique_ptr<Child>> apps;
    for (int wave = 0; wave < kPhotosPerSender; ++wave) {
      for (int s = 0; s < kSenders; ++s) {
        const std::string name = round + "-" + std::to_string(wave) + "-" + std::to_string(s);
        testsupport::writeFile(bus->env().photos(name + ".jpg"), apptest::voicePhoto());
        movies.push_back(bus->env().photos(name + ".mov"));
        apps.push_back(std::make_unique<Child>(std::vector<std::string>{"app", bus->env().photos(name + ".jpg")},
                                               senderEnv(bus)));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (auto& app : apps) EXPECT_EQ(app->wait(60), 0) << round << ": " << app->err();
    expectAllMovies(movies, round, /*noReply=*/true);
  }
  bus->stopApp();
}

TEST(AppBurst, ParallelSendersWithoutRepliesLoseNoPhotograph) { runRounds(true); }

}  // namespace
