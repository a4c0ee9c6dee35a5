// SPDX-License-Identifier: GPL-2.0-or-later
// FSpSaveFile over the working files of Files.h: create beside, fill, set the permissions,
// close (a failed close may mean lost data), then publish; discard on any failure.
#include "toolbox/Files/SafeSave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "media/SafeSave.h"

OSErr FSpPermissionsForSaving(const FSSpec* target, UInt16* mode) {
  if (target == nullptr || mode == nullptr) return paramErr;
  // A working file as the target counts as the file it is.
  if (int probe = -1; FSpOpenDescriptor(target, O_PATH, &probe) == noErr) {
    mode_t bits = 0;
    const int e = media::permissionsForSaving(probe, "", &bits);
    close(probe);
    if (e != 0) return e == EISDIR ? notAFileErr : OSErrFromErrno(e);
    *mode = UInt16(bits);
    return noErr;
  }
  *mode = UInt16(media::newFilePermissions());
  return noErr;
}

OSErr FSpSetPermissions(const FSSpec* spec, UInt16 mode) {
  int fd = -1;
  OSErr err = FSpOpenDescriptor(spec, O_RDONLY, &fd);
  if (err != noErr) return err;
  if (int e = media::setPermissions(fd, mode); e != 0) err = OSErrFromErrno(e);
  close(fd);
  return err;
}

OSErr FSpSaveFile(const FSSpec* target, Boolean replaceExisting, const FSSaveWriter& write, const FInfo* finderInfo) {
  return FSpSaveFileByRule(target, replaceExisting ? FSPublishRule::replaceAny : FSPublishRule::noReplace, nullptr,
                           write, finderInfo);
}

OSErr FSpSaveFileByRule(const FSSpec* target, FSPublishRule rule, const FSItemStamp* checked,
                        const FSSaveWriter& write, const FInfo* finderInfo) {
  if (target == nullptr || !write) return paramErr;
  std::string path;
  OSErr err = FSpGetPath(target, &path);
  if (err != noErr) return err;
  if (target->name[0] == 0) return bdNamErr;
  UInt16 mode = 0;
  err = FSpPermissionsForSaving(target, &mode);
  if (err != noErr) return err;

  FSSpec working{};
  const std::string base(reinterpret_cast<const char*>(target->name + 1), target->name[0]);
  err = FSpCreateTemporary(target, base.c_str(), &working);
  if (err != noErr) return err;
  int fd = -1;
  err = FSpOpenDescriptor(&working, O_RDWR, &fd);
  if (err == noErr) err = write(fd);
  if (err == noErr) {
    if (int e = media::setPermissions(fd, mode); e != 0) err = OSErrFromErrno(e);
  }
  if (fd >= 0 && close(fd) != 0 && err == noErr) err = OSErrFromErrno(errno);
  if (err == noErr && finderInfo != nullptr) FSpSetFInfo(&working, finderInfo);
  if (err == noErr) err = FSpPublishTemporaryByRule(&working, target, rule, checked);
  if (err != noErr) FSpDelete(&working);
  return err;
}

std::string FSItemKindWords(const FSItemStamp& stamp) {
  if (!stamp.present || S_ISREG(stamp.mode)) return "";
  if (S_ISDIR(stamp.mode)) return "a directory";
  if (S_ISLNK(stamp.mode)) return "a symbolic link";
  if (S_ISFIFO(stamp.mode)) return "a FIFO";
  if (S_ISSOCK(stamp.mode)) return "a socket";
  return "a device";
}

OSErr FSpSaveBytes(const FSSpec* target, const void* bytes, std::size_t count, Boolean replaceExisting) {
  return FSpSaveFile(target, replaceExisting, [&](int fd) { return FSWriteAll(fd, bytes, count); });
}

OSErr FSpSaveStream(const FSSpec* target, Boolean replaceExisting, const std::function<OSErr(std::FILE*)>& write) {
  return FSpSaveStreamByRule(target, replaceExisting ? FSPublishRule::replaceAny : FSPublishRule::noReplace, nullptr,
                             write);
}

OSErr FSpSaveStreamByRule(const FSSpec* target, FSPublishRule rule, const FSItemStamp* checked,
                          const std::function<OSErr(std::FILE*)>& write) {
  if (!write) return paramErr;
  return FSpSaveFileByRule(target, rule, checked, [&](int fd) -> OSErr {
    const int own = dup(fd);  // the stream closes a descriptor of its own
    std::FILE* f = own >= 0 ? fdopen(own, "wb") : nullptr;
    if (f == nullptr) {
      const OSErr err = OSErrFromErrno(errno);
      if (own >= 0) close(own);
      return err;
    }
    OSErr err = write(f);
    if (std::fclose(f) != 0 && err == noErr) err = OSErrFromErrno(errno);
    return err;
  });
}
