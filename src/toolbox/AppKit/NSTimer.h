// SPDX-License-Identifier: GPL-2.0-or-later
// Timers on the main run loop, and the run loop itself (GLib's default main context).
// A scheduled timer is kept alive by the run loop until it has fired (one-shot) or is invalidated.
#pragma once
#include <functional>
#include <memory>

typedef struct _GSource GSource;

class NSTimer {
 public:
  using Action = std::function<void(NSTimer& timer)>;

  // Fires the action once (or every interval, when repeating) from the main run loop, at its
  // first pass after the interval has elapsed.
  static std::shared_ptr<NSTimer> scheduledTimerWithTimeInterval(double seconds, Action action, bool repeats);

  ~NSTimer();
  NSTimer(const NSTimer&) = delete;
  NSTimer& operator=(const NSTimer&) = delete;

  // False once a one-shot timer has fired (already while its action runs) or once invalidated.
  bool isValid() const { return mValid; }
  void invalidate();
  double timeInterval() const { return mInterval; }

 private:
  NSTimer(double seconds, Action action, bool repeats);
  static int fire(void* data);

  double mInterval;
  Action mAction;
  bool mRepeats;
  bool mValid = true;
  GSource* mSource = nullptr;
};

class NSRunLoop {
 public:
  static NSRunLoop& mainRunLoop();
  // Runs until stop(); a stop() before run() makes the next run() return at once.
  void run();
  void stop();
  // Runs for about that long, or until stop(); true when stopped.
  bool runUntilDate(double secondsFromNow);
  bool isRunning() const { return mRunning; }

 private:
  bool mRunning = false;
  bool mStopRequested = false;
};
