// SPDX-License-Identifier: GPL-2.0-or-later
// Loading libav* at run time: each library by the soname of the version built against, each
// function by name, once per process.
#include "media/Libav.h"

#include <dlfcn.h>

#include <mutex>

namespace media {

namespace {

#define LIBAV_TEXT(x) #x
#define LIBAV_SONAME(name, major) "lib" name ".so." LIBAV_TEXT(major)

struct Library {
  const char* soname;
  void* handle = nullptr;
};

struct Loaded {
  Library avutil{LIBAV_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR)};
  Library avcodec{LIBAV_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR)};
  Library avformat{LIBAV_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR)};
  Library swscale{LIBAV_SONAME("swscale", LIBSWSCALE_VERSION_MAJOR)};
  Library swresample{LIBAV_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR)};
  Libav functions;
  bool ok = false;
  std::string why;
};

Loaded& loaded() {
  // Never unloaded: the libraries stay for the life of the process.
  static Loaded* l = [] {
    auto* out = new Loaded;
    for (Library* lib : {&out->avutil, &out->avcodec, &out->avformat, &out->swscale, &out->swresample}) {
      lib->handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL);
      if (lib->handle == nullptr) {
        const char* error = dlerror();
        out->why = std::string("cannot load ") + lib->soname + (error ? std::string(": ") + error : "");
        return out;
      }
    }
#define LIBAV_LOAD(library, name)                                                              \
  out->functions.name = reinterpret_cast<decltype(&::name)>(dlsym(out->library.handle, #name)); \
  if (out->functions.name == nullptr) {                                                        \
    out->why = std::string(out->library.soname) + " has no " #name;                            \
    return out;                                                                                \
  }
    LIBAV_FUNCTIONS(LIBAV_LOAD)
#undef LIBAV_LOAD
    out->ok = true;
    return out;
  }();
  return *l;
}

}  // namespace

const Libav* LoadLibav(std::string* why) {
  const Loaded& l = loaded();
  if (!l.ok && why != nullptr) *why = l.why;
  return l.ok ? &l.functions : nullptr;
}

}  // namespace media
