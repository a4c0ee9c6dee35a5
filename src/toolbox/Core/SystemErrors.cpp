// SPDX-License-Identifier: GPL-2.0-or-later
// The one table from errno to result codes and words; every file call translates through it.
// Rows that share a code are ordered so that the first is the usual cause, for the reverse look-up.
#include "toolbox/Core/SystemErrors.h"

#include <cerrno>
#include <cstring>

#include "toolbox/Core/MacErrors.h"

namespace {

struct ErrnoRow {
  int error;
  OSErr code;
  const char* words;
};

constexpr ErrnoRow kErrnoRows[] = {
    {ENOENT, fnfErr, "no such file"},
    {ELOOP, fnfErr, "too many levels of symbolic links"},
    {ENOTDIR, dirNFErr, "no such file (a folder on its path is not a folder)"},
    {EEXIST, dupFNErr, "a file of that name exists"},
    {EACCES, permErr, "permission denied"},
    {EPERM, permErr, "permission denied"},
    {EROFS, wPrErr, "read-only file system"},
    {ENOSPC, dskFulErr, "no space left on the device"},
    {EDQUOT, dskFulErr, "disk quota exceeded"},
    {ENAMETOOLONG, bdNamErr, "file name too long"},
    {EMFILE, tmfoErr, "too many open files"},
    {ENFILE, tmfoErr, "too many open files"},
    {ENOMEM, memFullErr, "out of memory"},
    {EBUSY, fBsyErr, "in use"},
    {ENOTEMPTY, fBsyErr, "folder not empty"},
    {EISDIR, notAFileErr, "is a directory"},
    {ENXIO, notAFileErr, "not a regular file"},  // a socket, or a device with no driver
};

// The last translation on this thread: errno and the code it became.
thread_local int gLastErrno = 0;
thread_local OSErr gLastCode = noErr;

const ErrnoRow* rowOf(int error) {
  for (const ErrnoRow& row : kErrnoRows)
    if (row.error == error) return &row;
  return nullptr;
}

}  // namespace

OSErr OSErrFromErrno(int error) {
  const ErrnoRow* row = rowOf(error);
  const OSErr code = row ? row->code : ioErr;
  gLastErrno = error;
  gLastCode = code;
  return code;
}

int SystemErrorBehind(OSErr err) {
  if (err == noErr) return 0;
  if (gLastErrno != 0 && gLastCode == err) return gLastErrno;
  if (err == ioErr) return EIO;
  for (const ErrnoRow& row : kErrnoRows)
    if (row.code == err) return row.error;
  return 0;
}

void ForgetSystemError() {
  gLastErrno = 0;
  gLastCode = noErr;
}

std::string ErrnoName(int error) {
  if (const char* name = strerrorname_np(error)) return name;
  return "E" + std::to_string(error);
}

std::string ResultWords(OSErr err) {
  const int error = SystemErrorBehind(err);
  return ErrnoWords(error != 0 ? error : EIO);
}

int ErrnoFromOSErr(OSErr err) {
  for (const ErrnoRow& row : kErrnoRows)
    if (row.code == err) return row.error;
  return EIO;
}

std::string ErrnoWords(int error) {
  const ErrnoRow* row = rowOf(error);
  return row ? row->words : std::strerror(error);
}
