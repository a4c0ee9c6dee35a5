// SPDX-License-Identifier: GPL-2.0-or-later
// The application's command line and packaging: the prefs command over the key file, the send
// command's failures, the desktop entry's validity and the gphoto2 hook's hand-over, or its own
// conversion when there is no session bus.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "AppTestSupport.h"
#include "support/Fixtures.h"

namespace {

using apptest::ScratchEnvironment;
using fixtures::runStill2mov;

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  return s;
}

TEST(PrefsCommand, GetAndSetTheResizePreference) {
  ScratchEnvironment env;
  fixtures::RunResult r = runStill2mov({"prefs", "get", "Resize_QT_Image"}, env.env());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "true\n");
  EXPECT_NE(r.err.find("not set"), std::string::npos) << r.err;

  r = runStill2mov({"prefs", "set", "Resize_QT_Image", "FALSE"}, env.env());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(testsupport::readFile(env.prefsFile()).find("Resize_QT_Image=false"), std::string::npos);
  r = runStill2mov({"prefs", "get", "Resize_QT_Image"}, env.env());
  EXPECT_EQ(r.out, "false\n");
  EXPECT_EQ(r.err, "");

  env.setResizePreference("maybe");
  r = runStill2mov({"prefs", "get", "Resize_QT_Image"}, env.env());
  EXPECT_EQ(r.out, "true\n");
  EXPECT_NE(r.err.find("maybe"), std::string::npos) << r.err;

  // Bad values and unknown keys are usage errors that leave the file alone.
  env.setResizePreference("false");
  EXPECT_EQ(runStill2mov({"prefs", "set", "Resize_QT_Image", "sometimes"}, env.env()).status, 2);
  EXPECT_EQ(runStill2mov({"prefs", "set", "Colour", "true"}, env.env()).status, 2);
  EXPECT_EQ(runStill2mov({"prefs", "get"}, env.env()).status, 2);
  EXPECT_EQ(runStill2mov({"prefs", "get", "Resize_QT_Image"}, env.env()).out, "false\n");
}

TEST(PrefsCommand, GetAndSetTheFormatPreference) {
  ScratchEnvironment env;
  fixtures::RunResult r = runStill2mov({"prefs", "get", "Movie_Format"}, env.env());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "mov\n");
  EXPECT_NE(r.err.find("not set"), std::string::npos) << r.err;
  r = runStill2mov({"prefs", "set", "Movie_Format", "mp4"}, env.env());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(runStill2mov({"prefs", "get", "Movie_Format"}, env.env()).out, "mp4\n");
  // The resize preference is a separate key: both stay.
  EXPECT_EQ(runStill2mov({"prefs", "set", "Resize_QT_Image", "no"}, env.env()).status, 0);
  const std::string file = testsupport::readFile(env.prefsFile());
  EXPECT_NE(file.find("Movie_Format=mp4"), std::string::npos) << file;
  EXPECT_NE(file.find("Resize_QT_Image=false"), std::string::npos) << file;
  // Anything but a format's name is refused and leaves the file alone; a stored one counts as mov.
  r = runStill2mov({"prefs", "set", "Movie_Format", "avi"}, env.env());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("mov, mp4 or motion"), std::string::npos) << r.err;
  EXPECT_EQ(runStill2mov({"prefs", "get", "Movie_Format"}, env.env()).out, "mp4\n");
  testsupport::writeFile(env.prefsFile(), "[Preferences]\nMovie_Format=webm\n");
  r = runStill2mov({"prefs", "get", "Movie_Format"}, env.env());
  EXPECT_EQ(r.out, "mov\n");
  EXPECT_NE(r.err.find("webm"), std::string::npos) << r.err;
}

TEST(PrefsCommand, SetKeepsTheRestOfTheFileAndMakesTheFolder) {
  ScratchEnvironment env;
  std::map<std::string, std::string> e = env.env();
  e["XDG_CONFIG_HOME"] = env.dir.file("config/new/deeper");
  EXPECT_EQ(runStill2mov({"prefs", "set", "Resize_QT_Image", "no"}, e).status, 0);
  EXPECT_EQ(runStill2mov({"prefs", "get", "Resize_QT_Image"}, e).out, "false\n");

  testsupport::writeFile(env.prefsFile(), "# mine\n[Preferences]\nOther=1\nResize_QT_Image=true\n");
  EXPECT_EQ(runStill2mov({"prefs", "set", "Resize_QT_Image", "0"}, env.env()).status, 0);
  const std::string kept = testsupport::readFile(env.prefsFile());
  EXPECT_NE(kept.find("# mine"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Other=1"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Resize_QT_Image=false"), std::string::npos) << kept;
}

TEST(SendCommand, MissingPhotographAndBadUsageFail) {
  ScratchEnvironment env;
  fixtures::RunResult r = runStill2mov({"send", env.photos("absent.jpg")}, env.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("absent.jpg"), std::string::npos) << r.err;
  EXPECT_EQ(runStill2mov({"send"}, env.env()).status, 2);
  EXPECT_EQ(runStill2mov({"send", "--loud", "x.jpg"}, env.env()).status, 2);
  EXPECT_EQ(runStill2mov({"app", "--loud"}, env.env()).status, 2);
}

