// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov as the session's background application on a private bus: started by the camera
// event, fed by desktop open requests, and quitting by itself about 5 s after its first request.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "PrivateBus.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/Aliases.h"

namespace {

using apptest::exists;
using Clock = std::chrono::steady_clock;

// The quit limit: 5 s, plus time for a loaded machine.
constexpr double kQuitLimit = 6.5;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Reply {
  OSErr sent = noErr;
  DescType type = typeNull;
  long params = 0;
  bool hasErrn = false;
  SInt32 errn = 0;
  std::string errs;
};

// Sends 'Itnt'/'St2M' to the application by its bus name, as the import module does.
Reply sendEvent(DescType type, const std::string& bytes, AESendMode mode = kAEWaitReply) {
  AEAddressDesc target;
  const std::string app = kStill2movApplicationID;
  AECreateDesc(typeApplicationBundleID, app.data(), Size(app.size()), &target);
  AppleEvent event, reply;
  AECreateAppleEvent(kPTPEventClass, kPTPConvertEventID, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
  AEPutParamPtr(&event, keyDirectObject, type, bytes.data(), Size(bytes.size()));
  Reply r;
  r.sent = AESend(&event, &reply, mode);
  r.type = reply.descriptorType;
  if (r.type == typeAppleEvent) AECountItems(&reply, &r.params);
  r.hasErrn = AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, nullptr, &r.errn, sizeof r.errn, nullptr) == noErr;
  AEDesc s;
  if (AEGetParamDesc(&reply, keyErrorString, typeUTF8Text, &s) == noErr) {
    r.errs.resize(size_t(AEGetDescDataSize(&s)));
    AEGetDescData(&s, r.errs.data(), Size(r.errs.size()));
    AEDisposeDesc(&s);
  }
  AEDisposeDesc(&event);
  AEDisposeDesc(&reply);
  AEDisposeDesc(&target);
  return r;
}

std::string aliasTo(const std::string& path) {
  AliasHandle a = nullptr;
  EXPECT_EQ(NewAliasFromPath(path.c_str(), &a), noErr);
  std::string bytes(*reinterpret_cast<Handle>(a), size_t(GetAliasSize(a)));
  DisposeAlias(a);
  return bytes;
}

std::string newPhoto(const apptest::PrivateBus* bus, const std::string& name) {
  const std::string path = bus->env().photos(name);
  testsupport::writeFile(path, apptest::voicePhoto());
  return path;
}

TEST(AppBus, FirstEventStartsTheApplicationAndIsServed) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  ASSERT_FALSE(bus->appRunning());
  const std::string photo = newPhoto(bus, "IMG_0101.JPG");
  // The camera side exactly as the gphoto2 hook runs it.
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  fixtures::RunResult r = fixtures::runStill2mov({"send", photo}, env);
  const auto served = Clock::now();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists(bus->env().photos("IMG_0101.mov"))) << "the event that started the process was not served";
  EXPECT_TRUE(bus->appRunning());
  EXPECT_GE(bus->secondsUntilQuit(served, kQuitLimit), 4.5) << "no quit about 5 s after the first request";
}

TEST(AppBus, TwoEventsTwoSecondsApartAreServedAndTheQuitIsNotPostponed) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string first = newPhoto(bus, "first.jpg");
  const std::string second = newPhoto(bus, "second.jpg");
  Reply a = sendEvent(typeAlias, aliasTo(first));
  const auto firstServed = Clock::now();
  ASSERT_EQ(a.sent, noErr);
  EXPECT_EQ(a.params, 0);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ASSERT_TRUE(bus->appRunning());
  Reply b = sendEvent(typeAlias, aliasTo(second));
  ASSERT_EQ(b.sent, noErr);
  EXPECT_EQ(b.params, 0);
  EXPECT_TRUE(exists(bus->env().photos("first.mov")));
  EXPECT_TRUE(exists(bus->env().photos("second.mov")));
  const double lived = bus->secondsUntilQuit(firstServed, kQuitLimit);
  if (lived < 0)
    ADD_FAILURE() << "still running " << kQuitLimit << " s after the first request: the second postponed the quit";
  else
    EXPECT_GE(lived, 4.5) << "quit before its 5 s";
}

TEST(AppBus, DirectObjectThatIsNoAliasIsIgnoredAndTheAppStillQuits) {
  REQUIRE_PRIVATE_BUS();
  const std::string photo = newPhoto(bus, "url.jpg");
  Reply url = sendEvent(typeFileURL, "file://" + photo);
  const auto first = Clock::now();
  ASSERT_EQ(url.sent, noErr);
  EXPECT_EQ(url.type, typeAppleEvent);
  EXPECT_EQ(url.params, 0);
  const std::u16string utf16 = u"/tmp/url.jpg";
  Reply text = sendEvent(typeUnicodeText, std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2));
  EXPECT_EQ(text.sent, noErr);
  EXPECT_EQ(text.params, 0);
  EXPECT_FALSE(exists(bus->env().photos("url.mov")));
  EXPECT_GE(bus->secondsUntilQuit(first, kQuitLimit), 0) << "an ignored event must still arm the quit";
}

