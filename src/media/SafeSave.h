// SPDX-License-Identifier: GPL-2.0-or-later
// Saving a file whole or not at all: a working file beside the target, written, flushed, then
// given the target's name in one step that replaces nothing it was not allowed to replace.
#pragma once
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>

namespace media {

// What stood under a name when it was looked at (never through a link): enough to tell later
// whether the name still holds that very file, unchanged.
struct FileIdentity {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  mode_t mode = 0;
  timespec modified{};
  timespec changed{};
  bool ownedByUser = false;  // this process's user owns it
};

// 0 with the identity (present false when nothing has the name), else an errno value.
int identifyName(int folderFd, const char* name, FileIdentity* out);

// How a working file may take its target's name.
enum class Publish {
  noReplace,       // only when nothing has the name, decided by the step that names the file
  replaceChecked,  // nothing there, or the very file identified earlier, unchanged since
  replaceAny,      // whatever has the name (a link itself, never what it points to)
};

// Working files that have a name (where the file system makes no unnamed ones) are called
// ".still2mov-XXXXXXXX-BASE.part", hold an exclusive lock while in use, and are removed on
// SIGINT, SIGTERM and SIGHUP; a later run removes stale ones (removeStaleWorkingFiles).
class WorkingFile {
 public:
  WorkingFile() = default;
  ~WorkingFile() { discard(); }
  WorkingFile(const WorkingFile&) = delete;
  WorkingFile& operator=(const WorkingFile&) = delete;

  // A new, empty, 0600 working file in folder: unnamed (O_TMPFILE) where the file system allows
  // and /proc can reach it, else named as above and created exclusively. 0 or an errno value.
  int create(const std::string& folder, const std::string& baseName, bool allowUnnamed = true);

  bool open() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  // The path that reaches the file: its own name, or /proc/self/fd/N while it has none.
  std::string path() const;
  const std::string& folder() const { return folder_; }
  bool named() const { return !name_.empty(); }

  // Flushes the file and gives it targetName in its folder as how allows. checked is the
  // identity seen earlier, for replaceChecked. EEXIST when the name is taken by something the
  // rule does not allow to replace. On success the working file is spent (closed, no longer
  // its own); on failure it is as it was.
  int publish(const std::string& targetName, Publish how, const FileIdentity* checked = nullptr);

  // Removes the working file (a no-op once published or discarded).
  void discard();

 private:
  int giveName();
  void forget();

  std::string folder_;
  std::string base_;
  std::string name_;  // empty while unnamed
  int folderFd_ = -1;
  int fd_ = -1;
  int slot_ = -1;  // in the table the signal handler clears
};

// The permission bits for a file saved as name in the folder: those of the regular file it
// replaces (never a link's target's, never set-ID or sticky bits), else 0666 less the umask.
// EISDIR when a folder has the name. An empty name looks at folderFd itself (an O_PATH one).
int permissionsForSaving(int folderFd, const char* name, mode_t* mode);
// Gives the open file the permission bits; 0, also where the file system keeps none of its own
// (FAT through FUSE or with fixed masks: ENOSYS, EOPNOTSUPP, EPERM on a file of ours), else errno.
int setPermissions(int fd, mode_t mode);
// 0666 less the umask: a new file's permission bits.
mode_t newFilePermissions();

// Working material outside working files (a file or an empty folder): removed by the handler of
// SIGINT, SIGTERM and SIGHUP in this process until forgotten. The handle is for forgetOnSignal;
// -1 when the table is full (the path is then left to the caller alone).
int removeOnSignal(const std::string& path);
void forgetOnSignal(int handle);

// While one lives, SIGINT, SIGTERM and SIGHUP wait on this thread: what is made and then given
// to removeOnSignal (or a name that changes hands) is one step to them.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

// Whether a folder entry is named as a working file of ours.
bool isWorkingFileName(const std::string& name);

// Removes, in folder, working files of ours that a killed run left: named as ours, a regular
// file of this user's, not locked by a run still using it, and untouched for at least
// minimumAgeSeconds. Returns how many went; a folder that cannot be read counts none.
std::size_t removeStaleWorkingFiles(const std::string& folder, long minimumAgeSeconds = 15 * 60);

}  // namespace media
