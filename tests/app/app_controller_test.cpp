// SPDX-License-Identifier: GPL-2.0-or-later
// The controller in this process: the resize preference, movie paths, the three requests with
// their replies (a failed conversion's included), and the quit timer that the first request arms
// and nothing postpones.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "AppTestSupport.h"
#include "Controller.h"
#include "toolbox/AppKit/NSApplication.h"
#include "toolbox/AppKit/NSTimer.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/Aliases.h"

namespace {

using apptest::exists;
using apptest::ScratchEnvironment;

struct ControllerTest : ::testing::Test {
  ScratchEnvironment env;
  void SetUp() override { NSApplication::sharedApplication()->reset(); }
  void TearDown() override { NSApplication::sharedApplication()->reset(); }

  // A 'St2M' event with the given direct object, dispatched as the bus would; the reply as
  // the sender would get it (nothing when it wants none).
  struct Outcome {
    bool hasErrn = false;
    SInt32 errn = 0;
    std::string errs;
    long replyParams = 0;
    DescType replyType = typeNull;
    bool hasResult = false;  // the conversion's failure, beside 'errn'/'errs'
    SInt32 resultStatus = 0;
    std::string resultMessage;
  };
  Outcome dispatch(Controller& c, DescType type, const std::string& bytes, bool wantReply = true) {
    c.registerEvents({});
    AppleEvent event, reply;
    AECreateAppleEvent(kPTPEventClass, kPTPConvertEventID, nullptr, kAutoGenerateReturnID, kAnyTransactionID, &event);
    AEPutParamPtr(&event, keyDirectObject, type, bytes.data(), Size(bytes.size()));
    AEInitializeDesc(&reply);
    if (wantReply) AECreateAppleEvent(FOUR_CHAR_CODE("aevt"), FOUR_CHAR_CODE("ansr"), nullptr, 0, 0, &reply);
    EXPECT_EQ(NSAppleEventManager::sharedAppleEventManager().dispatchRawAppleEvent(&event, &reply), noErr);
    Outcome o;
    o.replyType = reply.descriptorType;
    if (wantReply) AECountItems(&reply, &o.replyParams);
    o.hasErrn = AEGetParamPtr(&reply, keyErrorNumber, typeSInt32, nullptr, &o.errn, sizeof o.errn, nullptr) == noErr;
    AEDesc s;
    if (AEGetParamDesc(&reply, keyErrorString, typeUTF8Text, &s) == noErr) {
      o.errs.resize(size_t(AEGetDescDataSize(&s)));
      AEGetDescData(&s, o.errs.data(), Size(o.errs.size()));
      AEDisposeDesc(&s);
    }
    AERecord result;
    if (AEGetParamDesc(&reply, keyConversionResult, typeAERecord, &result) == noErr) {
      o.hasResult = true;
      AEGetParamPtr(&result, keyConversionStatus, typeSInt32, nullptr, &o.resultStatus, sizeof o.resultStatus, nullptr);
      if (AEGetParamDesc(&result, keyConversionMessage, typeUTF8Text, &s) == noErr) {
        o.resultMessage.resize(size_t(AEGetDescDataSize(&s)));
        AEGetDescData(&s, o.resultMessage.data(), Size(o.resultMessage.size()));
        AEDisposeDesc(&s);
      }
      AEDisposeDesc(&result);
    }
    AEDisposeDesc(&event);
    AEDisposeDesc(&reply);
    return o;
  }
  std::string aliasTo(const std::string& path) {
    AliasHandle a = nullptr;
    EXPECT_EQ(NewAliasFromPath(path.c_str(), &a), noErr);
    std::string bytes(*reinterpret_cast<Handle>(a), size_t(GetAliasSize(a)));
    DisposeAlias(a);
    return bytes;
  }
};

TEST_F(ControllerTest, ResizeTargetFollowsThePreference) {
  const std::vector<std::pair<const char*, SInt32>> cases = {
      {nullptr, 600}, {"false", 0}, {"No", 0}, {"0", 0}, {"TRUE", 600}, {"yes", 600}, {"junk", 600}, {"", 600},
  };
  for (const auto& [stored, expected] : cases) {
    if (stored)
      env.setResizePreference(stored);
    else
      std::remove(env.prefsFile().c_str());
    Controller c;
    EXPECT_EQ(c.resizeTarget(), expected) << (stored ? stored : "(absent)");
    EXPECT_EQ(resizeTargetFor(readResizePreference()), expected) << (stored ? stored : "(absent)");  // plain conversions
  }
}

TEST_F(ControllerTest, AliasEventConvertsAndLeavesTheReplyEmpty) {
  REQUIRE_WORKING_CONVERSION();
  const std::string photo = env.photos("IMG_0001.JPG");
  testsupport::writeFile(photo, apptest::voicePhoto());
  Controller c;
  testing::internal::CaptureStderr();
  Outcome o = dispatch(c, typeAlias, aliasTo(photo));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(o.replyParams, 0);
  EXPECT_TRUE(exists(env.photos("IMG_0001.mov")));
  EXPECT_TRUE(c.terminationPending());
  if (!log.empty()) {  // else it went to the journal
    EXPECT_NE(log.find("Path: " + photo), std::string::npos) << log;
  }
}

TEST_F(ControllerTest, TheFormatPreferenceDecidesWhatAnEventWrites) {
  REQUIRE_WORKING_CONVERSION();
  for (const auto& [format, written] : {std::pair{"mp4", "IMG_0002.mp4"}, std::pair{"motion", "IMG_0002.MP.JPG"}}) {
    SCOPED_TRACE(format);
    testsupport::writeFile(env.prefsFile(), std::string("[Preferences]\nMovie_Format=") + format + "\n");
    const std::string photo = env.photos("IMG_0002.JPG");
    testsupport::writeFile(photo, apptest::voicePhoto());
    Controller c;
    testing::internal::CaptureStderr();
    dispatch(c, typeAlias, aliasTo(photo));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(exists(env.photos(written)));
    EXPECT_FALSE(exists(env.photos("IMG_0002.mov")));
    std::remove(env.photos(written).c_str());
  }
}

TEST_F(ControllerTest, DirectObjectThatIsNoAliasIsIgnoredButArmsTheTimer) {
  const std::string photo = env.photos("IMG_0002.JPG");
  testsupport::writeFile(photo, apptest::voicePhoto());
  for (auto [type, bytes] : std::vector<std::pair<DescType, std::string>>{
           {typeFileURL, "file://" + photo}, {typeUTF8Text, photo}, {typeChar, photo}}) {
    Controller c;
    Outcome o = dispatch(c, type, bytes);
    EXPECT_EQ(o.replyParams, 0);
    EXPECT_FALSE(exists(env.photos("IMG_0002.mov")));
    EXPECT_TRUE(c.terminationPending());
  }
}

TEST_F(ControllerTest, UnresolvableAliasComplainsOnlyToASenderThatWantsAReply) {
  const std::string photo = env.photos("gone.jpg");
  testsupport::writeFile(photo, "x");
  const std::string alias = aliasTo(photo);
  std::remove(photo.c_str());
  {
    Controller c;
    Outcome o = dispatch(c, typeAlias, alias);
    EXPECT_TRUE(o.hasErrn);
    EXPECT_EQ(o.errn, fnfErr);
    EXPECT_EQ(o.errs, "Complain.");
    EXPECT_TRUE(c.terminationPending());
  }
  {
    Controller c;
    Outcome o = dispatch(c, typeAlias, alias, /*wantReply=*/false);
    EXPECT_EQ(o.replyType, typeNull);
    EXPECT_FALSE(o.hasErrn);
    EXPECT_TRUE(c.terminationPending());
  }
  {
    Controller c;  // a damaged record is an error of its own
    Outcome o = dispatch(c, typeAlias, "not an alias record");
    EXPECT_EQ(o.errn, paramErr);
    EXPECT_EQ(o.errs, "Complain.");
  }
}

TEST_F(ControllerTest, FailedConversionTravelsBackInAParameterOfItsOwn) {
  REQUIRE_WORKING_CONVERSION();
  const std::string notJpeg = env.photos("notes.jpg");
  testsupport::writeFile(notJpeg, "a shopping list, not a photograph");
  const std::string blocked = env.photos("blocked.jpg");  // a folder holds its movie's name
  testsupport::writeFile(blocked, apptest::voicePhoto());
  mkdir(env.photos("blocked.mov").c_str(), 0700);
  for (const std::string& photo : {notJpeg, blocked}) {
    Controller c;
    Outcome o = dispatch(c, typeAlias, aliasTo(photo));
    EXPECT_TRUE(o.hasResult) << photo;
    EXPECT_NE(o.resultStatus, 0) << photo;
    EXPECT_FALSE(o.resultMessage.empty()) << photo;
    // The alias resolved: its own parameters stay out of it.
    EXPECT_FALSE(o.hasErrn) << photo;
    EXPECT_EQ(o.errs, "") << photo;
    EXPECT_TRUE(c.terminationPending());
    Outcome quiet = dispatch(c, typeAlias, aliasTo(photo), /*wantReply=*/false);
    EXPECT_EQ(quiet.replyType, typeNull);
  }
  Controller c;
  EXPECT_NE(dispatch(c, typeAlias, aliasTo(notJpeg)).resultMessage.find("JPEG"), std::string::npos);
  // The words say what is wrong with the photograph, as the command line says them.
  const std::string folder = env.photos("folder.jpg");
  mkdir(folder.c_str(), 0700);
  Outcome o = dispatch(c, typeAlias, aliasTo(folder));
  EXPECT_EQ(o.resultStatus, fnfErr);
  EXPECT_EQ(o.resultMessage, "cannot be read (is a directory)");
  o = dispatch(c, typeAlias, aliasTo(notJpeg));
  EXPECT_EQ(o.resultStatus, codecBadDataErr);
  EXPECT_EQ(o.resultMessage, "cannot be read (not a JPEG file)");
}

TEST_F(ControllerTest, OpenRequestAnswersTrueExactlyWhenTheConversionSucceeded) {
  REQUIRE_WORKING_CONVERSION();
  const std::string photo = env.photos("ok.jpg");
  testsupport::writeFile(photo, apptest::voicePhoto());
  Controller c;
  EXPECT_TRUE(c.applicationOpenFile(nullptr, photo));
  EXPECT_TRUE(exists(env.photos("ok.mov")));
  EXPECT_TRUE(c.terminationPending());

  // A folder where the movie should go makes the conversion fail.
  const std::string blocked = env.photos("blocked.jpg");
  testsupport::writeFile(blocked, apptest::voicePhoto());
  mkdir(env.photos("blocked.mov").c_str(), 0700);
  EXPECT_FALSE(c.applicationOpenFile(nullptr, blocked));
  // So does a file of someone else's under the movie's name, which stays as it was.
  const std::string taken = env.photos("taken.jpg");
  testsupport::writeFile(taken, apptest::voicePhoto());
  testsupport::writeFile(env.photos("taken.mov"), "someone else's");
  EXPECT_FALSE(c.applicationOpenFile(nullptr, taken));
  EXPECT_EQ(testsupport::readFile(env.photos("taken.mov")), "someone else's");
  // Neither a file that is no photograph nor a missing one opens.
  testsupport::writeFile(env.photos("notes.jpg"), "not a photograph");
  EXPECT_FALSE(c.applicationOpenFile(nullptr, env.photos("notes.jpg")));
  EXPECT_FALSE(c.applicationOpenFile(nullptr, env.photos("absent.jpg")));
}

TEST_F(ControllerTest, QuitFiresFiveSecondsAfterTheFirstRequestAndIsNeverPostponed) {
  REQUIRE_WORKING_CONVERSION();
  Controller c;
  EXPECT_FALSE(c.terminationPending());  // launched without a request: idle, no timer
  using Clock = std::chrono::steady_clock;
  c.applicationOpenFile(nullptr, env.photos("none-1.jpg"));
  const auto first = Clock::now();
  EXPECT_FALSE(NSRunLoop::mainRunLoop().runUntilDate(2.0));
  c.applicationOpenFile(nullptr, env.photos("none-2.jpg"));
  EXPECT_TRUE(c.terminationPending());
  EXPECT_TRUE(NSRunLoop::mainRunLoop().runUntilDate(30.0)) << "the timer never fired";
  const double elapsed = std::chrono::duration<double>(Clock::now() - first).count();
  EXPECT_GE(elapsed, 4.9);
  EXPECT_LT(elapsed, 6.5);
  EXPECT_TRUE(NSApplication::sharedApplication()->isTerminating());
  EXPECT_FALSE(c.terminationPending());
  // A request that reaches the application while it ends is converted all the same, and arms
  // nothing; once the application has ended there is nothing left to convert with.
  const std::string late = env.photos("late.jpg");
  testsupport::writeFile(late, apptest::voicePhoto());
  EXPECT_TRUE(c.applicationOpenFile(nullptr, late));
  EXPECT_TRUE(exists(env.photos("late.mov")));
  EXPECT_FALSE(c.terminationPending());
  c.applicationWillTerminate();
  EXPECT_FALSE(c.applicationOpenFile(nullptr, env.photos("late.jpg")));
}

TEST(TimerTest, OneShotTimerReportsInvalidOnceFiredOrInvalidated) {
  int fired = 0;
  bool validInAction = true;
  auto t = NSTimer::scheduledTimerWithTimeInterval(
      0.05, [&](NSTimer& self) { ++fired, validInAction = self.isValid(); }, false);
  EXPECT_TRUE(t->isValid());
  NSRunLoop::mainRunLoop().runUntilDate(0.3);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(validInAction);
  EXPECT_FALSE(t->isValid());

  auto cancelled = NSTimer::scheduledTimerWithTimeInterval(0.05, [&](NSTimer&) { ++fired; }, false);
  cancelled->invalidate();
  EXPECT_FALSE(cancelled->isValid());
  NSRunLoop::mainRunLoop().runUntilDate(0.2);
  EXPECT_EQ(fired, 1);
}

}  // namespace
