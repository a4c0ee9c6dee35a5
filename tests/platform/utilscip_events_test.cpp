// SPDX-License-Identifier: GPL-2.0-or-later
// Open-documents events and the browser's folder event, sent to a receiving copy of this test
// binary over a private session bus.
#include <fcntl.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/UtilsCIP.h"
#include "support/TestPaths.h"
#include "toolbox/AppleEvents/AEBusReceiver.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/Aliases.h"

using testsupport::writeFile;

namespace {
constexpr OSType kBrowser = FOUR_CHAR_CODE("Tbrw");

std::string selfPath() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, size_t(n)) : std::string();
}

template <class F>
bool eventually(F f) {
  for (int k = 0; k < 400; ++k) {
    if (f()) return true;
    usleep(25000);
  }
  return f();
}

void appendLine(const std::string& line) {
  std::ofstream out(std::getenv("UTILSCIP_AE_LOG"), std::ios::app);
  out << line << "\n";
}

// The receiver's handlers write what arrived, one line per event.
OSErr onOpen(const AppleEvent* event, AppleEvent*, SRefCon) {
  AEDesc list;
  AEInitializeDesc(&list);
  if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) != noErr) return errAEDescNotFound;
  long count = 0;
  AECountItems(&list, &count);
  std::string line = "odoc";
  for (long k = 1; k <= count; ++k) {
    AEDesc item;
    AEKeyword key;
    AEInitializeDesc(&item);
    AEGetNthDesc(&list, k, typeWildCard, &key, &item);
    Size size = AEGetDescDataSize(&item);
    Handle h = NewHandle(size);
    AEGetDescData(&item, *h, size);
    FSRef ref;
    Boolean changed = false;
    if (item.descriptorType == typeAlias &&
        FSResolveAlias(nullptr, reinterpret_cast<AliasHandle>(h), &ref, &changed) == noErr)
      line += " " + ref.path;
    else
      line += " ?";
    DisposeHandle(h);
    AEDisposeDesc(&item);
  }
  AEDisposeDesc(&list);
  appendLine(line);
  return noErr;
}

OSErr onSetDirectory(const AppleEvent* event, AppleEvent*, SRefCon) {
  AEDesc list, item;
  AEInitializeDesc(&list);
  AEInitializeDesc(&item);
  AEKeyword key;
  if (AEGetParamDesc(event, keyDirectObject, typeAEList, &list) != noErr ||
      AEGetNthDesc(&list, 1, typeWildCard, &key, &item) != noErr)
    return errAEDescNotFound;
  unsigned char bytes[80] = {};
  Size size = AEGetDescDataSize(&item);
  AEGetDescData(&item, bytes, sizeof bytes);
  std::string name(reinterpret_cast<const char*>(bytes + 7), bytes[6]);
  appendLine("SetD " + UtilsCIP::OsTypeToFourCharCode(item.descriptorType) + " " + std::to_string(size) + " " + name);
  AEDisposeDesc(&item);
  AEDisposeDesc(&list);
  return noErr;
}

class Bus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A failure here would only skip the cases; each case fails in SetUp instead.
    if (!testsupport::haveTool("dbus-daemon")) return;
    std::string out;
    if (testsupport::run("dbus-daemon --session --fork --print-address=1 --print-pid=1", &out) != 0) return;
    size_t nl = out.find('\n');
    if (nl == std::string::npos) return;
    address_ = out.substr(0, nl);
    daemon_ = pid_t(std::atol(out.c_str() + nl + 1));
    setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (daemon_ > 0) kill(daemon_, SIGTERM);
  }
  void SetUp() override {
    ASSERT_TRUE(testsupport::haveTool("dbus-daemon")) << "dbus-daemon is needed (scripts/setup-tests installs it)";
    ASSERT_FALSE(address_.empty()) << "no private session bus could be started";
  }
  void TearDown() override {
    if (receiver_ > 0) {
      kill(receiver_, SIGTERM);
      waitpid(receiver_, nullptr, 0);
    }
  }

  // Starts the receiving copy and waits until it serves events under the browser's signature.
  void startReceiver() {
    log_ = dir_.file("received");
    std::string ready = dir_.file("ready");
    std::string self = selfPath();
    receiver_ = fork();
    if (receiver_ == 0) {
      setenv("UTILSCIP_AE_LOG", log_.c_str(), 1);
      setenv("UTILSCIP_AE_READY", ready.c_str(), 1);
      int quiet = open("/dev/null", O_WRONLY);
      if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
      execl(self.c_str(), self.c_str(), "--gtest_filter=AEChild.Receive", static_cast<char*>(nullptr));
      _exit(127);
    }
    ASSERT_GT(receiver_, 0);
    ASSERT_TRUE(eventually([&] { return FSFileExistsAtPath(ready); }));
  }

  std::string received(size_t lines) {
    std::string text;
    eventually([&] {
      text = testsupport::readFile(log_);
      return size_t(std::count(text.begin(), text.end(), '\n')) >= lines;
    });
    return text;
  }

  static std::string address_;
  static pid_t daemon_;
  testsupport::ScratchDir dir_;
  pid_t receiver_ = 0;
  std::string log_;
};
std::string Bus::address_;
pid_t Bus::daemon_ = 0;
}  // namespace

