// SPDX-License-Identifier: GPL-2.0-or-later
// A private D-Bus session bus for the application tests, one per test process: its service
// folder starts the built still2mov on demand, and everything it starts sees scratch folders only.
#pragma once
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "AppTestSupport.h"
#include "Controller.h"
#include "support/TestPaths.h"

namespace apptest {

class PrivateBus {
 public:
  // Null when dbus-daemon is missing (scripts/setup-tests installs it).
  static PrivateBus* shared() {
    static PrivateBus* bus = testsupport::haveTool("dbus-daemon") ? new PrivateBus() : nullptr;
    return bus;
  }

  const ScratchEnvironment& env() const { return mEnv; }
  GDBusConnection* connection() const { return mConnection; }

  bool nameHasOwner(const std::string& name) const {
    GVariant* r = g_dbus_connection_call_sync(mConnection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "NameHasOwner", g_variant_new("(s)", name.c_str()),
                                              G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (r) {
      g_variant_get(r, "(b)", &owned);
      g_variant_unref(r);
    }
    return owned;
  }

  // Waits until the name is owned (or not); false on time-out.
  bool waitForName(const std::string& name, bool owned, double seconds) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (nameHasOwner(name) != owned) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }

  bool appRunning() const { return nameHasOwner(kStill2movApplicationID); }

  // Seconds from since until the application gave up its name (it does so as it quits), or a
  // negative number when it still runs after limit seconds from since.
  double secondsUntilQuit(std::chrono::steady_clock::time_point since, double limit) const {
    const auto end = since + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(limit));
    while (appRunning()) {
      if (std::chrono::steady_clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }

  // Ends a still2mov left running by an earlier test, so that each test starts from none.
  void stopApp() const {
    if (!appRunning()) return;
    callApp("ActivateAction", g_variant_new("(sava{sv})", "quit", nullptr, nullptr));
    waitForName(kStill2movApplicationID, false, 15.0);
  }

  // A method of the application's org.freedesktop.Application interface (starting it if need be).
  bool callApp(const char* method, GVariant* args, int timeoutMs = 60000) const {
    GError* error = nullptr;
    GVariant* r = g_dbus_connection_call_sync(mConnection, kStill2movApplicationID, "/com/vantor/camera/still2mov",
                                              "org.freedesktop.Application", method, args, nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    if (error) {
      ADD_FAILURE() << method << ": " << error->message;
      g_error_free(error);
    }
    if (r) g_variant_unref(r);
    return r != nullptr;
  }

  std::string address() const { return mAddress; }

 private:
  PrivateBus() {
    const std::string dir = mEnv.dir.path();
    mkdir((dir + "/services").c_str(), 0700);
    mAddress = "unix:path=" + dir + "/bus";
    testsupport::writeFile(dir + "/bus.conf",
                           "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig>\n  <type>session</type>\n  <listen>" + mAddress + "</listen>\n"
                           "  <servicedir>" + dir + "/services</servicedir>\n"
                           "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    // The service file that is installed, naming the program under test.
    std::string service = testsupport::readFile(testsupport::sourceDir() +
                                                "/packaging/com.vantor.camera.still2mov.service.in");
    const std::string placeholder = "@STILL2MOV_BINARY@";
    service.replace(service.find(placeholder), placeholder.size(), testsupport::binaryPath());
    testsupport::writeFile(dir + "/services/" + std::string(kStill2movApplicationID) + ".service", service);
    setenv("DBUS_SESSION_BUS_ADDRESS", mAddress.c_str(), 1);
    unsetenv("DBUS_STARTER_ADDRESS");
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
    for (const auto& [name, value] : mEnv.env()) g_subprocess_launcher_setenv(launcher, name.c_str(), value.c_str(), TRUE);
    g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", mAddress.c_str(), TRUE);
    const std::string config = "--config-file=" + dir + "/bus.conf";
    mDaemon = g_subprocess_launcher_spawn(launcher, nullptr, "dbus-daemon", "--nofork", "--print-address=1",
                                          config.c_str(), nullptr);
    g_object_unref(launcher);
    if (mDaemon == nullptr) std::abort();
    // The address line tells that the daemon listens.
    GDataInputStream* in = g_data_input_stream_new(g_subprocess_get_stdout_pipe(mDaemon));
    gchar* line = g_data_input_stream_read_line(in, nullptr, nullptr, nullptr);
    g_free(line);
    g_object_unref(in);
    mConnection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (mConnection == nullptr) std::abort();
    std::atexit([] {
      PrivateBus* b = shared();
      if (b == nullptr) return;
      b->stopApp();
      g_subprocess_send_signal(b->mDaemon, SIGTERM);
      g_subprocess_wait(b->mDaemon, nullptr, nullptr);
      g_object_unref(b->mDaemon);
      delete b;  // removes the scratch folder
    });
  }

  ScratchEnvironment mEnv;
  std::string mAddress;
  GSubprocess* mDaemon = nullptr;
  GDBusConnection* mConnection = nullptr;
};

#define REQUIRE_PRIVATE_BUS()                                                                  \
  apptest::PrivateBus* bus = apptest::PrivateBus::shared();                                    \
  ASSERT_NE(bus, nullptr) << "dbus-daemon is not installed (scripts/setup-tests installs it)"; \
  bus->stopApp()

}  // namespace apptest
