// SPDX-License-Identifier: GPL-2.0-or-later
// NSTimer over GLib timeout sources on the default main context; NSRunLoop iterates that context.
// The source holds a shared reference to its timer, which it drops when it is destroyed.
#include "toolbox/AppKit/NSTimer.h"

#include <glib.h>

#include <cmath>

namespace {
struct TimerRef {
  std::shared_ptr<NSTimer> timer;
};
void dropRef(gpointer data) { delete static_cast<TimerRef*>(data); }
}  // namespace

NSTimer::NSTimer(double seconds, Action action, bool repeats)
    : mInterval(seconds), mAction(std::move(action)), mRepeats(repeats) {}

NSTimer::~NSTimer() {
  if (mSource != nullptr) {
    g_source_destroy(mSource);
    g_source_unref(mSource);
  }
}

std::shared_ptr<NSTimer> NSTimer::scheduledTimerWithTimeInterval(double seconds, Action action, bool repeats) {
  std::shared_ptr<NSTimer> timer(new NSTimer(seconds, std::move(action), repeats));
  guint ms = seconds <= 0 ? 0 : guint(std::lround(std::min(seconds, 86400.0 * 24) * 1000.0));
  timer->mSource = g_timeout_source_new(ms);
  g_source_set_callback(timer->mSource, &NSTimer::fire, new TimerRef{timer}, dropRef);
  g_source_attach(timer->mSource, g_main_context_default());
  return timer;
}

int NSTimer::fire(void* data) {
  std::shared_ptr<NSTimer> self = static_cast<TimerRef*>(data)->timer;  // alive through the action
  if (!self->mValid) return G_SOURCE_REMOVE;
  if (!self->mRepeats) {
    self->mValid = false;
    g_source_unref(self->mSource);
    self->mSource = nullptr;
  }
  if (self->mAction) self->mAction(*self);
  return self->mRepeats && self->mValid ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void NSTimer::invalidate() {
  mValid = false;
  if (mSource != nullptr) {
    GSource* s = mSource;
    mSource = nullptr;
    g_source_destroy(s);  // drops the run loop's reference to this timer
    g_source_unref(s);
  }
}

NSRunLoop& NSRunLoop::mainRunLoop() {
  static NSRunLoop loop;
  return loop;
}

void NSRunLoop::run() {
  mRunning = true;
  while (!mStopRequested) g_main_context_iteration(g_main_context_default(), TRUE);
  mStopRequested = false;
  mRunning = false;
}

void NSRunLoop::stop() {
  mStopRequested = true;
  g_main_context_wakeup(g_main_context_default());
}

bool NSRunLoop::runUntilDate(double secondsFromNow) {
  mRunning = true;
  const gint64 end = g_get_monotonic_time() + gint64(secondsFromNow * 1e6);
  // A wake-up source ensures the blocking iteration returns by the end time.
  GSource* deadline = g_timeout_source_new(guint(std::ceil(std::max(0.0, secondsFromNow) * 1000.0)) + 1);
  g_source_set_callback(deadline, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
  g_source_attach(deadline, g_main_context_default());
  while (!mStopRequested && g_get_monotonic_time() < end) g_main_context_iteration(g_main_context_default(), TRUE);
  g_source_destroy(deadline);
  g_source_unref(deadline);
  bool stopped = mStopRequested;
  mStopRequested = false;
  mRunning = false;
  return stopped;
}