// Not a test of its own: the receiving end of the cases below.
TEST(AEChild, Receive) {
  const char* ready = std::getenv("UTILSCIP_AE_READY");
  if (ready == nullptr) GTEST_SKIP() << "runs only as the child of the cases below";
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  ASSERT_EQ(AEInstallEventHandler(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), onOpen, nullptr, false), noErr);
  ASSERT_EQ(AEInstallEventHandler(FOUR_CHAR_CODE("Brws"), FOUR_CHAR_CODE("SetD"), onSetDirectory, nullptr, false),
            noErr);
  ASSERT_EQ(AEPublishOnConnection(bus), noErr);
  GVariant* r = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "RequestName",
                                            g_variant_new("(su)", AEBusNameForSignature(kBrowser).c_str(), 4u),
                                            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
  ASSERT_NE(r, nullptr);
  g_variant_unref(r);
  writeFile(ready, "");
  for (;;) g_main_context_iteration(nullptr, TRUE);  // until the parent ends it
}

TEST_F(Bus, OpenDocumentsEventCarriesAliasesToTheFiles) {
  writeFile(dir_.file("a.jpg"), "x");
  writeFile(dir_.file("b c.jpg"), "y");
  FSSpec files[2];
  ASSERT_EQ(FSpFromPath(dir_.file("a.jpg"), &files[0]), noErr);
  ASSERT_EQ(FSpFromPath(dir_.file("b c.jpg"), &files[1]), noErr);
  startReceiver();
  ProcessSerialNumber psn{0, UInt32(receiver_)};
  ASSERT_EQ(UtilsCIP::CreateODEvent(files, FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), psn, 2), noErr);
  EXPECT_EQ(received(1), "odoc " + dir_.file("a.jpg") + " " + dir_.file("b c.jpg") + "\n");

  // A file that does not exist cannot be aliased: nothing is sent.
  FSSpec missing;
  ASSERT_EQ(FSpFromPath(dir_.file("missing.jpg"), &missing), noErr);
  EXPECT_NE(UtilsCIP::CreateODEvent(&missing, FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), psn, 1), noErr);

  // A process that serves no events.
  ProcessSerialNumber self{0, UInt32(getpid())};
  EXPECT_EQ(UtilsCIP::CreateODEvent(files, FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("odoc"), self, 1), procNotFound);
}

TEST_F(Bus, SetDirectoryGoesToTheSignatureAsAClassicSpecification) {
  mkdir(dir_.file("Photos").c_str(), 0755);
  FSSpec folder;
  ASSERT_EQ(FSpFromPath(dir_.file("Photos"), &folder), noErr);
  EXPECT_EQ(UtilsCIP::SetDirectory(folder, kBrowser), procNotFound) << "no one has the signature yet";
  startReceiver();
  ASSERT_EQ(UtilsCIP::SetDirectory(folder, kBrowser), noErr);
  EXPECT_EQ(received(1), "SetD fss  70 Photos\n");

  // A name the classic record cannot hold whole is refused rather than cut.
  FSSpec longName = folder;
  longName.name[0] = 64;
  std::memset(longName.name + 1, 'n', 64);
  EXPECT_EQ(UtilsCIP::SetDirectory(longName, kBrowser), bdNamErr);
}
