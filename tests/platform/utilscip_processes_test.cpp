// SPDX-License-Identifier: GPL-2.0-or-later
// Desktop entries, creators, launching, running processes and the launch time-outs, against
// XDG data folders of the test's own, with small helper programs it writes itself; activatable
// entries against a private session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/UtilsCIP.h"
#include "support/TestPaths.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Aliases.h"
#include "toolbox/LaunchServices/LaunchServices.h"

using testsupport::writeFile;

namespace {
std::string str(ConstStr255Param p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

FSSpec specOf(const std::string& path) {
  FSSpec s{};
  EXPECT_EQ(FSpFromPath(path, &s), noErr) << path;
  return s;
}

std::string pathOf(const FSSpec& s) {
  std::string p;
  EXPECT_EQ(FSpGetPath(&s, &p), noErr);
  return p;
}

// The process's stat line; empty once it is gone (even while it is being read).
std::string statLine(pid_t pid) {
  std::string line;
  FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return line;
  char buf[1024];
  size_t n = std::fread(buf, 1, sizeof buf, f);
  if (!std::ferror(f)) line.assign(buf, n);
  std::fclose(f);
  return line;
}

bool alive(pid_t pid) {
  std::string line = statLine(pid);
  size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

pid_t parentOf(pid_t pid) {
  std::string line = statLine(pid);
  size_t close = line.rfind(')');
  if (close == std::string::npos || close + 4 >= line.size()) return 0;
  return pid_t(std::atol(line.c_str() + close + 4));
}

// Waits for a condition that a started program brings about; generous, never a measurement.
template <class F>
bool eventually(F f) {
  for (int k = 0; k < 400; ++k) {
    if (f()) return true;
    usleep(25000);
  }
  return f();
}

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = dir_.file("home");
    sys_ = dir_.file("sys");
    testsupport::run("mkdir -p " + testsupport::shellQuote(home_ + "/applications") + " " +
                     testsupport::shellQuote(sys_ + "/applications"));
    saved_ = {env("XDG_DATA_HOME"), env("XDG_DATA_DIRS")};
    setenv("XDG_DATA_HOME", home_.c_str(), 1);
    setenv("XDG_DATA_DIRS", sys_.c_str(), 1);
  }
  void TearDown() override {
    for (const std::string& s : scripts_) writeFile(s + ".stop", "");
    for (pid_t pid : launched_) {
      if (alive(pid)) kill(pid, SIGTERM);
    }
    for (pid_t pid : launched_) eventually([&] { return !alive(pid); });
    restore("XDG_DATA_HOME", saved_[0]);
    restore("XDG_DATA_DIRS", saved_[1]);
  }

  static std::pair<bool, std::string> env(const char* n) {
    const char* v = std::getenv(n);
    return {v != nullptr, v ? v : ""};
  }
  static void restore(const char* n, const std::pair<bool, std::string>& v) {
    if (v.first) setenv(n, v.second.c_str(), 1);
    else unsetenv(n);
  }

  // A helper program: records its arguments, then runs until told to stop.
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

  std::string entry(const std::string& folder, const std::string& id, const std::string& name,
                    const std::string& creator, const std::string& program, bool hidden = false,
                    const std::string& more = "") {
    std::string path = folder + "/applications/" + id + ".desktop";
    std::string text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + program + " %F\n" + more;
    if (!creator.empty()) text += "X-Creator-Code=" + creator + "\n";
    if (hidden) text += "NoDisplay=true\n";
    writeFile(path, text);
    return path;
  }

  std::string app(const std::string& id, const std::string& name, const std::string& creator, bool hidden = false) {
    return entry(home_, id, name, creator, script(id + ".sh"), hidden);
  }

  void track(const ProcessSerialNumber& psn) { launched_.push_back(pid_t(psn.lowLongOfPSN)); }

  testsupport::ScratchDir dir_;
  std::string home_, sys_;
  std::vector<std::pair<bool, std::string>> saved_;
  std::vector<std::string> scripts_;
  std::vector<pid_t> launched_;
};


// A private session bus whose services are the test's own.
class Bus : public Desktop {
 protected:
  void SetUp() override {
    Desktop::SetUp();
    ASSERT_TRUE(testsupport::haveTool("dbus-daemon")) << "dbus-daemon is needed to test activation";
    const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    savedAddress_ = {old != nullptr, old ? old : ""};
    mkdir(dir_.file("services").c_str(), 0700);
    const std::string address = "unix:path=" + dir_.file("bus");
    writeFile(dir_.file("bus.conf"),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>" + address + "</listen>"
              "<servicedir>" + dir_.file("services") + "</servicedir>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
              "<allow own=\"*\"/></policy></busconfig>\n");
    GError* error = nullptr;
    const std::string config = "--config-file=" + dir_.file("bus.conf");
    daemon_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error, "dbus-daemon", "--nofork", "--print-address=1",
                               config.c_str(), nullptr);
    ASSERT_NE(daemon_, nullptr) << (error ? error->message : "");
    GDataInputStream* in = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
    g_free(g_data_input_stream_read_line(in, nullptr, nullptr, nullptr));  // listening once it says where
    g_object_unref(in);
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    // GIO announces launches on the shared connection; the private bus going away at the end
    // must not end the test process.
    shared_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (shared_) g_dbus_connection_set_exit_on_close(shared_, FALSE);
    bus_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(bus_, nullptr);
  }
  void TearDown() override {
    Desktop::TearDown();
    if (bus_) g_object_unref(bus_);
    if (shared_) g_object_unref(shared_);
    if (daemon_) {
      g_subprocess_send_signal(daemon_, SIGTERM);
      g_subprocess_wait(daemon_, nullptr, nullptr);
      g_object_unref(daemon_);
    }
    restore("DBUS_SESSION_BUS_ADDRESS", savedAddress_);
  }

