// SPDX-License-Identifier: GPL-2.0-or-later
// Desktop notifications through a stand-in notification server served by this test on the
// private bus: what the application says after each request, the movie opened from the
// notification, and a server that never answers holding nothing up.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Convert2Mov.h"
#include "PrivateBus.h"
#include "StandInService.h"

namespace {

using apptest::exists;
using Clock = std::chrono::steady_clock;

// org.freedesktop.Notifications on its own connection and thread. A silent one takes every call
// and answers none until it goes.
class StandInNotificationServer : public apptest::StandInService {
 public:
  struct Notification {
    std::string sender, appName, icon, summary, body;
    guint32 replaces = 0, id = 0;
    std::vector<std::string> actions;
    bool transient = false;
    bool hasDesktopEntry = false;
  };

  StandInNotificationServer(const std::string& address, std::vector<std::string> capabilities, bool answers = true)
      : StandInService(address, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                       "<interface name='org.freedesktop.Notifications'>"
                       "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
                       "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
                       "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
                       "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
                       "<arg type='u' direction='out'/></method>"
                       "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
                       "<method name='GetServerInformation'><arg type='s' direction='out'/><arg type='s' direction='out'/>"
                       "<arg type='s' direction='out'/><arg type='s' direction='out'/></method>"
                       "</interface>"),
        mCapabilities(std::move(capabilities)),
        mAnswers(answers) {
    start();
  }
  ~StandInNotificationServer() override { stop(); }

  std::vector<Notification> notifications() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mNotifications;
  }
  int calls() const { return mCalls; }