TEST(AppBus, UnresolvableAliasIsComplainedAboutOnlyToASenderThatWantsAReply) {
  REQUIRE_PRIVATE_BUS();
  const std::string photo = newPhoto(bus, "gone.jpg");
  const std::string alias = aliasTo(photo);
  std::remove(photo.c_str());
  Reply r = sendEvent(typeAlias, alias);
  ASSERT_EQ(r.sent, noErr);
  EXPECT_TRUE(r.hasErrn);
  EXPECT_EQ(r.errn, fnfErr);
  EXPECT_EQ(r.errs, "Complain.");

  Reply quiet = sendEvent(typeAlias, alias, kAENoReply);
  EXPECT_EQ(quiet.sent, noErr);
  EXPECT_EQ(quiet.type, typeNull);
  EXPECT_FALSE(quiet.hasErrn);
  // The application took the quiet one too and is still there to answer.
  Reply again = sendEvent(typeAlias, alias);
  EXPECT_EQ(again.errn, fnfErr);
  EXPECT_TRUE(bus->waitForName(kStill2movApplicationID, false, 20.0));
}

TEST(AppBus, SendSaysWhichConversionsFailedAndExitsOne) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string good = newPhoto(bus, "good.jpg");
  const std::string notJpeg = bus->env().photos("notes.jpg");
  testsupport::writeFile(notJpeg, "a shopping list, not a photograph");
  const std::string blocked = newPhoto(bus, "blocked.jpg");
  mkdir(bus->env().photos("blocked.mov").c_str(), 0700);
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  fixtures::RunResult r = fixtures::runStill2mov({"send", notJpeg, good, blocked}, env);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(exists(bus->env().photos("good.mov")));
  EXPECT_NE(r.err.find(notJpeg + ": cannot be read (not a JPEG file)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(blocked + ": "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(good), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("errn"), std::string::npos) << "the alias resolved: " << r.err;
  // All three were served: the good one is not reported, and none twice.
  EXPECT_EQ(fixtures::runStill2mov({"send", good}, env).status, 0);
}

TEST(AppBus, SenderHearsWhenNoOneServesTheName) {
  REQUIRE_PRIVATE_BUS();
  AEAddressDesc target;
  const std::string nobody = "com.vantor.camera.nobody";
  AECreateDesc(typeApplicationBundleID, nobody.data(), Size(nobody.size()), &target);
  AppleEvent event, reply;
  AECreateAppleEvent(kPTPEventClass, kPTPConvertEventID, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
  EXPECT_EQ(AESend(&event, &reply, kAEWaitReply), procNotFound);
  EXPECT_EQ(AESend(&event, &reply, kAENoReply), procNotFound);
  AEDisposeDesc(&event);
  AEDisposeDesc(&target);
}

TEST(AppBus, DesktopOpenRequestWithTwoFilesConvertsBoth) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string a = newPhoto(bus, "open a.jpg");
  const std::string b = newPhoto(bus, "open-b.JPG");
  GVariantBuilder uris;
  g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
  for (const std::string& p : {a, b}) {
    gchar* uri = g_filename_to_uri(p.c_str(), nullptr, nullptr);
    g_variant_builder_add(&uris, "s", uri);
    g_free(uri);
  }
  ASSERT_TRUE(bus->callApp("Open", g_variant_new("(asa{sv})", &uris, nullptr)));
  const auto end = Clock::now() + std::chrono::seconds(20);
  while (!(exists(bus->env().photos("open a.mov")) && exists(bus->env().photos("open-b.mov"))) && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(exists(bus->env().photos("open a.mov")));
  EXPECT_TRUE(exists(bus->env().photos("open-b.mov")));
  EXPECT_TRUE(bus->waitForName(kStill2movApplicationID, false, 20.0));
}

TEST(AppBus, SecondInstanceHandsItsDocumentsToTheRunningOne) {
  REQUIRE_WORKING_CONVERSION();
  REQUIRE_PRIVATE_BUS();
  const std::string late = newPhoto(bus, "late.jpg");
  ASSERT_EQ(sendEvent(typeAlias, aliasTo(newPhoto(bus, "early.jpg"))).sent, noErr);
  std::map<std::string, std::string> env = bus->env().env();
  env["DBUS_SESSION_BUS_ADDRESS"] = bus->address();
  const auto started = Clock::now();
  fixtures::RunResult r = fixtures::runStill2mov({"app", late}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(secondsSince(started), 4.0) << "the second instance should hand over and return at once";
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (!exists(bus->env().photos("late.mov")) && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(exists(bus->env().photos("late.mov")));
  EXPECT_TRUE(bus->waitForName(kStill2movApplicationID, false, 20.0));
}

}  // namespace
