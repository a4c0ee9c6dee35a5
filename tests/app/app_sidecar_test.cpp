// SPDX-License-Identifier: GPL-2.0-or-later
// Recordings beside the photograph reach the movie on every road the application serves: send
// to the running application, and the gphoto2 hook, whichever of the pair the camera lists first.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "PrivateBus.h"
#include "support/Fixtures.h"

namespace {

using apptest::exists;
using apptest::ScratchEnvironment;

std::string plainPhoto() { return fixtures::makeJpeg({.width = 160, .height = 120}); }
std::string recording() { return fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 0.5}); }

std::string hookFor(const ScratchEnvironment& env, const std::string& still2mov) {
  std::string text = testsupport::readFile(testsupport::sourceDir() + "/packaging/still2mov-gphoto2-hook.in");
  const std::string marker = "@STILL2MOV_BINARY@";
  text.replace(text.find(marker), marker.size(), still2mov);
  const std::string hook = env.dir.file("hook");
  testsupport::writeFile(hook, text);
  chmod(hook.c_str(), 0755);
  return hook;
}

// gphoto2's call for one downloaded file, in the folder it downloads into.
int runHook(const ScratchEnvironment& env, const std::string& hook, const std::string& file,
            const std::map<std::string, std::string>& extra = {}) {
  std::string command = "cd " + testsupport::shellQuote(env.dir.file("photos")) + " && env -u DISPLAY";
  for (const auto& [name, value] : env.env()) command += " " + name + "=" + testsupport::shellQuote(value);
  for (const auto& [name, value] : extra) command += " " + name + "=" + testsupport::shellQuote(value);
  return testsupport::run(command + " ACTION=download ARGUMENT=" + testsupport::shellQuote(file) + " " +
                          testsupport::shellQuote(hook) + " >/dev/null 2>&1");
}

}  // namespace

TEST(AppSidecar, SendHandsOverPhotographsWhoseRecordingIsBesideThem) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const ScratchEnvironment& env = bus->env();
  testsupport::writeFile(env.photos("IMG_0201.JPG"), plainPhoto());
  testsupport::writeFile(env.photos("IMG_0201.WAV"), recording());
  testsupport::writeFile(env.photos("IMG_0202.JPG"), plainPhoto());
  testsupport::writeFile(env.photos("IMG_0202.WAV"), "not a recording");
  std::map<std::string, std::string> e = env.env();
  e["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  fixtures::RunResult r = fixtures::runStill2mov({"send", env.photos("IMG_0201.JPG"), env.photos("IMG_0202.JPG")}, e);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(exists(env.photos("IMG_0201.mov")));
  EXPECT_FALSE(exists(env.photos("IMG_0202.mov")));
  EXPECT_NE(r.err.find(env.photos("IMG_0202.JPG") + ": its recording " + env.photos("IMG_0202.WAV") +
                       " is not a RIFF WAVE file"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("IMG_0201"), std::string::npos) << r.err;
  EXPECT_EQ(testsupport::readFile(env.photos("IMG_0201.WAV")), recording());
  EXPECT_TRUE(bus->waitForName(kStill2movApplicationID, false, 20.0));
}

TEST(AppSidecar, GphotoHookConvertsOnceBothFilesOfAPairAreThere) {
  ScratchEnvironment env;
  // A stand-in still2mov records what the hook asks of it.
  const std::string fake = env.dir.file("fake-still2mov");
  const std::string log = env.dir.file("calls");
  testsupport::writeFile(fake, "#!/bin/sh\nprintf '%s|' \"$@\" >> " + testsupport::shellQuote(log) + "\necho >> " +
                                   testsupport::shellQuote(log) + "\n");
  chmod(fake.c_str(), 0755);
  const std::string hook = hookFor(env, "/nonexistent/still2mov");
  const std::map<std::string, std::string> viaFake = {{"STILL2MOV", fake}};
  // The recording first: nothing until its photograph comes.
  EXPECT_EQ(runHook(env, hook, "IMG_0003.WAV", viaFake), 0);
  testsupport::writeFile(env.photos("IMG_0004.JPG"), "");
  testsupport::writeFile(env.photos("img_0005.jpeg"), "");
  testsupport::writeFile(env.photos("[x]*.jpg"), "");
  // The photograph first: the recording's arrival converts it, whatever the letter case.
  EXPECT_EQ(runHook(env, hook, "IMG_0004.WAV", viaFake), 0);
  EXPECT_EQ(runHook(env, hook, "img_0005.wav", viaFake), 0);
  EXPECT_EQ(runHook(env, hook, "[x]*.Wav", viaFake), 0);
  EXPECT_EQ(runHook(env, hook, "IMG_0006.WAVE", viaFake), 0);
  EXPECT_EQ(testsupport::readFile(log),
            "send|--or-convert|--|IMG_0004.JPG|\nsend|--or-convert|--|img_0005.jpeg|\nsend|--or-convert|--|[x]*.jpg|\n");
}

TEST(AppSidecar, GphotoHookMakesTheMovieWhenTheRecordingComesSecond) {
  REQUIRE_WORKING_CONVERSION();
  ScratchEnvironment env;  // no session bus: the hook converts with its own still2mov
  const std::string hook = hookFor(env, testsupport::binaryPath());
  testsupport::writeFile(env.photos("DSC_0007.JPG"), plainPhoto());
  EXPECT_EQ(runHook(env, hook, "DSC_0007.JPG"), 0);
  EXPECT_FALSE(exists(env.photos("DSC_0007.mov")));  // no voice annotation yet
  testsupport::writeFile(env.photos("DSC_0007.WAV"), recording());
  EXPECT_EQ(runHook(env, hook, "DSC_0007.WAV"), 0);
  EXPECT_TRUE(exists(env.photos("DSC_0007.mov")));
  EXPECT_EQ(testsupport::readFile(env.photos("DSC_0007.WAV")), recording());
}