  std::string activatable(const std::string& busName, const std::string& creator, const std::string& program) {
    return entry(home_, busName, busName, creator, program, false, "DBusActivatable=true\n");
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

  GSubprocess* daemon_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  GDBusConnection* shared_ = nullptr;
  std::pair<bool, std::string> savedAddress_;
};

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

constexpr OSType kOne = FOUR_CHAR_CODE("Tst1");
}  // namespace

TEST_F(Desktop, FindsApplicationsByCreatorDataHomeFirst) {
  std::string inHome = app("one", "Test One", "Tst1");
  entry(sys_, "one", "Shadowed", "Tst1", "/bin/true");  // same desktop ID: hidden by the home entry
  std::string inSys = entry(sys_, "two", "Test Two", "Tst2", "/bin/true");
  entry(home_, "nocode", "No Code", "", "/bin/true");
  entry(home_, "badcode", "Bad Code", "TooLong", "/bin/true");

  FSSpec spec{};
  ASSERT_TRUE(UtilsCIP::FindOSXFSSpec(kOne, &spec));
  EXPECT_EQ(pathOf(spec), inHome);
  FSRef ref;
  ASSERT_TRUE(UtilsCIP::FindOSXFSRef(FOUR_CHAR_CODE("Tst2"), ref));
  EXPECT_EQ(ref.path, inSys);
  EXPECT_FALSE(UtilsCIP::FindOSXFSSpec(FOUR_CHAR_CODE("None"), &spec));
  EXPECT_FALSE(UtilsCIP::FindOSXFSSpec(FOUR_CHAR_CODE("TooL"), &spec)) << "a code must be four bytes exactly";
  // A creator is four Mac OS Roman characters, written in the entry as UTF-8 like all its text.
  std::string roman = entry(home_, "roman", "Roman", "\xC2\xA9" "Pic", "/bin/true");
  ASSERT_TRUE(UtilsCIP::FindOSXFSSpec(UtilsCIP::FourCharCodeToOSType("\xC2\xA9" "Pic"), &spec));
  EXPECT_EQ(pathOf(spec), roman);
  EXPECT_EQ(UtilsCIP::GetSignature(spec), 0xA9506963u);

  ASSERT_TRUE(UtilsCIP::FindOS9FSSpec(FOUR_CHAR_CODE("Tst2"), &spec));
  EXPECT_EQ(pathOf(spec), inSys);
  EXPECT_FALSE(UtilsCIP::FindOS9FSSpec(FOUR_CHAR_CODE("None"), &spec));

  struct Reset {
    ~Reset() { SetEmulatedSystemVersion(0); }
  } reset;
  for (SInt32 version : {0x0900, 0x1040}) {
    SetEmulatedSystemVersion(version);
    spec.parID = 99;
    ASSERT_TRUE(UtilsCIP::FindAppFspec(kOne, &spec)) << std::hex << version;
    EXPECT_EQ(pathOf(spec), inHome);
    EXPECT_FALSE(UtilsCIP::FindAppFspec(FOUR_CHAR_CODE("None"), &spec));
    EXPECT_EQ(spec.parID, 0) << "cleared";
  }

  // An entry added later is seen at once.
  std::string late = entry(home_, "late", "Late", "Late", "/bin/true");
  ASSERT_TRUE(UtilsCIP::FindOSXFSSpec(FOUR_CHAR_CODE("Late"), &spec));
  EXPECT_EQ(pathOf(spec), late);
  unlink(late.c_str());
  EXPECT_FALSE(UtilsCIP::FindOSXFSSpec(FOUR_CHAR_CODE("Late"), &spec));
}

