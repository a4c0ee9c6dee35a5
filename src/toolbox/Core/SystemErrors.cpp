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

const ErrnoRow* rowOf(int error) {
  for (const ErrnoRow& row : kErrnoRows)
    if (row.error == error) return &row;
  return nullptr;
}

}  // namespace

OSErr OSErrFromErrno(int error) {
  const ErrnoRow* row = rowOf(error);
  return row ? row->code : ioErr;
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
