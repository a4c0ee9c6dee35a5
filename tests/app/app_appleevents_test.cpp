// SPDX-License-Identifier: GPL-2.0-or-later
// Apple event descriptors and their transport: keyed parameters and coercions, list bounds, and a
// nested event sent to this very process by its pid over the private bus, reply and all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "PrivateBus.h"
#include "toolbox/AppleEvents/AEBusReceiver.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"

namespace {

constexpr AEEventClass kTestClass = FOUR_CHAR_CODE("Test");
constexpr AEEventID kEchoID = FOUR_CHAR_CODE("Echo");

TEST(AEDataModel, ParametersAreCopiedReplacedAndCoerced) {
  AppleEvent ev;
  ASSERT_EQ(AECreateAppleEvent(kTestClass, kEchoID, nullptr, kAutoGenerateReturnID, kAnyTransactionID, &ev), noErr);
  SInt16 small = -7;
  ASSERT_EQ(AEPutParamPtr(&ev, FOUR_CHAR_CODE("shrt"), typeSInt16, &small, sizeof small), noErr);
  SInt32 wide = 0;
  DescType actual = 0;
  Size size = 0;
  ASSERT_EQ(AEGetParamPtr(&ev, FOUR_CHAR_CODE("shrt"), typeSInt32, &actual, &wide, sizeof wide, &size), noErr);
  EXPECT_EQ(wide, -7);
  EXPECT_EQ(actual, typeSInt32);
  SInt32 big = 70000;
  AEPutParamPtr(&ev, FOUR_CHAR_CODE("shrt"), typeSInt32, &big, sizeof big);  // replaces
  long count = 0;
  AECountItems(&ev, &count);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(AEGetParamPtr(&ev, FOUR_CHAR_CODE("shrt"), typeSInt16, nullptr, &small, sizeof small, nullptr),
            errAECoercionFail);  // does not fit
  EXPECT_EQ(AEGetParamPtr(&ev, FOUR_CHAR_CODE("none"), typeWildCard, nullptr, &small, sizeof small, nullptr),
            errAEDescNotFound);

  // Text converts between UTF-8 and UTF-16; a wrong-sized integer does not convert at all.
  const std::string text = "Complain. \xC3\xA9";
  AEPutParamPtr(&ev, keyErrorString, typeUTF8Text, text.data(), Size(text.size()));
  AEDesc utxt, back;
  ASSERT_EQ(AEGetParamDesc(&ev, keyErrorString, typeUnicodeText, &utxt), noErr);
  EXPECT_EQ(AEGetDescDataSize(&utxt), Size(2 * 11));
  ASSERT_EQ(AECoerceDesc(&utxt, typeUTF8Text, &back), noErr);
  std::string round(size_t(AEGetDescDataSize(&back)), '\0');
  AEGetDescData(&back, round.data(), Size(round.size()));
  EXPECT_EQ(round, text);
  AEDisposeDesc(&back);
  AEDesc odd;
  AECreateDesc(typeSInt32, "abc", 3, &odd);
  EXPECT_EQ(AECoerceDesc(&odd, typeSInt16, &back), errAECoercionFail);
  // Copying out never writes past the buffer it is given.
  char two[2] = {0, 0};
  EXPECT_EQ(AEGetDescData(&utxt, two, 2), noErr);
  AEDisposeDesc(&odd);
  AEDisposeDesc(&back);
  AEDisposeDesc(&utxt);
  AEDisposeDesc(&ev);
  EXPECT_EQ(ev.descriptorType, typeNull);
  EXPECT_EQ(AEDisposeDesc(&ev), noErr);  // disposing twice is harmless
}

TEST(AEDataModel, ListsAreOneBasedAndBounded) {
  AEDescList list;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  for (SInt32 v : {10, 20, 30}) ASSERT_EQ(AEPutPtr(&list, 0, typeSInt32, &v, sizeof v), noErr);
  SInt32 v = 99;
  EXPECT_EQ(AEPutPtr(&list, 2, typeSInt32, &v, sizeof v), noErr);  // replaces the second
  EXPECT_EQ(AEPutPtr(&list, 9, typeSInt32, &v, sizeof v), errAEDescNotFound);
  long n = 0;
  AECountItems(&list, &n);
  EXPECT_EQ(n, 3);
  AEDesc item;
  AEKeyword key;
  ASSERT_EQ(AEGetNthDesc(&list, 2, typeSInt32, &key, &item), noErr);
  SInt32 got = 0;
  AEGetDescData(&item, &got, sizeof got);
  EXPECT_EQ(got, 99);
  AEDisposeDesc(&item);
  EXPECT_EQ(AEGetNthDesc(&list, 0, typeWildCard, &key, &item), errAEDescNotFound);
  EXPECT_EQ(AEGetNthDesc(&list, 4, typeWildCard, &key, &item), errAEDescNotFound);
  // A list is not a record: no keyed parameters.
  EXPECT_EQ(AEPutParamPtr(&list, keyDirectObject, typeSInt32, &v, sizeof v), errAEWrongDataType);
  AEDisposeDesc(&list);
}

OSErr echoHandler(const AppleEvent* event, AppleEvent* reply, SRefCon) {
  AEDesc direct;
  OSErr err = AEGetParamDesc(event, keyDirectObject, typeWildCard, &direct);
  if (err != noErr) return err;
  if (reply->descriptorType != typeNull) AEPutParamDesc(reply, FOUR_CHAR_CODE("echo"), &direct);
  AEDisposeDesc(&direct);
  return noErr;
}

TEST(AETransport, EventToThisProcessByPidComesBackWhole) {
  REQUIRE_PRIVATE_BUS();
  ASSERT_EQ(AEPublishOnConnection(bus->connection()), noErr);
  AEInstallEventHandler(kTestClass, kEchoID, echoHandler, nullptr, false);

  // A list holding a record holding text: nesting survives the trip.
  AEDescList list;
  AERecord record;
  AECreateList(nullptr, 0, false, &list);
  AECreateList(nullptr, 0, true, &record);
  AEPutParamPtr(&record, FOUR_CHAR_CODE("name"), typeUTF8Text, "IMG_0001.JPG", 12);
  AEPutDesc(&list, 0, &record);
  SInt32 seven = 7;
  AEPutPtr(&list, 0, typeSInt32, &seven, sizeof seven);

  ProcessSerialNumber psn{0, UInt32(getpid())};
  AEAddressDesc target;
  AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  AppleEvent event, reply, unhandled;
  AECreateAppleEvent(kTestClass, kEchoID, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
  AEPutParamDesc(&event, keyDirectObject, &list);

  // The handler runs on this thread's main context, so the sender waits on another thread.
  std::atomic<bool> done{false};
  OSErr sent = noErr, sentUnhandled = noErr;
  std::thread sender([&] {
    sent = AESend(&event, &reply, kAEWaitReply);
    AppleEvent other;
    AECreateAppleEvent(kTestClass, FOUR_CHAR_CODE("Nope"), &target, kAutoGenerateReturnID, kAnyTransactionID, &other);
    sentUnhandled = AESend(&other, &unhandled, kAEWaitReply);
    AEDisposeDesc(&other);
    done = true;
    g_main_context_wakeup(nullptr);
  });
  while (!done) g_main_context_iteration(nullptr, TRUE);
  sender.join();

  ASSERT_EQ(sent, noErr);
  AEDesc echoed, inner, name;
  ASSERT_EQ(AEGetParamDesc(&reply, FOUR_CHAR_CODE("echo"), typeWildCard, &echoed), noErr);
  long n = 0;
  AECountItems(&echoed, &n);
  EXPECT_EQ(n, 2);
  ASSERT_EQ(AEGetNthDesc(&echoed, 1, typeAERecord, nullptr, &inner), noErr);
  ASSERT_EQ(AEGetParamDesc(&inner, FOUR_CHAR_CODE("name"), typeUTF8Text, &name), noErr);
  EXPECT_EQ(AEGetDescDataSize(&name), 12);
  // No handler: the reply says so under 'errn'.
  EXPECT_EQ(sentUnhandled, noErr);
  SInt32 errn = 0;
  EXPECT_EQ(AEGetParamPtr(&unhandled, keyErrorNumber, typeSInt32, nullptr, &errn, sizeof errn, nullptr), noErr);
  EXPECT_EQ(errn, errAEEventNotHandled);

  // A process that serves no Apple events cannot be reached by its pid.
  ProcessSerialNumber none{0, 1};
  AEAddressDesc init;
  AECreateDesc(typeProcessSerialNumber, &none, sizeof none, &init);
  AppleEvent toInit, r2;
  AECreateAppleEvent(kTestClass, kEchoID, &init, kAutoGenerateReturnID, kAnyTransactionID, &toInit);
  EXPECT_EQ(AESend(&toInit, &r2, kAEWaitReply), procNotFound);

  for (AEDesc* d : {&list, &record, &target, &event, &reply, &unhandled, &echoed, &inner, &name, &init, &toInit})
    AEDisposeDesc(d);
  AERemoveEventHandler(kTestClass, kEchoID, echoHandler, false);
  AEUnpublish();
}

int countingCalls = 0;
OSErr countingHandler(const AppleEvent*, AppleEvent*, SRefCon) {
  ++countingCalls;
  return noErr;
}

TEST(AETransport, CallQueuedWhenTheReceiverStopsIsRefusedNotDropped) {
  REQUIRE_PRIVATE_BUS();
  ASSERT_EQ(AEPublishOnConnection(bus->connection()), noErr);
  AEInstallEventHandler(kTestClass, kEchoID, countingHandler, nullptr, false);
  ProcessSerialNumber psn{0, UInt32(getpid())};
  AEAddressDesc target;
  AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target);
  AppleEvent event, reply;
  AECreateAppleEvent(kTestClass, kEchoID, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
  // Found while published, the call waits on the main context, which stops serving before it runs.
  std::atomic<bool> done{false};
  OSErr sent = noErr;
  std::thread sender([&] {
    sent = AESend(&event, &reply, kAEWaitReply, kAENormalPriority, 20 * 60);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  AEUnpublish();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done && std::chrono::steady_clock::now() < end) g_main_context_iteration(nullptr, FALSE);
  sender.join();
  EXPECT_EQ(sent, errAEEventNotHandled);
  EXPECT_EQ(countingCalls, 0);
  AERemoveEventHandler(kTestClass, kEchoID, countingHandler, false);
  for (AEDesc* d : {&target, &event, &reply}) AEDisposeDesc(d);
}

TEST(AETransport, SignatureNamesAreDocumentedHex) {
  EXPECT_EQ(AEBusNameForSignature(FOUR_CHAR_CODE("TVOD")), "com.vantor.AppleEvents.sig_54564F44");
  EXPECT_TRUE(g_dbus_is_name(AEBusNameForSignature(0xFFFFFFFF).c_str()));
}

}  // namespace
