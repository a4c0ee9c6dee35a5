// SPDX-License-Identifier: GPL-2.0-or-later
// What an operation on our formats came to: one word per kind of outcome, so that the layer
// above can say it in its own terms.
#pragma once

namespace media {

enum class Status {
  ok,
  badArgument,  // the caller asked for something impossible (an empty region, a null output)
  damaged,      // the data contradicts its own format, or ends before it should
  noMemory,     // past a memory bound, or the allocator refused
  failed,       // the codec library gave up for a reason of its own
};

}  // namespace media