TEST_F(Desktop, SignaturesNamesAndApplicationTests) {
  FSSpec one = specOf(app("one", "Test One", "Tst1"));
  EXPECT_EQ(UtilsCIP::GetSignature(one), kOne);
  EXPECT_TRUE(UtilsCIP::IsApplication(one, kOne));
  EXPECT_FALSE(UtilsCIP::IsApplication(one, FOUR_CHAR_CODE("Tst2")));
  Str255 name;
  ASSERT_TRUE(UtilsCIP::GetDisplayName(one, name));
  EXPECT_EQ(str(name), "Test One");

  FSSpec nocode = specOf(entry(home_, "nocode", "No Code", "", "/bin/true"));
  EXPECT_EQ(UtilsCIP::GetSignature(nocode), FOUR_CHAR_CODE("????"));

  // A plain file: the recorded creator where the file system keeps one, else '????'.
  FSSpec doc = specOf(dir_.file("doc.mov"));
  ASSERT_EQ(FSpCreate(&doc, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("MooV"), smSystemScript), noErr);
  FInfo info{};
  FSpGetFInfo(&doc, &info);
  EXPECT_EQ(UtilsCIP::GetSignature(doc), info.fdCreator ? info.fdCreator : FOUR_CHAR_CODE("????"));
  EXPECT_FALSE(UtilsCIP::IsApplication(doc, FOUR_CHAR_CODE("TVOD")));

  mkdir(dir_.file("Viewer.app").c_str(), 0755);
  FSSpec bundle = specOf(dir_.file("Viewer.app"));
  ASSERT_TRUE(UtilsCIP::GetDisplayName(bundle, name));
  EXPECT_EQ(str(name), "Viewer");
  FSSpec gone = specOf(dir_.file("Gone.app"));
  ASSERT_TRUE(UtilsCIP::GetDisplayName(gone, name));
  EXPECT_EQ(str(name), "Gone");

  // A long name is cut to 255 bytes without splitting a character.
  std::string longName;
  while (longName.size() < 300) longName += "\xC3\xA9";  // é
  FSSpec wide = specOf(entry(home_, "wide", longName, "Wide", "/bin/true"));
  ASSERT_TRUE(UtilsCIP::GetDisplayName(wide, name));
  EXPECT_EQ(name[0], 254);
}

TEST_F(Desktop, LaunchesFindsAndFrontsARunningApplication) {
  FSSpec spec = specOf(app("one", "Test One", "Tst1"));
  EXPECT_EQ(UtilsCIP::FindRunningApp(kOne), procNotFound);

  LaunchParamBlockRec pb{};
  ASSERT_EQ(UtilsCIP::LaunchAnotherApplication(&spec, &pb, kOne), noErr);
  track(pb.launchProcessSN);
  pid_t pid = pid_t(pb.launchProcessSN.lowLongOfPSN);
  ASSERT_GT(pid, 0);
  EXPECT_NE(parentOf(pid), getpid()) << "launched programs are not our children";
  EXPECT_EQ(UtilsCIP::FindRunningApp(kOne), noErr);

  ProcessSerialNumber psn{};
  Str255 name;
  ASSERT_EQ(UtilsCIP::FindRunningProcess(&psn, kOne, name), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, UInt32(pid));
  EXPECT_EQ(str(name), "Test One");
  ProcessSerialNumber front{};
  ASSERT_EQ(GetFrontProcess(&front), noErr);
  EXPECT_EQ(front.lowLongOfPSN, UInt32(pid));

  ProcessInfoRec info{};
  FSSpec appSpec{};
  info.processAppSpec = &appSpec;
  ASSERT_EQ(GetProcessInformation(&psn, &info), noErr);
  EXPECT_EQ(info.processType, kApplicationType);
  EXPECT_EQ(info.processSignature, kOne);
  EXPECT_EQ(pathOf(appSpec), dir_.file("one.sh"));

  // Launching it again finds the running one.
  LaunchParamBlockRec again{};
  again.launchBlockID = extendedBlock;
  again.launchEPBLength = extendedBlockLen;
  again.launchAppSpec = &spec;
  EXPECT_EQ(LaunchApplication(&again), opWrErr);
  EXPECT_EQ(again.launchProcessSN.lowLongOfPSN, UInt32(pid));
  SetFrontProcess(&again.launchProcessSN);
  EXPECT_EQ(UtilsCIP::LaunchWithFSSpec(kOne, &spec, nullptr), noErr);
  ASSERT_EQ(UtilsCIP::FindRunningProcess(&psn, kOne, nullptr), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, UInt32(pid)) << "still the one process";

  writeFile(dir_.file("one.sh.stop"), "");
  ASSERT_TRUE(eventually([&] { return UtilsCIP::FindRunningApp(kOne) == procNotFound; }));
  EXPECT_EQ(UtilsCIP::FindRunningProcess(&psn, kOne, nullptr), procNotFound);
  EXPECT_EQ(SetFrontProcess(&pb.launchProcessSN), procNotFound);
}