TEST(Packaging, DesktopEntryValidatesAndNamesTheBusName) {
  ASSERT_TRUE(testsupport::haveTool("desktop-file-validate")) << "desktop-file-validate is missing (scripts/setup-tests installs it)";
  ScratchEnvironment env;
  const std::string source = testsupport::readFile(testsupport::sourceDir() + "/packaging/com.vantor.camera.still2mov.desktop.in");
  ASSERT_FALSE(source.empty());
  const std::string entry = env.dir.file("com.vantor.camera.still2mov.desktop");
  testsupport::writeFile(entry, replaceAll(source, "@STILL2MOV_BINARY@", testsupport::binaryPath()));
  std::string out;
  EXPECT_EQ(testsupport::run("desktop-file-validate " + testsupport::shellQuote(entry) + " 2>&1", &out), 0) << out;
  EXPECT_NE(source.find("DBusActivatable=true"), std::string::npos);
  EXPECT_NE(source.find("MimeType=image/jpeg;"), std::string::npos);

  const std::string service =
      testsupport::readFile(testsupport::sourceDir() + "/packaging/com.vantor.camera.still2mov.service.in");
  EXPECT_NE(service.find("Name=com.vantor.camera.still2mov\n"), std::string::npos);
}

TEST(Packaging, GphotoHookSendsEachDownloadedJpegOnly) {
  ScratchEnvironment env;
  const std::string hook = env.dir.file("hook");
  testsupport::writeFile(hook, replaceAll(testsupport::readFile(testsupport::sourceDir() +
                                                                "/packaging/still2mov-gphoto2-hook.in"),
                                          "@STILL2MOV_BINARY@", "/nonexistent/still2mov"));
  chmod(hook.c_str(), 0755);
  // A stand-in still2mov records what it was asked.
  const std::string fake = env.dir.file("fake-still2mov");
  const std::string log = env.dir.file("calls");
  testsupport::writeFile(fake, "#!/bin/sh\nprintf '%s|' \"$@\" >> " + testsupport::shellQuote(log) + "\necho >> " +
                                   testsupport::shellQuote(log) + "\n");
  chmod(fake.c_str(), 0755);
  auto runHook = [&](const std::string& action, const std::string& argument) {
    return testsupport::run("cd " + testsupport::shellQuote(env.dir.path()) + " && STILL2MOV=" +
                            testsupport::shellQuote(fake) + " ACTION=" + action + " ARGUMENT=" +
                            testsupport::shellQuote(argument) + " " + testsupport::shellQuote(hook));
  };
  EXPECT_EQ(runHook("init", ""), 0);
  EXPECT_EQ(runHook("start", ""), 0);
  EXPECT_EQ(runHook("download", "IMG_0001.JPG"), 0);
  EXPECT_EQ(runHook("download", "-odd name.jpeg"), 0);
  EXPECT_EQ(runHook("download", "MVI_0002.AVI"), 0);
  EXPECT_EQ(runHook("stop", ""), 0);
  EXPECT_EQ(testsupport::readFile(log), "send|--or-convert|--|IMG_0001.JPG|\nsend|--or-convert|--|-odd name.jpeg|\n");
}

TEST(Packaging, GphotoHookConvertsHereWhenThereIsNoSessionBus) {
  REQUIRE_WORKING_CONVERSION();
  ScratchEnvironment env;  // its bus address leads nowhere, as over ssh or from udev
  const std::string hook = env.dir.file("hook");
  testsupport::writeFile(hook, replaceAll(testsupport::readFile(testsupport::sourceDir() +
                                                                "/packaging/still2mov-gphoto2-hook.in"),
                                          "@STILL2MOV_BINARY@", testsupport::binaryPath()));
  chmod(hook.c_str(), 0755);
  const std::string photo = env.photos("IMG_0007.JPG");
  testsupport::writeFile(photo, apptest::voicePhoto());
  std::string command = "cd " + testsupport::shellQuote(env.dir.file("photos")) + " && env -u DISPLAY";
  for (const auto& [name, value] : env.env()) command += " " + name + "=" + testsupport::shellQuote(value);
  command += " ACTION=download ARGUMENT=IMG_0007.JPG " + testsupport::shellQuote(hook) + " 2>&1";
  std::string out;
  EXPECT_EQ(testsupport::run(command, &out), 0) << out;
  EXPECT_TRUE(apptest::exists(env.photos("IMG_0007.mov"))) << out;

  // The format preference decides what the hook writes, as it does for a plain conversion.
  testsupport::writeFile(env.prefsFile(), "[Preferences]\nMovie_Format=mp4\n");
  EXPECT_EQ(testsupport::run(command, &out), 0) << out;
  EXPECT_TRUE(apptest::exists(env.photos("IMG_0007.mp4"))) << out;
  std::remove(env.photos("IMG_0007.mp4").c_str());
  testsupport::writeFile(env.prefsFile(), "");

  // A plain send still says that it reached nobody, and converts nothing.
  std::remove(env.photos("IMG_0007.mov").c_str());
  fixtures::RunResult r = runStill2mov({"send", photo}, env.env());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no session bus"), std::string::npos) << r.err;
  EXPECT_FALSE(apptest::exists(env.photos("IMG_0007.mov")));
}

}  // namespace
