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
  bool ok = false, formatsOk = false;
  std::string why, formatsWhy;
};

bool open(Library* lib, std::string* why) {
  if (lib->handle != nullptr) return true;
  lib->handle = dlopen(lib->soname, RTLD_NOW | RTLD_LOCAL);
  if (lib->handle != nullptr) return true;
  const char* error = dlerror();
  *why = std::string("cannot load ") + lib->soname + (error ? std::string(": ") + error : "");
  return false;
}

#define LIBAV_LOAD(library, name)                                                                \
  out->functions.name = reinterpret_cast<decltype(&::name)>(dlsym(out->library.handle, #name)); \
  if (out->functions.name == nullptr) {                                                          \
    *why = std::string(out->library.soname) + " has no " #name;                                  \
    return false;                                                                                \
  }

bool loadCodecs(Loaded* out, std::string* why) {
  for (Library* lib : {&out->avutil, &out->avcodec, &out->swscale, &out->swresample})
    if (!open(lib, why)) return false;
  LIBAV_FUNCTIONS(LIBAV_LOAD)
  return true;
}

bool loadFormats(Loaded* out, std::string* why) {
  if (!open(&out->avformat, why)) return false;
  LIBAV_FORMAT_FUNCTIONS(LIBAV_LOAD)
  return true;
}
#undef LIBAV_LOAD

// Never unloaded: the libraries stay for the life of the process.
Loaded& loaded() {
  static Loaded* l = [] {
    auto* out = new Loaded;
    out->ok = loadCodecs(out, &out->why);
    return out;
  }();
  return *l;
}

std::once_flag formatsOnce;

}  // namespace

const Libav* LoadLibav(std::string* why) {
  const Loaded& l = loaded();
  if (!l.ok && why != nullptr) *why = l.why;
  return l.ok ? &l.functions : nullptr;
}

const Libav* LoadLibavWithFormats(std::string* why) {
  Loaded& l = loaded();
  if (!l.ok) {
    if (why != nullptr) *why = l.why;
    return nullptr;
  }
  std::call_once(formatsOnce, [&l] { l.formatsOk = loadFormats(&l, &l.formatsWhy); });
  if (!l.formatsOk && why != nullptr) *why = l.formatsWhy;
  return l.formatsOk ? &l.functions : nullptr;
}

}  // namespace media