// A process belongs to the entry it was launched from, not to every entry that names its
// program: a sleep of our own is not the entry whose Exec line is "sleep", and an Exec line
// that wraps its program ("env X=1 program") is still found.
TEST_F(Desktop, AProcessIsTheApplicationItWasLaunchedAs) {
  FSSpec napper = specOf(entry(home_, "napper", "Napper", "Napp", "sleep 600"));
  pid_t stray = fork();
  if (stray == 0) {
    execlp("sleep", "sleep", "600", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(stray, 0);
  struct Reap {
    pid_t pid;
    ~Reap() {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  } reap{stray};
  ASSERT_TRUE(eventually([&] { return testsupport::readFile("/proc/" + std::to_string(stray) + "/comm") == "sleep\n"; }));

  EXPECT_EQ(UtilsCIP::FindRunningApp(FOUR_CHAR_CODE("Napp")), procNotFound);
  ProcessSerialNumber strayPsn{0, UInt32(stray)};
  ProcessInfoRec info{};
  ASSERT_EQ(GetProcessInformation(&strayPsn, &info), noErr);
  EXPECT_EQ(info.processSignature, kUnknownType);
  EXPECT_EQ(info.processType, kUnknownType);

  LaunchParamBlockRec pb{};
  pb.launchBlockID = extendedBlock;
  pb.launchEPBLength = extendedBlockLen;
  pb.launchAppSpec = &napper;
  ASSERT_EQ(LaunchApplication(&pb), noErr) << "another sleep is not this application running";
  track(pb.launchProcessSN);
  EXPECT_NE(pb.launchProcessSN.lowLongOfPSN, UInt32(stray));
  ProcessSerialNumber psn{};
  ASSERT_TRUE(eventually([&] { return UtilsCIP::FindRunningProcess(&psn, FOUR_CHAR_CODE("Napp"), nullptr) == noErr; }));
  EXPECT_EQ(psn.lowLongOfPSN, pb.launchProcessSN.lowLongOfPSN);

  FSSpec wrapped = specOf(entry(home_, "wrapped", "Wrapped", "Wrap", "env WRAPPED=1 " + script("wrapped.sh")));
  LaunchParamBlockRec launched{};
  OSErr err = UtilsCIP::LaunchAnotherApplication(&wrapped, &launched, FOUR_CHAR_CODE("Wrap"));
  track(launched.launchProcessSN);
  ASSERT_EQ(err, noErr);
  Str255 name;
  ASSERT_EQ(UtilsCIP::FindRunningProcess(&psn, FOUR_CHAR_CODE("Wrap"), name), noErr);
  EXPECT_EQ(psn.lowLongOfPSN, launched.launchProcessSN.lowLongOfPSN);
  EXPECT_EQ(str(name), "Wrapped");
  pb.launchAppSpec = &wrapped;
  EXPECT_EQ(LaunchApplication(&pb), opWrErr) << "found running";
  EXPECT_EQ(pb.launchProcessSN.lowLongOfPSN, launched.launchProcessSN.lowLongOfPSN);
}

TEST_F(Desktop, BackgroundApplicationsRunButAreNotFoundAsApplications) {
  FSSpec spec = specOf(app("agent", "Agent", "Agnt", /*hidden=*/true));
  LaunchParamBlockRec pb{};
  ASSERT_EQ(UtilsCIP::LaunchAnotherApplication(&spec, &pb, FOUR_CHAR_CODE("Agnt")), noErr);
  track(pb.launchProcessSN);
  EXPECT_EQ(UtilsCIP::FindRunningApp(FOUR_CHAR_CODE("Agnt")), noErr);
  ProcessSerialNumber psn{};
  EXPECT_EQ(UtilsCIP::FindRunningProcess(&psn, FOUR_CHAR_CODE("Agnt"), nullptr), procNotFound);
  ASSERT_EQ(UtilsCIP::SetFrontProcessByCreator(FOUR_CHAR_CODE("Agnt")), noErr);
  ProcessSerialNumber front{};
  GetFrontProcess(&front);
  EXPECT_EQ(front.lowLongOfPSN, pb.launchProcessSN.lowLongOfPSN);
  EXPECT_EQ(UtilsCIP::SetFrontProcessByCreator(FOUR_CHAR_CODE("None")), procNotFound);
}

TEST_F(Desktop, LaunchEventFilesReachTheProgram) {
  FSSpec spec = specOf(app("viewer", "Viewer", "View"));
  writeFile(dir_.file("a.jpg"), "x");
  writeFile(dir_.file("b.jpg"), "y");
  AEDesc target, list, event;
  AEInitializeDesc(&target);
  AEInitializeDesc(&list);
  AEInitializeDesc(&event);
  SInt32 self = SInt32(getpid());
  ASSERT_EQ(AECreateDesc(typeKernelProcessID, &self, sizeof self, &target), noErr);
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  for (const char* f : {"a.jpg", "b.jpg"}) {
    AliasHandle alias = nullptr;
    ASSERT_EQ(NewAliasFromPath(dir_.file(f).c_str(), &alias), noErr);
    ASSERT_EQ(AEPutPtr(&list, 0, typeAlias, *alias, GetAliasSize(alias)), noErr);
    DisposeAlias(alias);
  }
  ASSERT_EQ(AECreateAppleEvent(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), &target, kAutoGenerateReturnID,
                               kAnyTransactionID, &event),
            noErr);
  ASSERT_EQ(AEPutParamDesc(&event, keyDirectObject, &list), noErr);
  EXPECT_EQ(UtilsCIP::LaunchWithFSSpec(FOUR_CHAR_CODE("View"), &spec, &event), noErr);
  AEDisposeDesc(&target);
  AEDisposeDesc(&list);
  AEDisposeDesc(&event);
  ProcessSerialNumber psn{};
  ASSERT_TRUE(eventually([&] { return UtilsCIP::FindRunningApp(FOUR_CHAR_CODE("View")) == noErr; }));
  ASSERT_EQ(UtilsCIP::SetFrontProcessByCreator(FOUR_CHAR_CODE("View")), noErr);
  GetFrontProcess(&psn);
  track(psn);
  ASSERT_TRUE(eventually([&] { return FSFileExistsAtPath(dir_.file("viewer.sh.args")); }));
  EXPECT_TRUE(eventually([&] {
    return testsupport::readFile(dir_.file("viewer.sh.args")) == dir_.file("a.jpg") + "\n" + dir_.file("b.jpg") + "\n";
  })) << testsupport::readFile(dir_.file("viewer.sh.args"));
}

TEST_F(Desktop, LaunchFailuresAndPlainExecutables) {
  FSSpec missing = specOf(dir_.file("missing.desktop"));
  EXPECT_EQ(UtilsCIP::LaunchWithFSSpec(kOne, &missing, nullptr), fnfErr);
  writeFile(dir_.file("notes.txt"), "not a program");
  FSSpec notes = specOf(dir_.file("notes.txt"));
  EXPECT_EQ(UtilsCIP::LaunchWithFSSpec(kOne, &notes, nullptr), paramErr);
  FSSpec broken = specOf(entry(home_, "broken", "Broken", "Brkn", dir_.file("no-such-program")));
  EXPECT_NE(UtilsCIP::LaunchWithFSSpec(FOUR_CHAR_CODE("Brkn"), &broken, nullptr), noErr);

  LaunchParamBlockRec bad{};
  bad.launchBlockID = 0;
  bad.launchAppSpec = &notes;
  EXPECT_EQ(LaunchApplication(&bad), paramErr);

  // A program without a desktop entry runs, but has no creator.
  FSSpec plain = specOf(script("plain.sh"));
  LaunchParamBlockRec pb{};
  pb.launchBlockID = extendedBlock;
  pb.launchEPBLength = extendedBlockLen;
  pb.launchAppSpec = &plain;
  ASSERT_EQ(LaunchApplication(&pb), noErr);
  track(pb.launchProcessSN);
  ProcessInfoRec info{};
  FSSpec appSpec{};
  info.processAppSpec = &appSpec;
  ASSERT_EQ(GetProcessInformation(&pb.launchProcessSN, &info), noErr);
  EXPECT_EQ(info.processSignature, kUnknownType);
  EXPECT_EQ(info.processType, kUnknownType);
}

TEST_F(Desktop, WaitingForACreatorThatNeverRunsTimesOut) {
  // The program starts, but nothing with the awaited creator ever appears.
  FSSpec spec = specOf(script("silent.sh"));
  LaunchParamBlockRec pb{};
  UInt32 start = TickCount();
  EXPECT_EQ(UtilsCIP::LaunchAnotherApplication(&spec, &pb, FOUR_CHAR_CODE("Nope")), connectionInvalid);
  track(pb.launchProcessSN);
  EXPECT_GE(TickCount() - start, 480u);
  EXPECT_TRUE(alive(pid_t(pb.launchProcessSN.lowLongOfPSN)));
}

TEST_F(Desktop, DocumentsThatCannotBeDeliveredTimeOut) {
  FSSpec spec = specOf(app("docs", "Docs", "Docs"));
  writeFile(dir_.file("a.jpg"), "x");
  FSSpec doc = specOf(dir_.file("a.jpg"));
  // No documents: done as soon as the program runs.
  EXPECT_EQ(UtilsCIP::LaunchWithDocument(&spec, FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), &doc, 0,
                                         FOUR_CHAR_CODE("Docs")),
            noErr);
  ProcessSerialNumber psn{};
  ASSERT_EQ(UtilsCIP::SetFrontProcessByCreator(FOUR_CHAR_CODE("Docs")), noErr);
  GetFrontProcess(&psn);
  track(psn);
  // The helper serves no Apple events, so the open-documents event never gets through.
  EXPECT_EQ(UtilsCIP::LaunchWithDocument(&spec, FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), &doc, 1,
                                         FOUR_CHAR_CODE("Docs")),
            connectionInvalid);
}

