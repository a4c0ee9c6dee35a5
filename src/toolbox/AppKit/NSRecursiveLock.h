// SPDX-License-Identifier: GPL-2.0-or-later
// A lock that the thread holding it may take again; each lock needs its unlock.
// Used to make one object's work exclusive across threads.
#pragma once
#include <mutex>

class NSRecursiveLock {
 public:
  void lock() { mMutex.lock(); }
  void unlock() { mMutex.unlock(); }
  bool tryLock() { return mMutex.try_lock(); }

 private:
  std::recursive_mutex mMutex;
};

// Holds an NSRecursiveLock for a scope.
class NSLockScope {
 public:
  explicit NSLockScope(NSRecursiveLock& lock) : mLock(lock) { mLock.lock(); }
  ~NSLockScope() { mLock.unlock(); }
  NSLockScope(const NSLockScope&) = delete;
  NSLockScope& operator=(const NSLockScope&) = delete;

 private:
  NSRecursiveLock& mLock;
};
