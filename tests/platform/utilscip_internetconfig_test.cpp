// SPDX-License-Identifier: GPL-2.0-or-later
// The user's default mail program and helper preferences, from the desktop's default handlers.
// GIO reads the handler tables once per process, so each case runs in a fresh child of this
// binary with XDG folders of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/UtilsCIP.h"
#include "support/TestPaths.h"

using testsupport::shellQuote;
using testsupport::writeFile;

namespace {
std::string selfPath() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, size_t(n)) : std::string();
}

// Runs the child case with the scratch folder as the whole desktop and returns what it wrote.
std::string askChild(const testsupport::ScratchDir& dir) {
  std::string out = dir.file("answer");
  std::string cmd = "env -u XDG_CURRENT_DESKTOP -u DBUS_SESSION_BUS_ADDRESS HOME=" + shellQuote(dir.path()) +
                    " XDG_DATA_HOME=" + shellQuote(dir.file("data")) + " XDG_DATA_DIRS=" + shellQuote(dir.file("sys")) +
                    " XDG_CONFIG_HOME=" + shellQuote(dir.file("config")) +
                    " XDG_CONFIG_DIRS=" + shellQuote(dir.file("sysconfig")) + " GIO_USE_VFS=local" +
                    " UTILSCIP_IC_ANSWER=" + shellQuote(out) + " " + shellQuote(selfPath()) +
                    " --gtest_filter=ICChild.Answer >/dev/null 2>&1";
  EXPECT_EQ(testsupport::run(cmd), 0);
  return testsupport::readFile(out);
}

void mailEntry(const testsupport::ScratchDir& dir, const std::string& creatorLine) {
  testsupport::run("mkdir -p " + shellQuote(dir.file("data/applications")) + " " + shellQuote(dir.file("config")));
  writeFile(dir.file("data/applications/mailer.desktop"),
            "[Desktop Entry]\nType=Application\nName=Mailer\nExec=/bin/true %u\n"
            "MimeType=x-scheme-handler/mailto;\n" + creatorLine);
  writeFile(dir.file("config/mimeapps.list"), "[Default Applications]\nx-scheme-handler/mailto=mailer.desktop\n");
}
}  // namespace

// Not a test of its own: the child end of the cases below.
TEST(ICChild, Answer) {
  const char* out = std::getenv("UTILSCIP_IC_ANSWER");
  if (out == nullptr) GTEST_SKIP() << "runs only as the child of the cases below";
  std::string answer = UtilsCIP::OsTypeToFourCharCode(UtilsCIP::GetSignatureForUsersDefaultEmail());
  ICAppSpec app{};
  const unsigned char key[] = "\x0DHelper\xA5mailto";
  if (UtilsCIP::GetICPref(key, &app))
    answer += " " + UtilsCIP::OsTypeToFourCharCode(app.fCreator) + " " +
              std::string(reinterpret_cast<const char*>(app.name + 1), app.name[0]);
  const unsigned char other[] = "\x0CWWWHomePage";
  if (UtilsCIP::GetICPref(other, &app)) answer += " unexpected";
  writeFile(out, answer);
}

TEST(DefaultMail, TheMailtoHandlersCreator) {
  testsupport::ScratchDir dir;
  mailEntry(dir, "X-Creator-Code=Mail\n");
  EXPECT_EQ(askChild(dir), "Mail Mail Mailer");
}

// The creator is read as Launch Services reads any entry's (Mac OS Roman characters), and a long
// name is cut where a character ends.
TEST(DefaultMail, ARomanCreatorAndALongNameComeThroughWhole) {
  testsupport::ScratchDir dir;
  std::string name;
  while (name.size() < 80) name += "\xC3\xA9";  // é
  mailEntry(dir, "X-Creator-Code=\xC2\xA9" "ail\n");
  std::string text = testsupport::readFile(dir.file("data/applications/mailer.desktop"));
  writeFile(dir.file("data/applications/mailer.desktop"), text.replace(text.find("Name=Mailer"), 11, "Name=" + name));
  EXPECT_EQ(askChild(dir), "\xC2\xA9" "ail \xC2\xA9" "ail " + name.substr(0, 62));
}

TEST(DefaultMail, EmalWhenTheHandlerHasNoCreator) {
  testsupport::ScratchDir dir;
  mailEntry(dir, "");
  EXPECT_EQ(askChild(dir), "emal ???? Mailer");
}

TEST(DefaultMail, EmalWhenThereIsNoHandler) {
  testsupport::ScratchDir dir;
  testsupport::run("mkdir -p " + shellQuote(dir.file("data/applications")));
  writeFile(dir.file("data/applications/editor.desktop"),
            "[Desktop Entry]\nType=Application\nName=Editor\nExec=/bin/true %f\nMimeType=text/plain;\n"
            "X-Creator-Code=Edit\n");
  EXPECT_EQ(askChild(dir), "emal");
}
