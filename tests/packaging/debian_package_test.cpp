// SPDX-License-Identifier: GPL-2.0-or-later
// The Debian package as scripts/package builds it: every file where the desktop looks, installed
// by dpkg into a scratch root, working there, accepted by the validators, and removed without a trace.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

namespace {

using testsupport::run;
using testsupport::shellQuote;
namespace fs = std::filesystem;

std::string firstLine(std::string s) { return s.substr(0, s.find('\n')); }

TEST(DebianPackage, VersionIsTheProgramsAndBuildDependsCoverWhatSetupInstalls) {
  REQUIRE_TOOL("dpkg-parsechangelog");
  const std::string root = testsupport::sourceDir();
  std::string version;
  ASSERT_EQ(run("dpkg-parsechangelog -l " + shellQuote(root + "/debian/changelog") + " -S Version", &version), 0);
  EXPECT_EQ(firstLine(fixtures::runStill2mov({"--version"}).out), "still2mov " + firstLine(version))
      << "debian/changelog is at " << version << "; add an entry for the project's VERSION";
  // A library scripts/setup builds against but the package's build does not install fails there.
  const std::string control = testsupport::readFile(root + "/debian/control");
  const std::string buildDepends = control.substr(0, control.find("\nStandards-Version:")) + "\n";
  const std::string setup = testsupport::readFile(root + "/scripts/setup");
  const std::regex dev("(lib[a-z0-9.+-]*-dev)");
  for (std::sregex_iterator it(setup.begin(), setup.end(), dev), end; it != end; ++it) {
    const std::string name = (*it)[1] == "libjpeg62-turbo-dev" ? "libjpeg-dev" : (*it)[1].str();
    EXPECT_TRUE(std::regex_search(buildDepends, std::regex("[ ,]" + name + "[ ,(\n]")))
        << name << " is missing from debian/control's Build-Depends";
  }
}

TEST(DebianPackage, BuildsInstallsIntoAScratchRootWorksAndRemovesCleanly) {
  for (const char* tool : {"dpkg-buildpackage", "lintian", "dpkg-deb", "ffprobe", "desktop-file-validate",
                           "appstreamcli", "systemd-analyze", "man"})
    REQUIRE_TOOL(tool);
  testsupport::ScratchDir scratch;
  std::string deb, out;
  // A scratch root with an empty package database (the libraries come from the real one). dpkg
  // installs there as any user with --force-not-root, unless it was built to refuse.
  const std::string root = scratch.file("root");
  const std::string dpkg = "dpkg --force-not-root --root=" + shellQuote(root) + " ";
  fs::create_directories(root + "/var/lib/dpkg/info");
  fs::create_directories(root + "/var/lib/dpkg/updates");
  testsupport::writeFile(root + "/var/lib/dpkg/status", "");
  if (run(dpkg + "--configure -a 2>&1", &out) != 0) GTEST_SKIP() << "dpkg cannot install into a scratch root here: " << out;
  // Built where scripts/package always builds (build-deb/ in the checkout), whichever tree the
  // test runs from: the compiler's paths stay the same, so ccache holds every object of the last run.
  ASSERT_EQ(run(shellQuote(testsupport::sourceDir() + "/scripts/package") + " " + shellQuote(scratch.path()), &deb), 0);
  deb = firstLine(deb);
  std::string arch, contents;
  ASSERT_EQ(run("dpkg-architecture -qDEB_HOST_ARCH", &arch), 0);
  const std::string version = firstLine(fixtures::runStill2mov({"--version"}).out).substr(10);
  EXPECT_EQ(deb, scratch.file("still2mov_" + version + "_" + firstLine(arch) + ".deb"));
  ASSERT_EQ(run("dpkg-deb -c " + shellQuote(deb), &contents), 0);
  for (const char* file : {"usr/bin/still2mov", "usr/libexec/still2mov/still2mov-app",
                           "usr/libexec/still2mov/still2mov-gphoto2-hook", "usr/share/man/man1/still2mov.1.gz",
                           "usr/share/bash-completion/completions/still2mov", "usr/share/zsh/vendor-completions/_still2mov",
                           "usr/share/applications/com.vantor.camera.still2mov.desktop",
                           "usr/share/icons/hicolor/scalable/apps/com.vantor.camera.still2mov.svg",
                           "usr/share/dbus-1/services/com.vantor.camera.still2mov.service",
                           "usr/share/metainfo/com.vantor.camera.still2mov.metainfo.xml",
                           "usr/lib/systemd/user/still2mov-watch@.service", "usr/share/doc/still2mov/copyright",
                           "usr/share/doc/still2mov/changelog.gz"})
    EXPECT_NE(contents.find(" ./" + std::string(file) + "\n"), std::string::npos) << file << " is not in the package";

  ASSERT_EQ(run(dpkg + "--force-depends -i " + shellQuote(deb) + " 2>&1", &out), 0) << out;
  const std::string program = root + "/usr/bin/still2mov";
  std::string installed;
  EXPECT_EQ(run(shellQuote(program) + " --version", &installed), 0);
  EXPECT_EQ(firstLine(installed), "still2mov " + version);

  // The sample converts with the installed program; every library it loads itself at run time
  // (not through another library, not linked) is named in the package's Depends or Recommends.
  const std::string photo = scratch.file("voice-note.jpg");
  fs::copy_file(testsupport::sourceDir() + "/samples/voice-note.jpg", photo);
  std::string fields, loaded;
  ASSERT_EQ(run("dpkg-deb -f " + shellQuote(deb) + " Depends Recommends", &fields), 0);
  for (const char* format : {"mov", "mp4"}) {
    EXPECT_EQ(run("LD_DEBUG=files " + shellQuote(program) + " -y --format=" + format + " " + shellQuote(photo) +
                      " 2>&1 >/dev/null", &loaded), 0) << loaded;
    EXPECT_EQ(run("ffprobe -v error " + shellQuote(scratch.file("voice-note.") + format) + " 2>&1", &out), 0) << out;
    const std::regex dlopened("file=([^ ]+) \\[0\\];  dynamically loaded by " + program);
    int libraries = 0;
    for (std::sregex_iterator it(loaded.begin(), loaded.end(), dlopened), end; it != end; ++it, ++libraries) {
      std::string owner;
      ASSERT_EQ(run("dpkg -S " + shellQuote("*/" + (*it)[1].str()), &owner), 0);
      owner = owner.substr(0, owner.find(':'));
      EXPECT_TRUE(std::regex_search(fields, std::regex("(^|[ ,|])" + owner + "( |,|$|\n)"))) << owner << " not in\n" << fields;
    }
    if (std::string(format) == "mp4") {
      EXPECT_GT(libraries, 0) << "an MP4 loads the FFmpeg libraries:\n" << loaded;
    }
  }

  // The validators accept the installed files; systemd checks the unit with its paths in the root.
  const std::string share = root + "/usr/share/";
  EXPECT_EQ(run("desktop-file-validate " + shellQuote(share + "applications/com.vantor.camera.still2mov.desktop") + " 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(run("appstreamcli validate --no-net " + shellQuote(share + "metainfo/com.vantor.camera.still2mov.metainfo.xml") + " 2>&1", &out), 0) << out;
  std::string unit = testsupport::readFile(root + "/usr/lib/systemd/user/still2mov-watch@.service");
  unit = std::regex_replace(unit, std::regex("ExecStart=/"), "ExecStart=" + root + "/");
  testsupport::writeFile(scratch.file("still2mov-watch@home-me-Pictures.service"), unit);
  testsupport::ScratchDir runtime;
  EXPECT_EQ(run("XDG_RUNTIME_DIR=" + shellQuote(runtime.path()) + " MANPATH=" + shellQuote(share + "man") +
                    " systemd-analyze verify --user " + shellQuote(scratch.file("still2mov-watch@home-me-Pictures.service")) + " 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(run("MANPATH=" + shellQuote(share + "man") + " MANWIDTH=80 man --warnings still2mov 2>&1 >/dev/null", &out), 0) << out;

  // Purged, nothing of it is left but the package database.
  ASSERT_EQ(run(dpkg + "--purge still2mov 2>&1", &out), 0) << out;
  EXPECT_NE(run(dpkg + "-L still2mov 2>/dev/null"), 0);
  std::string left;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.path().string().rfind(root + "/var", 0) != 0) left += e.path().string() + "\n";
  EXPECT_EQ(left, "") << "left behind";
}

}  // namespace