  // Waits until count notifications have been posted; false on time-out.
  bool waitFor(size_t count, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (notifications().size() < count) {
      if (Clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // What a click does: ActionInvoked to the one that posted the notification.
  void invoke(const Notification& n, const std::string& key) {
    struct Invocation {
      StandInNotificationServer* self;
      std::string sender, key;
      guint32 id;
    };
    g_main_context_invoke_full(
        context(), G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          auto* i = static_cast<Invocation*>(data);
          g_dbus_connection_emit_signal(i->self->connection(), i->sender.c_str(), "/org/freedesktop/Notifications",
                                        "org.freedesktop.Notifications", "ActionInvoked",
                                        g_variant_new("(us)", i->id, i->key.c_str()), nullptr);
          return G_SOURCE_REMOVE;
        },
        new Invocation{this, n.sender, key, n.id}, [](gpointer data) { delete static_cast<Invocation*>(data); });
  }

 private:
  void onMethod(const std::string& sender, const std::string& m, GVariant* params,
                GDBusMethodInvocation* inv) override {
    ++mCalls;
    if (!mAnswers) {
      mHeld.push_back(G_DBUS_METHOD_INVOCATION(g_object_ref(inv)));
      return;
    }
    if (m == "GetCapabilities") {
      GVariantBuilder caps;
      g_variant_builder_init(&caps, G_VARIANT_TYPE("as"));
      for (const std::string& c : mCapabilities) g_variant_builder_add(&caps, "s", c.c_str());
      g_dbus_method_invocation_return_value(inv, g_variant_new("(as)", &caps));
    } else if (m == "Notify") {
      Notification n;
      n.sender = sender;
      const gchar *app, *icon, *summary, *body;
      GVariantIter* actions;
      GVariant* hints;
      gint32 timeout;
      g_variant_get(params, "(&su&s&s&sas@a{sv}i)", &app, &n.replaces, &icon, &summary, &body, &actions, &hints,
                    &timeout);
      n.appName = app;
      n.icon = icon;
      n.summary = summary;
      n.body = body;
      const gchar* action;
      while (g_variant_iter_next(actions, "&s", &action)) n.actions.emplace_back(action);
      g_variant_iter_free(actions);
      gboolean transient = FALSE;
      n.transient = g_variant_lookup(hints, "transient", "b", &transient) && transient;
      n.hasDesktopEntry = g_variant_lookup_value(hints, "desktop-entry", nullptr) != nullptr;
      g_variant_unref(hints);
      n.id = n.replaces != 0 ? n.replaces : ++mLastID;
      {
        std::lock_guard<std::mutex> lock(mMutex);
        mNotifications.push_back(n);
      }
      g_dbus_method_invocation_return_value(inv, g_variant_new("(u)", n.id));
    } else if (m == "GetServerInformation") {
      g_dbus_method_invocation_return_value(inv, g_variant_new("(ssss)", "stand-in", "test", "0", "1.2"));
    } else {
      g_dbus_method_invocation_return_value(inv, nullptr);  // CloseNotification
    }
  }

  void onStopping() override {
    for (GDBusMethodInvocation* inv : mHeld)
      g_dbus_method_invocation_return_dbus_error(inv, "org.freedesktop.DBus.Error.NoReply", "the stand-in has gone");
  }

  std::vector<std::string> mCapabilities;
  bool mAnswers;
  std::atomic<int> mCalls{0};
  guint32 mLastID = 0;
  std::vector<GDBusMethodInvocation*> mHeld;
  std::vector<Notification> mNotifications;
};

// Asks the running (or bus-started) application to open the files, as the desktop does.
void openWithApplication(apptest::PrivateBus* bus, const std::vector<std::string>& paths) {
  GVariantBuilder uris;
  g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
  for (const std::string& p : paths) {
    gchar* uri = g_filename_to_uri(p.c_str(), nullptr, nullptr);
    g_variant_builder_add(&uris, "s", uri);
    g_free(uri);
  }
  bus->callApp("Open", g_variant_new("(asa{sv})", &uris, nullptr));
}

// A movie player for the scratch desktop: it writes the path it was asked to open into a file.
std::string installMoviePlayer(const apptest::ScratchEnvironment& env) {
  const std::string opened = env.dir.file("opened");
  const std::string player = env.dir.file("player.sh");
  testsupport::writeFile(player, "#!/bin/sh\nprintf '%s' \"$1\" > " + testsupport::shellQuote(opened) + ".part && mv " +
                                     testsupport::shellQuote(opened) + ".part " + testsupport::shellQuote(opened) + "\n");
  chmod(player.c_str(), 0755);
  mkdir(env.dir.file("data/applications").c_str(), 0700);
  // Without a MIME database in the scratch data folders a movie reads as octet-stream.
  testsupport::writeFile(env.dir.file("data/applications/movie-player.desktop"),
                         "[Desktop Entry]\nType=Application\nName=Movie Player\nExec=" + player +
                             " %f\nMimeType=video/quicktime;application/octet-stream;\n");
  testsupport::writeFile(env.dir.file("config/mimeapps.list"),
                         "[Default Applications]\nvideo/quicktime=movie-player.desktop\n"
                         "application/octet-stream=movie-player.desktop\n");
  return opened;
}

constexpr double kQuitLimit = 6.5;  // the 5 s delay, plus time for a loaded machine

TEST(Notifications, AMovieMadeIsAnnouncedAndItsNotificationOpensTheMovie) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  StandInNotificationServer server(bus->address(), {"actions", "body", "body-markup"});
  const std::string opened = installMoviePlayer(bus->env());
  std::remove(opened.c_str());
  const std::string photo = bus->env().photos("Trip & <Lake>.jpg");
  const std::string movie = bus->env().photos("Trip & <Lake>.mov");
  testsupport::writeFile(photo, apptest::voicePhoto());

  openWithApplication(bus, {photo});
  ASSERT_TRUE(server.waitFor(1, 20)) << "no notification";
  EXPECT_TRUE(exists(movie));
  StandInNotificationServer::Notification n = server.notifications()[0];
  EXPECT_EQ(n.appName, "still2mov");
  EXPECT_EQ(n.icon, kStill2movApplicationID);
  EXPECT_EQ(n.summary, "Movie made");
  // The server reads markup: the name must come through as text.
  EXPECT_NE(n.body.find("Trip &amp; &lt;Lake&gt;.mov"), std::string::npos) << n.body;
  EXPECT_EQ(n.replaces, 0u);
  EXPECT_FALSE(n.transient);
  EXPECT_FALSE(n.hasDesktopEntry) << "a click would bring up the open panel on desktops that know the entry";
  ASSERT_GE(n.actions.size(), 2u);
  EXPECT_EQ(n.actions[0], "default");

  // A click on the notification opens the movie with the desktop's player.
  server.invoke(n, "default");
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (!exists(opened) && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(testsupport::readFile(opened), movie);
  // So does its button.
  std::remove(opened.c_str());
  ASSERT_EQ(n.actions.size(), 4u);
  server.invoke(n, n.actions[2]);
  const auto end2 = Clock::now() + std::chrono::seconds(10);
  while (!exists(opened) && Clock::now() < end2) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(testsupport::readFile(opened), movie);
  bus->stopApp();
}

TEST(Notifications, NoVoiceNoteAndAFailureSayWhatCameOfEachPhotograph) {
  REQUIRE_PRIVATE_BUS();
  // A plain server: no markup, no buttons.
  StandInNotificationServer server(bus->address(), {"body"});
  const std::string plain = bus->env().photos("plain & simple.jpg");
  const std::string latin1 = bus->env().photos("caf\xe9.jpg");  // not UTF-8, as old cards name files
  const std::string notes = bus->env().photos("notes.jpg");
  testsupport::writeFile(plain, fixtures::makeJpeg());
  testsupport::writeFile(latin1, fixtures::makeJpeg());
  testsupport::writeFile(notes, "shopping: milk, film, batteries\n");
  Convert2Mov probe;
  probe.createMovie(bus->env().photos("probe.mov"), notes, 0);
  const std::string problem = probe.lastReport().problem;
  ASSERT_FALSE(problem.empty());

  openWithApplication(bus, {plain, latin1, notes});
  ASSERT_TRUE(server.waitFor(3, 20)) << server.notifications().size() << " notifications";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<StandInNotificationServer::Notification> all = server.notifications();
  ASSERT_EQ(all.size(), 3u);
  std::vector<StandInNotificationServer::Notification> noVoice, failed;
  for (const auto& n : all) {
    EXPECT_TRUE(g_utf8_validate(n.body.c_str(), -1, nullptr)) << n.body;
    EXPECT_TRUE(n.actions.empty()) << n.summary;
    (n.summary == "No voice note" ? noVoice : failed).push_back(n);
  }
  // A camera import sends every photograph: one notice for those without a voice note, each
  // replacing the one before, and none kept in the desktop's history.
  ASSERT_EQ(noVoice.size(), 2u);
  EXPECT_EQ(noVoice[0].replaces, 0u);
  EXPECT_EQ(noVoice[1].replaces, noVoice[0].id);
  EXPECT_TRUE(noVoice[0].transient && noVoice[1].transient);
  EXPECT_NE(noVoice[0].body.find("plain & simple.jpg"), std::string::npos) << noVoice[0].body;
  EXPECT_NE(noVoice[1].body.find("caf"), std::string::npos) << noVoice[1].body;
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].summary, "No movie made");
  EXPECT_NE(failed[0].body.find("notes.jpg: " + problem), std::string::npos) << failed[0].body;
  EXPECT_FALSE(failed[0].transient);
  EXPECT_FALSE(exists(bus->env().photos("notes.mov")));
  bus->stopApp();
}

TEST(Notifications, AServerThatNeverAnswersHoldsUpNeitherTheConversionNorTheQuit) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  StandInNotificationServer server(bus->address(), {"actions", "body"}, /*answers=*/false);
  const std::string photo = bus->env().photos("silent.jpg");
  testsupport::writeFile(photo, apptest::voicePhoto());
  const auto start = Clock::now();
  openWithApplication(bus, {photo});
  const double served = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_TRUE(exists(bus->env().photos("silent.mov")));
  EXPECT_LT(served, 4.0) << "the request waited on the notification server";
  EXPECT_GT(bus->secondsUntilQuit(start, kQuitLimit + 1.0), 0) << "the application did not quit on time";
  EXPECT_GE(server.calls(), 1) << "the server was never asked";
  EXPECT_TRUE(server.notifications().empty());
}

}  // namespace
