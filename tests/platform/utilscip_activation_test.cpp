// Launching activatable desktop entries on a private session bus: a name the bus starts, one it
// cannot start (the Exec line runs instead) and one whose program fails.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/UtilsCIP.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/LaunchServices/LaunchServices.h"
#include "toolbox/Processes/Processes.h"

using testsupport::writeFile;

namespace {

const char* const kApplicationInterface =
    "<node><interface name='org.freedesktop.Application'>"
    "<method name='Activate'><arg type='a{sv}' direction='in'/></method>"
    "<method name='Open'><arg type='as' direction='in'/><arg type='a{sv}' direction='in'/></method>"
    "<method name='ActivateAction'><arg type='s' direction='in'/><arg type='av' direction='in'/>"
    "<arg type='a{sv}' direction='in'/></method>"
    "</interface></node>";

void logLine(const std::string& line) {
  FILE* f = std::fopen(std::getenv("UTILSCIP_SERVE_LOG"), "a");
  if (f == nullptr) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* args,
            GDBusMethodInvocation* invocation, gpointer) {
  std::string line = method;
  if (std::strcmp(method, "Open") == 0) {
    GVariantIter* uris = nullptr;
    g_variant_get(args, "(as@a{sv})", &uris, nullptr);
    const gchar* uri = nullptr;
    while (g_variant_iter_next(uris, "&s", &uri)) line += std::string(" ") + uri;
    g_variant_iter_free(uris);
  }
  logLine(line);
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

std::string selfPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

template <class F>
bool eventually(F f) {
  for (int k = 0; k < 400; ++k) {
    if (f()) return true;
    usleep(25000);
  }
  return f();
}

bool alive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }

class Activation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::haveTool("dbus-daemon")) << "dbus-daemon is needed to test activation";
    for (const char* v : {"DBUS_SESSION_BUS_ADDRESS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
      const char* old = std::getenv(v);
      saved_.push_back({v, old ? old : "", old != nullptr});
    }
    const std::string dir = dir_.path();
    for (const char* sub : {"/services", "/home", "/home/applications", "/sys"}) mkdir((dir + sub).c_str(), 0700);
    const std::string address = "unix:path=" + dir + "/bus";
    writeFile(dir + "/bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n  <type>session</type>\n  <listen>" + address + "</listen>\n"
              "  <servicedir>" + dir + "/services</servicedir>\n"
              "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    GError* error = nullptr;
    const std::string config = "--config-file=" + dir + "/bus.conf";
    daemon_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error, "dbus-daemon", "--nofork", "--print-address=1",
                               config.c_str(), nullptr);
    ASSERT_NE(daemon_, nullptr) << (error ? error->message : "");
    GDataInputStream* in = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
    g_free(g_data_input_stream_read_line(in, nullptr, nullptr, nullptr));  // listening once it says where
    g_object_unref(in);
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    setenv("XDG_DATA_HOME", (dir + "/home").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir + "/sys").c_str(), 1);
    // Our own look at the bus; GIO uses the same shared connection to announce launches, and it
    // must not end this process when the private bus goes away at the end.
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus_, nullptr);
    g_dbus_connection_set_exit_on_close(bus_, FALSE);
  }

  void TearDown() override {
    for (const std::string& s : scripts_) writeFile(s + ".stop", "");
    for (pid_t pid : started_) {
      if (alive(pid)) kill(pid, SIGTERM);
    }
    if (bus_) g_object_unref(bus_);
    if (daemon_) {
      g_subprocess_send_signal(daemon_, SIGTERM);
      g_subprocess_wait(daemon_, nullptr, nullptr);
      g_object_unref(daemon_);
    }
    for (const Saved& s : saved_) {
      if (s.had) setenv(s.name.c_str(), s.value.c_str(), 1);
      else unsetenv(s.name.c_str());
    }
  }

  // A helper program for an Exec line: records its arguments, then runs until told to stop.
  std::string script(const std::string& name) {
    std::string path = dir_.file(name);
    writeFile(path,
              "#!/bin/sh\n"
              "printf '%s\\n' \"$@\" > \"$0.args\"\n"
              "while [ ! -e \"$0.stop\" ]; do sleep 0.05; done\n");
    chmod(path.c_str(), 0755);
    scripts_.push_back(path);
    return path;
  }

  std::string activatableEntry(const std::string& busName, const std::string& creator, const std::string& exec) {
    std::string path = dir_.file("home/applications/" + busName + ".desktop");
    writeFile(path, "[Desktop Entry]\nType=Application\nName=" + busName + "\nDBusActivatable=true\nExec=" + exec +
                        " %U\nX-Creator-Code=" + creator + "\n");
    return path;
  }

  void service(const std::string& busName, const std::string& exec) {
    writeFile(dir_.file("services/" + busName + ".service"), "[D-BUS Service]\nName=" + busName + "\nExec=" + exec + "\n");
  }

  pid_t owner(const std::string& busName) {
    GVariant* r = g_dbus_connection_call_sync(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus", "GetConnectionUnixProcessID",
                                              g_variant_new("(s)", busName.c_str()), G_VARIANT_TYPE("(u)"),
                                              G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    guint32 pid = 0;
    if (r) {
      g_variant_get(r, "(u)", &pid);
      g_variant_unref(r);
    }
    return pid_t(pid);
  }

  struct Saved {
    std::string name, value;
    bool had;
  };
  testsupport::ScratchDir dir_;
  GSubprocess* daemon_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::vector<Saved> saved_;
  std::vector<std::string> scripts_;
  std::vector<pid_t> started_;
};

}  // namespace

