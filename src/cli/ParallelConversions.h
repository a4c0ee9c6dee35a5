// SPDX-License-Identifier: GPL-2.0-or-later
// Converting many photographs at once in worker processes: the driver and the TIFF layer keep
// process-wide tables (memory streams, movie files) that are not safe to share between
// threads, so each worker is a process of its own with its own driver. Only this process prints.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "cli/ConversionOutput.h"

namespace cli {

// Calls convert(i) for every i below count, in at most workers processes at once (in this
// process when workers <= 1 or count <= 1). onStart(i) when i is handed out and onDone(i, result)
// when its result is back run in this process, one at a time. A worker that dies takes only
// its current photograph with it; that one is reported failed. stop: as RunJobsInWorkers's.
void convertInWorkers(std::size_t count, int workers, const std::function<PhotoResult(std::size_t)>& convert,
                      const std::function<void(std::size_t)>& onStart,
                      const std::function<void(std::size_t, const PhotoResult&)>& onDone,
                      const std::function<bool()>& stop = {});

// The wire form of a result between a worker and this process.
std::string encodeResult(const PhotoResult& result);
bool decodeResult(const std::string& bytes, PhotoResult* result);

}  // namespace cli
