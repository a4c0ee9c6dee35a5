// SPDX-License-Identifier: GPL-2.0-or-later
// The open panel through a stand-in FileChooser portal served by this test on the private bus:
// what the application asks for, a chosen photograph converted, and a cancel or a missing panel
// that converts nothing but still lets the application quit.
#include <fnmatch.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "PrivateBus.h"
#include "StandInService.h"

namespace {

using apptest::exists;
using Clock = std::chrono::steady_clock;

// org.freedesktop.portal.Desktop with FileChooser.OpenFile, on its own connection and thread.
class StandInPortal : public apptest::StandInService {
 public:
  StandInPortal(const std::string& address, guint32 response, const std::string& chosen)
      : StandInService(address, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                       "<interface name='org.freedesktop.portal.FileChooser'><method name='OpenFile'>"
                       "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
                       "<arg type='a{sv}' direction='in'/><arg type='o' direction='out'/></method></interface>"),
        mResponse(response),
        mChosen(chosen) {
    start();
  }
  ~StandInPortal() override { stop(); }

  int calls() const { return mCalls; }
  // What the last OpenFile asked for.
  struct Request {
    std::string title;
    bool multiple = true;
    std::string folder;
    std::vector<std::string> patterns;
  };
  Request lastRequest() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mLast;
  }

 private:
  void onMethod(const std::string& sender, const std::string& method, GVariant* params,
                GDBusMethodInvocation* inv) override {
    GDBusConnection* c = connection();
    if (method != "OpenFile") {
      g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.UnknownMethod", method.c_str());
      return;
    }
    const gchar *parent = nullptr, *title = nullptr;
    GVariant* options = nullptr;
    g_variant_get(params, "(&s&s@a{sv})", &parent, &title, &options);
    Request req;
    req.title = title;
    gboolean multiple = FALSE;
    if (g_variant_lookup(options, "multiple", "b", &multiple)) req.multiple = multiple;
    const gchar* folder = nullptr;
    if (g_variant_lookup(options, "current_folder", "^&ay", &folder)) req.folder = folder;
    GVariant* filters = g_variant_lookup_value(options, "filters", G_VARIANT_TYPE("a(sa(us))"));
    if (filters) {
      GVariantIter it;
      g_variant_iter_init(&it, filters);
      const gchar* name;
      GVariantIter* pats;
      while (g_variant_iter_next(&it, "(&sa(us))", &name, &pats)) {
        guint32 kind;
        const gchar* pattern;
        while (g_variant_iter_next(pats, "(u&s)", &kind, &pattern))
          if (kind == 0) req.patterns.emplace_back(pattern);
        g_variant_iter_free(pats);
      }
      g_variant_unref(filters);
    }
    const gchar* token = "t";
    g_variant_lookup(options, "handle_token", "&s", &token);
    std::string who = sender.substr(1);
    for (char& ch : who)
      if (ch == '.') ch = '_';
    const std::string handle = "/org/freedesktop/portal/desktop/request/" + who + "/" + token;
    g_dbus_method_invocation_return_value(inv, g_variant_new("(o)", handle.c_str()));
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    if (mResponse == 0) {
      gchar* uri = g_filename_to_uri(mChosen.c_str(), nullptr, nullptr);
      const gchar* uris[] = {uri, nullptr};
      g_variant_builder_add(&results, "{sv}", "uris", g_variant_new_strv(uris, 1));
      g_free(uri);
    }
    g_dbus_connection_emit_signal(c, sender.c_str(), handle.c_str(), "org.freedesktop.portal.Request", "Response",
                                  g_variant_new("(ua{sv})", mResponse, &results), nullptr);
    g_variant_unref(options);
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mLast = req;
    }
    ++mCalls;
  }

  guint32 mResponse;
  std::string mChosen;
  std::atomic<int> mCalls{0};
  Request mLast;
};

bool matchesAny(const std::vector<std::string>& patterns, const std::string& name) {
  for (const std::string& p : patterns)
    if (fnmatch(p.c_str(), name.c_str(), 0) == 0) return true;
  return false;
}

// The quit limit: 5 s, plus time for a loaded machine.
constexpr double kQuitLimit = 6.5;

TEST(OpenPanel, ChosenPhotographIsConvertedAndArmsTheTimer) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string photo = bus->env().photos("chosen.JPG");
  testsupport::writeFile(photo, apptest::voicePhoto());
  StandInPortal portal(bus->address(), 0, photo);
  // "still2mov open" starts the application with its panel up, and returns when it has quit.
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  apptest::Child open({"open"}, env);
  const auto end = Clock::now() + std::chrono::seconds(20);
  while (!exists(bus->env().photos("chosen.mov")) && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto converted = Clock::now();
  EXPECT_EQ(open.wait(30), 0) << open.err();
  const double lived = std::chrono::duration<double>(Clock::now() - converted).count();
  EXPECT_EQ(portal.calls(), 1);
  EXPECT_TRUE(exists(bus->env().photos("chosen.mov")));
  EXPECT_GE(lived, 4.5) << "the quit timer should run 5 s from the conversion";
  EXPECT_LT(lived, kQuitLimit);

  StandInPortal::Request req = portal.lastRequest();
  EXPECT_FALSE(req.multiple);
  EXPECT_EQ(req.folder, bus->env().dir.file("home"));
  for (const char* name : {"IMG_0001.JPG", "img.jpg", "a.JpG", "IMG_0001.JPEG", "b.jpeg"})
    EXPECT_TRUE(matchesAny(req.patterns, name)) << name;
  for (const char* name : {"photo.png", "jpg", "a.jpg.txt", "c.jpe"}) EXPECT_FALSE(matchesAny(req.patterns, name)) << name;
}