// Not a test of its own: the application the bus starts for the cases below.
TEST(ActivationChild, Serve) {
  const char* name = std::getenv("UTILSCIP_SERVE_NAME");
  if (name == nullptr || std::getenv("UTILSCIP_SERVE_LOG") == nullptr)
    GTEST_SKIP() << "runs only when the bus starts it for the cases below";
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_STARTER, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kApplicationInterface, nullptr);
  ASSERT_NE(node, nullptr);
  std::string path = "/" + std::string(name);
  for (char& c : path) {
    if (c == '.') c = '/';
  }
  static const GDBusInterfaceVTable vtable = {onCall, nullptr, nullptr, {nullptr}};
  ASSERT_NE(g_dbus_connection_register_object(bus, path.c_str(), node->interfaces[0], &vtable, nullptr, nullptr,
                                              nullptr),
            0u);
  GVariant* r = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "RequestName", g_variant_new("(su)", name, 4u),
                                            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  g_variant_unref(r);
  for (;;) g_main_context_iteration(nullptr, TRUE);  // until ended, or the bus goes
}

TEST_F(Activation, TheBusStartsTheApplicationAndHandsItTheFiles) {
  const std::string name = "org.example.Served";
  const std::string log = dir_.file("served.log");
  service(name, "/usr/bin/env UTILSCIP_SERVE_NAME=" + name + " UTILSCIP_SERVE_LOG=" + log + " " + selfPath() +
                    " --gtest_filter=ActivationChild.Serve");
  const std::string notRun = script("exec-line.sh");
  const std::string desktop = activatableEntry(name, "Srvd", notRun);

  pid_t pid = 0;
  ASSERT_EQ(LSLaunchApplicationEntry(desktop, {"file:///photos/a.jpg"}, &pid), noErr);
  started_.push_back(owner(name));
  EXPECT_GT(pid, 0);
  EXPECT_EQ(pid, owner(name)) << "the process that answers for the name";
  EXPECT_EQ(testsupport::readFile(log), "Open file:///photos/a.jpg\n");
  EXPECT_FALSE(FSFileExistsAtPath(notRun + ".args")) << "the Exec line is not run as well";

  EXPECT_EQ(UtilsCIP::FindRunningApp(FOUR_CHAR_CODE("Srvd")), noErr);
  ProcessSerialNumber psn{0, UInt32(pid)};
  ProcessInfoRec info{};
  ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
  EXPECT_EQ(info.processSignature, FOUR_CHAR_CODE("Srvd"));

  FSSpec spec{};
  ASSERT_EQ(FSpFromPath(desktop, &spec), noErr);
  LaunchParamBlockRec pb{};
  pb.launchBlockID = extendedBlock;
  pb.launchEPBLength = extendedBlockLen;
  pb.launchAppSpec = &spec;
  EXPECT_EQ(LaunchApplication(&pb), opWrErr);
  EXPECT_EQ(pb.launchProcessSN.lowLongOfPSN, UInt32(pid));
}

// A launch is reported only when it happened: a name no service provides runs the Exec line, and
// a service whose program fails is a failure.
TEST_F(Activation, ANameTheBusCannotStartRunsTheExecLineOrFails) {
  const std::string ghost = script("ghost.sh");
  FSSpec spec{};
  ASSERT_EQ(FSpFromPath(activatableEntry("org.example.Ghost", "Ghst", ghost), &spec), noErr);
  LaunchParamBlockRec pb{};
  OSErr err = UtilsCIP::LaunchAnotherApplication(&spec, &pb, FOUR_CHAR_CODE("Ghst"));
  pid_t pid = pid_t(pb.launchProcessSN.lowLongOfPSN);
  started_.push_back(pid);
  ASSERT_EQ(err, noErr);
  EXPECT_TRUE(alive(pid));
  EXPECT_TRUE(eventually([&] { return FSFileExistsAtPath(ghost + ".args"); })) << "the Exec line ran";

  service("org.example.Broken", "/bin/false");
  const std::string broken = script("broken.sh");
  const std::string desktop = activatableEntry("org.example.Broken", "Brkn", broken);
  pid_t none = -1;
  EXPECT_NE(LSLaunchApplicationEntry(desktop, {}, &none), noErr);
  EXPECT_EQ(none, -1);
}
