// SPDX-License-Identifier: GPL-2.0-or-later
// Running something that opens a FIFO named like a photograph, with a bound: if it is still
// waiting when the time is up, the FIFO is given a writer that closes at once, so the test
// ends (and fails) instead of hanging.
#pragma once
#include <functional>
#include <string>

namespace testsupport {

// Makes a FIFO at path; false when the file system refuses.
bool makeFifo(const std::string& path);

// Runs work on its own thread; true when it returned within seconds.
bool returnsWithin(const std::string& fifo, const std::function<void()>& work, double seconds = 5.0);

}  // namespace testsupport
