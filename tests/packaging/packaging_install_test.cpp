// SPDX-License-Identifier: GPL-2.0-or-later
// An install into a scratch DESTDIR as a distribution package would make it: every file where
// the desktop, the bus, man and the shells look, naming the installed program, accepted by the
// desktop's and AppStream's validators; then "uninstall" removes every file it put there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

namespace {

using testsupport::shellQuote;
namespace fs = std::filesystem;

constexpr const char* kPrefix = "/usr";
constexpr const char* kAppID = "com.vantor.camera.still2mov";

std::string buildDir() { return fs::path(testsupport::binaryPath()).parent_path().string(); }

bool executable(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) == 0111;
}

// The value of "Key=" in an entry or service file ("" when absent).
std::string keyOf(const std::string& text, const std::string& key) {
  std::smatch m;
  return std::regex_search(text, m, std::regex("(^|\n)" + key + "=([^\n]*)")) ? m[2].str() : "";
}

std::vector<std::string> filesBelow(const std::string& root) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory() || e.is_symlink()) found.push_back(e.path().string());
  return found;
}

TEST(Install, ToAScratchPrefixIsCompleteAndValidThenUninstallRemovesIt) {
  for (const char* judge : {"cmake", "desktop-file-validate", "appstreamcli", "man", "rsvg-convert", "bash", "zsh",
                            "systemd-analyze", "systemd-escape"})
    REQUIRE_TOOL(judge);
  testsupport::ScratchDir dest;
  const std::string env = "DESTDIR=" + shellQuote(dest.path()) + " ";
  std::string out;
  ASSERT_EQ(testsupport::run(env + "cmake --install " + shellQuote(buildDir()) + " --prefix " + kPrefix + " 2>&1", &out), 0)
      << out;
  const std::string root = dest.path() + kPrefix;
  const std::string program = std::string(kPrefix) + "/bin/still2mov";
  const std::string desktop = root + "/share/applications/" + kAppID + ".desktop";
  const std::string service = root + "/share/dbus-1/services/" + kAppID + ".service";
  const std::string hook = root + "/libexec/still2mov/still2mov-gphoto2-hook";
  const std::string manual = root + "/share/man/man1/still2mov.1";
  const std::string icon = root + "/share/icons/hicolor/scalable/apps/" + kAppID + ".svg";
  const std::string metainfo = root + "/share/metainfo/" + kAppID + ".metainfo.xml";
  const std::string bash = root + "/share/bash-completion/completions/still2mov";
  const std::string zsh = root + "/share/zsh/site-functions/_still2mov";
  const std::string unit = root + "/lib/systemd/user/still2mov-watch@.service";
  EXPECT_TRUE(executable(dest.path() + program));
  EXPECT_TRUE(executable(hook));
  for (const std::string& f : {desktop, service, manual, icon, metainfo, bash, zsh, unit})
    EXPECT_TRUE(fs::is_regular_file(f)) << f << " is missing";

  // Filled in with the installed paths, nothing left of the templates.
  for (const std::string& f : filesBelow(root)) {
    if (f == dest.path() + program) continue;
    EXPECT_EQ(testsupport::readFile(f).find("@STILL2MOV_"), std::string::npos) << f;
  }
  const std::string entry = testsupport::readFile(desktop);
  EXPECT_EQ(keyOf(entry, "TryExec"), program);
  EXPECT_EQ(keyOf(entry, "Exec").rfind(program + " ", 0), 0u) << keyOf(entry, "Exec");
  EXPECT_EQ(keyOf(entry, "Icon"), kAppID) << "the entry must name the installed icon";
  // A D-Bus activatable entry is found by its name: the service must own that same name.
  const std::string serviceText = testsupport::readFile(service);
  EXPECT_EQ(keyOf(serviceText, "Name"), kAppID);
  EXPECT_EQ(keyOf(serviceText, "Exec").rfind(program + " ", 0), 0u) << keyOf(serviceText, "Exec");
  EXPECT_NE(testsupport::readFile(hook).find(program), std::string::npos);
  // The page names the installed hook below the prefix, never by a full path that could overflow
  // a line.
  EXPECT_NE(testsupport::readFile(manual).find("PREFIX/libexec/still2mov/still2mov\\-gphoto2\\-hook"),
            std::string::npos) << "the page should name the installed hook";
  EXPECT_EQ(testsupport::readFile(manual).find(std::string(kPrefix) + "/"), std::string::npos);

  // The watcher's user unit: its instance is the folder as systemd-escape --path gives it,
  // which %f turns back into the path. systemd checks it as it would stand at its place: the
  // program and manual page it names are looked up below the scratch root.
  const std::string unitText = testsupport::readFile(unit);
  EXPECT_EQ(keyOf(unitText, "ExecStart"), program + " watch %f");
  {
    std::string instance;
    ASSERT_EQ(testsupport::run("systemd-escape --path " + shellQuote("/home/me/My Photos"), &instance), 0);
    instance.erase(instance.find_last_not_of('\n') + 1);
    const std::string placed = dest.file("still2mov-watch@" + instance + ".service");
    std::string text = unitText;
    text.replace(text.find("ExecStart=" + program), 10 + program.size(), "ExecStart=" + dest.path() + program);
    testsupport::writeFile(placed, text);
    testsupport::ScratchDir runtime;
    chmod(runtime.path().c_str(), 0700);
    EXPECT_EQ(testsupport::run("XDG_RUNTIME_DIR=" + shellQuote(runtime.path()) + " MANPATH=" +
                                   shellQuote(root + "/share/man") + " systemd-analyze verify --user " +
                                   shellQuote(placed) + " 2>&1",
                               &out),
              0)
        << out;
    EXPECT_EQ(out, "") << "systemd-analyze has remarks";
    fs::remove(placed);
  }

  EXPECT_EQ(testsupport::run("desktop-file-validate " + shellQuote(desktop) + " 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "") << "desktop-file-validate has remarks";
  // appstreamcli passes with remarks ("I:", "W:", "P:" lines); pedantic means none at all.
  EXPECT_EQ(testsupport::run("appstreamcli validate --pedantic --no-net --no-color " + shellQuote(metainfo) + " 2>&1", &out), 0)
      << out;
  EXPECT_EQ(out.find(": "), std::string::npos) << out;
  EXPECT_EQ(testsupport::run("appstreamcli validate-tree --pedantic --no-net --no-color " + shellQuote(root) + " 2>&1", &out), 0)
      << out;
  EXPECT_EQ(out.find(": "), std::string::npos) << out;
  const std::string meta = testsupport::readFile(metainfo);
  EXPECT_NE(meta.find("<launchable type=\"desktop-id\">" + std::string(kAppID) + ".desktop</launchable>"), std::string::npos);
  // The newest release listed is the one installed.
  const fixtures::RunResult version = fixtures::runStill2mov({"--version"});
  std::smatch m;
  ASSERT_TRUE(std::regex_search(meta, m, std::regex("<release version=\"([^\"]+)\""))) << meta;
  EXPECT_NE(version.out.find(" " + m[1].str()), std::string::npos) << version.out << " vs release " << m[1];

  EXPECT_EQ(testsupport::run("MANWIDTH=80 man --warnings -l " + shellQuote(manual) + " 2>&1 >/dev/null", &out), 0);
  EXPECT_EQ(out, "") << "man warns";
  // The icon is a picture a renderer draws, at a launcher's size.
  const std::string png = dest.file("icon.png");
  EXPECT_EQ(testsupport::run("rsvg-convert -w 48 -h 48 -o " + shellQuote(png) + " " + shellQuote(icon) + " 2>&1", &out), 0)
      << out;
  EXPECT_EQ(testsupport::readFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
  fs::remove(png);
  EXPECT_EQ(testsupport::run("bash --norc -c " + shellQuote("source " + shellQuote(bash) + " && complete -p still2mov") + " 2>&1", &out), 0)
      << out;
  EXPECT_EQ(testsupport::run("zsh -f -n " + shellQuote(zsh) + " 2>&1", &out), 0) << out;

  ASSERT_EQ(testsupport::run(env + "cmake --build " + shellQuote(buildDir()) + " --target uninstall 2>&1", &out), 0) << out;
  std::string left;
  for (const std::string& f : filesBelow(dest.path())) left += f + "\n";
  EXPECT_EQ(left, "") << "uninstall left files behind";
  EXPECT_FALSE(fs::exists(root + "/libexec/still2mov")) << "the hook's own folder stays behind";
}

// However long the prefix, the manual reads without a line man cannot fit.
TEST(Install, UnderALongPrefixTheManualStillFitsItsLines) {
  for (const char* judge : {"cmake", "man"}) REQUIRE_TOOL(judge);
  testsupport::ScratchDir dest;
  const std::string prefix = "/opt/a-rather-long-installation-prefix-of-the-kind-packagers-use/still2mov-" +
                             std::string(40, 'x');
  std::string out;
  ASSERT_EQ(testsupport::run("DESTDIR=" + shellQuote(dest.path()) + " cmake --install " + shellQuote(buildDir()) +
                                 " --prefix " + shellQuote(prefix) + " 2>&1",
                             &out),
            0)
      << out;
  const std::string manual = dest.path() + prefix + "/share/man/man1/still2mov.1";
  ASSERT_TRUE(fs::is_regular_file(manual));
  EXPECT_EQ(testsupport::run("MANWIDTH=80 man --warnings -l " + shellQuote(manual) + " 2>&1 >/dev/null", &out), 0);
  EXPECT_EQ(out, "") << "man warns";
}

}  // namespace