TEST_F(Desktop, OpeningAnEntryLaunchesIt) {
  FSSpec spec = specOf(app("opened", "Opened", "Opnd"));
  FSRef ref;
  ASSERT_EQ(FSpMakeFSRef(&spec, &ref), noErr);
  ASSERT_EQ(UtilsCIP::LaunchAppByRef(ref), noErr);
  ASSERT_TRUE(eventually([&] { return UtilsCIP::FindRunningApp(FOUR_CHAR_CODE("Opnd")) == noErr; }));
  ProcessSerialNumber psn{};
  ASSERT_EQ(UtilsCIP::SetFrontProcessByCreator(FOUR_CHAR_CODE("Opnd")), noErr);
  GetFrontProcess(&psn);
  track(psn);
  FSRef gone = ref;
  gone.path = dir_.file("gone.desktop");
  EXPECT_EQ(UtilsCIP::LaunchAppByRef(gone), fnfErr);
}

TEST(OwnProcess, WalksProcessesAndKnowsItsOwnProgram) {
  ProcessSerialNumber psn{0, kNoProcess};
  bool sawSelf = false;
  OSErr err;
  while ((err = GetNextProcess(&psn)) == noErr) {
    if (psn.lowLongOfPSN == UInt32(getpid())) sawSelf = true;
  }
  EXPECT_EQ(err, procNotFound);
  EXPECT_TRUE(sawSelf);

  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  FSSpec active{}, interior{}, exterior{};
  EXPECT_EQ(UtilsCIP::GetActiveDir(&active), noErr);
  EXPECT_EQ(UtilsCIP::GetInteriorDir(&interior), noErr);
  EXPECT_EQ(pathOf(active), exe);
  EXPECT_EQ(pathOf(interior), exe);
  EXPECT_EQ(UtilsCIP::GetExteriorDir(&exterior), noErr);
  std::string up = exe;
  for (int k = 0; k < 3 && up != "/"; ++k) {
    up = up.substr(0, up.find_last_of('/'));
    if (up.empty()) up = "/";
  }
  EXPECT_EQ(pathOf(exterior), up);
}

