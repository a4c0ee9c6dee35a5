// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the application tests: a voice-annotated photograph, a scratch environment that
// keeps HOME, the preferences and temporary files away from the user's, a conversion probe, and
// still2mov run in the background with a deadline.
#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Convert2Mov.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

namespace apptest {

inline std::string voicePhoto() {
  return fixtures::embedWave(fixtures::makeJpeg({.width = 160, .height = 120}),
                             fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 0.5}));
}

inline bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// HOME, XDG_CONFIG_HOME, XDG_DATA_DIRS and TMPDIR inside a scratch folder for the test's life,
// and a session bus address where no bus listens.
class ScratchEnvironment {
 public:
  ScratchEnvironment() {
    for (const char* sub : {"home", "config", "data", "tmp", "photos"}) mkdir(dir.file(sub).c_str(), 0700);
    set("HOME", dir.file("home"));
    set("XDG_CONFIG_HOME", dir.file("config"));
    set("XDG_DATA_DIRS", dir.file("data"));
    set("TMPDIR", dir.file("tmp"));
    set("DBUS_SESSION_BUS_ADDRESS", noBus());  // never the machine's own session bus
  }
  ~ScratchEnvironment() {
    for (const auto& [name, old] : saved) {
      if (old.first)
        setenv(name.c_str(), old.second.c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  std::string photos(const std::string& name) const { return dir.file("photos/" + name); }
  std::string prefsFile() const { return dir.file("config/com.vantor.camera.prefs"); }
  void setResizePreference(const std::string& value) const {
    testsupport::writeFile(prefsFile(), "[Preferences]\nResize_QT_Image=" + value + "\n");
  }
  std::map<std::string, std::string> env() const {
    return {{"HOME", dir.file("home")}, {"XDG_CONFIG_HOME", dir.file("config")},
            {"XDG_DATA_DIRS", dir.file("data")}, {"TMPDIR", dir.file("tmp")},
            {"DBUS_SESSION_BUS_ADDRESS", noBus()}};
  }
  std::string noBus() const { return "unix:path=" + dir.file("no-bus"); }
  testsupport::ScratchDir dir;

 private:
  void set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved.emplace(name, std::make_pair(old != nullptr, std::string(old ? old : "")));
    setenv(name.c_str(), value.c_str(), 1);
  }
  std::map<std::string, std::pair<bool, std::string>> saved;
};

// Whether a conversion writes a movie; tests that need the movie fail at once otherwise.
inline bool conversionWritesMovies() {
  static int known = -1;
  if (known < 0) {
    ScratchEnvironment env;
    const std::string photo = env.photos("probe.jpg");
    testsupport::writeFile(photo, voicePhoto());
    Convert2Mov c2m;
    known = c2m.createMovie(env.photos("probe.mov"), photo, 0) == 0 && exists(env.photos("probe.mov")) ? 1 : 0;
  }
  return known == 1;
}

#define REQUIRE_WORKING_CONVERSION() \
  ASSERT_TRUE(apptest::conversionWritesMovies()) << "the conversion driver writes no movie (createMovie probe)"

// still2mov started in the background with the given environment added, standard input empty,
// its output kept in files; it is killed if it is still running when the object goes.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> all;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string kv = *e;
      const size_t eq = kv.find('=');
      if (eq != std::string::npos) all[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : env) all[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : all) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string program = testsupport::binaryPath();
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, mOut.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, mOut.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&mPid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) mPid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (mPid > 0 && !mDone) {
      kill(mPid, SIGKILL);
      waitpid(mPid, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The exit status once it has ended; -1 when it is still running after that many seconds (it
  // is killed then) or did not end normally.
  int wait(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (mPid > 0 && !mDone) {
      int status = 0;
      const pid_t r = waitpid(mPid, &status, WNOHANG);
      if (r == mPid) {
        mDone = true;
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      } else if (r < 0 || std::chrono::steady_clock::now() > end) {
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        mDone = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    return mStatus;
  }
  std::string out() const { return testsupport::readFile(mOut.file("out")); }
  std::string err() const { return testsupport::readFile(mOut.file("err")); }

 private:
  testsupport::ScratchDir mOut;
  pid_t mPid = -1;
  bool mDone = false;
  int mStatus = -1;
};

}  // namespace apptest
