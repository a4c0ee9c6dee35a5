// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 exporter component: the encoders' libraries take tens of milliseconds to load, which a
// thread of their own spends while the conversion reads and scales the photograph.
#include <string>
#include <system_error>
#include <thread>

#include "media/Libav.h"
#include "toolbox/Movies/Components.h"

namespace {

class Mp4MovieExporter final : public ComponentInstanceRecord {
 public:
  Mp4MovieExporter() {
    try {
      loading_ = std::thread([] {
        std::string why;  // a failure is told when the export asks for the libraries
        media::LoadLibav(&why);
      });
    } catch (const std::system_error&) {
      // No thread: the export loads them itself.
    }
  }
  // The load ends within the holder's life: nothing is half-loaded when the process forks or ends.
  ~Mp4MovieExporter() override {
    if (loading_.joinable()) loading_.join();
  }

 private:
  std::thread loading_;
};

}  // namespace

ComponentInstance NewMp4MovieExporter() { return new Mp4MovieExporter; }