// The unit names desktops, flatpak and the bus give the applications they start, and names that
// only look like them.
TEST(ApplicationUnits, AUnitNamesTheApplicationItWasStartedFor) {
  struct Row {
    const char* unit;
    const char* desktopID;
    bool belongs;
  };
  const Row rows[] = {
      {"app-gnome-org.gnome.Terminal-4242.scope", "org.gnome.Terminal.desktop", true},
      {"app-org.gnome.Terminal-4242.scope", "org.gnome.Terminal.desktop", true},
      {"app-flatpak-org.gnome.Calculator-183729.scope", "org.gnome.Calculator.desktop", true},
      {"app-gnome-firefox\\x2desr-2301.scope", "firefox-esr.desktop", true},
      {"app-gnome-firefox-esr-2301.scope", "firefox-esr.desktop", true},
      {"app-org.kde.konsole@6b1f2c.service", "org.kde.konsole.desktop", true},
      {"app-KDE-org.kde.dolphin@0a9e.service", "org.kde.dolphin.desktop", true},
      {"app-gnome-org.gnome.Nautilus.service", "org.gnome.Nautilus.desktop", true},
      {"dbus-:1.14-org.gnome.Calendar@0.service", "org.gnome.Calendar.desktop", true},
      {"app-gnome-org.gnome.Terminalx-4242.scope", "org.gnome.Terminal.desktop", false},
      {"app-gnome-xorg.gnome.Terminal-4242.scope", "org.gnome.Terminal.desktop", false},
      {"app-gnome-org.gnome.Terminal-4242.scope", "Terminal.desktop", false},
      {"app-gnome-firefox-esr-2301.scope", "esr.desktop", false},
      {"app-org.gnome.Terminal.scope", "org.gnome.Terminal.desktop", false},
      {"session-2.scope", "session.desktop", false},
      {"user@1000.service", "user.desktop", false},
      {"dbus-:1.14-org.gnome.Calendar@0.service", "org.gnome.Cal.desktop", false},
  };
  for (const Row& r : rows) EXPECT_EQ(UnitBelongsToApplication(r.unit, r.desktopID), r.belongs) << r.unit << " / " << r.desktopID;
}

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

