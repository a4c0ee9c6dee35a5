// Shared by the application tests: a voice-annotated photograph, a scratch environment that
// keeps HOME, the preferences and temporary files away from the user's, and a conversion probe.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>

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

}  // namespace apptest