TEST(OpenPanel, CancelConvertsNothingAndQuitsAsAChoiceWould) {
  REQUIRE_PRIVATE_BUS();
  const std::string photo = bus->env().photos("cancelled.jpg");
  testsupport::writeFile(photo, apptest::voicePhoto());
  StandInPortal portal(bus->address(), 1, photo);
  // The desktop's activation, then the desktop entry's action, each starting the application.
  const std::vector<std::pair<const char*, GVariant*>> ways = {
      {"Activate", g_variant_new("(a{sv})", nullptr)},
      {"ActivateAction", g_variant_new("(sava{sv})", "choose-photo", nullptr, nullptr)},
  };
  for (const auto& [method, args] : ways) {
    const int before = portal.calls();
    ASSERT_TRUE(bus->callApp(method, args)) << method;
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (portal.calls() == before && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(portal.calls(), before + 1) << method;
    const double quit = bus->secondsUntilQuit(Clock::now(), kQuitLimit);
    if (quit < 0)
      ADD_FAILURE() << method << ": still running " << kQuitLimit << " s after the panel was cancelled";
    else
      EXPECT_GE(quit, 4.5) << method << ": quit before its 5 s";
    bus->stopApp();
  }
  EXPECT_FALSE(exists(bus->env().photos("cancelled.mov")));
}

// Reads what the terminal shows until it contains text (or the time runs out).
std::string readUntil(int fd, const std::string& text, double seconds, std::string& seen) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (seen.find(text) == std::string::npos && Clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, size_t(n));
  }
  return seen;
}

TEST(OpenPanel, WithoutAPortalATerminalGetsAPrompt) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string photo = bus->env().photos("typed.jpg");
  testsupport::writeFile(photo, apptest::voicePhoto());
  testsupport::writeFile(bus->env().photos("notes.txt"), "not a photograph");
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  const std::string binary = testsupport::binaryPath();
  int master = -1;
  pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
    if (chdir(bus->env().photos("").c_str()) != 0) _exit(126);
    execl(binary.c_str(), "still2mov", "open", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  readUntil(master, "cancels", 20.0, seen);
  std::string folder = bus->env().photos("");
  folder.pop_back();  // the trailing slash
  ASSERT_NE(seen.find("[jpg, jpeg] (relative to " + folder + ";"), std::string::npos) << seen;
  const std::string wrong = "notes.txt\n";  // relative to the current folder, as in a shell
  ASSERT_EQ(write(master, wrong.data(), wrong.size()), ssize_t(wrong.size()));
  readUntil(master, "not a jpg or jpeg file", 10.0, seen);
  EXPECT_NE(seen.find("not a jpg or jpeg file"), std::string::npos) << seen;
  const std::string right = "'typed.jpg' \n";  // as a terminal quotes a path dropped on it
  ASSERT_EQ(write(master, right.data(), right.size()), ssize_t(right.size()));
  int status = -1;
  const auto end = Clock::now() + std::chrono::seconds(30);
  while (waitpid(child, &status, WNOHANG) == 0 && Clock::now() < end) readUntil(master, "\x01", 0.1, seen);
  if (Clock::now() >= end) kill(child, SIGKILL), waitpid(child, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  EXPECT_TRUE(exists(bus->env().photos("typed.mov"))) << seen;
}

TEST(OpenPanel, WithoutAPortalOrTerminalNothingShowsAndTheApplicationQuits) {
  REQUIRE_PRIVATE_BUS();
  const std::string photo = bus->env().photos("nopanel.jpg");
  testsupport::writeFile(photo, apptest::voicePhoto());
  // "still2mov open" with no terminal (standard input is empty) returns once it has quit.
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  const auto started = Clock::now();
  apptest::Child open({"open"}, env);
  EXPECT_EQ(open.wait(kQuitLimit + 1.0), 0) << "still running, or failed: " << open.err();
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - started).count(), 4.5);
  // Started by the bus for the desktop's activation, the application has no terminal either.
  bus->stopApp();
  ASSERT_TRUE(bus->callApp("Activate", g_variant_new("(a{sv})", nullptr)));
  const double quit = bus->secondsUntilQuit(Clock::now(), kQuitLimit);
  EXPECT_GE(quit, 0) << "still running " << kQuitLimit << " s after an activation that showed nothing";
  EXPECT_FALSE(exists(bus->env().photos("nopanel.mov")));
  bus->stopApp();
}

}  // namespace