TEST_F(Bus, TheBusStartsTheApplicationAndHandsItTheFiles) {
  const std::string name = "org.example.Served";
  const std::string log = dir_.file("served.log");
  service(name, "/usr/bin/env UTILSCIP_SERVE_NAME=" + name + " UTILSCIP_SERVE_LOG=" + log + " " + selfPath() +
                    " --gtest_filter=ActivationChild.Serve");
  const std::string notRun = script("exec-line.sh");
  const std::string desktop = activatable(name, "Srvd", notRun);

  pid_t pid = 0;
  ASSERT_EQ(LSLaunchApplicationEntry(desktop, {"file:///photos/a.jpg"}, &pid), noErr);
  track(ProcessSerialNumber{0, UInt32(owner(name))});
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
TEST_F(Bus, ANameTheBusCannotStartRunsTheExecLineOrFails) {
  const std::string ghost = script("ghost.sh");
  FSSpec spec{};
  ASSERT_EQ(FSpFromPath(activatable("org.example.Ghost", "Ghst", ghost), &spec), noErr);
  LaunchParamBlockRec pb{};
  OSErr err = UtilsCIP::LaunchAnotherApplication(&spec, &pb, FOUR_CHAR_CODE("Ghst"));
  track(pb.launchProcessSN);
  ASSERT_EQ(err, noErr);
  pid_t pid = pid_t(pb.launchProcessSN.lowLongOfPSN);
  EXPECT_TRUE(alive(pid));
  EXPECT_TRUE(eventually([&] { return FSFileExistsAtPath(ghost + ".args"); })) << "the Exec line ran";

  service("org.example.Broken", "/bin/false");
  const std::string broken = script("broken.sh");
  const std::string desktop = activatable("org.example.Broken", "Brkn", broken);
  pid_t none = -1;
  EXPECT_NE(LSLaunchApplicationEntry(desktop, {}, &none), noErr);
  EXPECT_EQ(none, -1);
}
