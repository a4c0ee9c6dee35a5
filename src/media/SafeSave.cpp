// SPDX-License-Identifier: GPL-2.0-or-later
// Working files and their publication: renameat2 with RENAME_NOREPLACE or RENAME_EXCHANGE (with
// an identity check on what came out) where the file system has them, linkat for unnamed files.
#include "media/SafeSave.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

namespace media {
namespace {

constexpr char kPrefix[] = ".still2mov-";
constexpr char kSuffix[] = ".part";
constexpr std::size_t kTokenLength = 8;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Named working files of this process, for the signal handler: plain memory, claimed with atomics.
struct Slot {
  std::atomic<pid_t> owner{0};  // 0 free, -1 being filled
  char path[PATH_MAX];
};
Slot gSlots[64];

void removeOnSignalHandler(int sig) {
  const pid_t self = getpid();
  // Files first, then the folders they were in.
  for (Slot& s : gSlots)
    if (s.owner.load() == self) unlink(s.path);
  for (Slot& s : gSlots)
    if (s.owner.load() == self) rmdir(s.path);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Only signals left at their default (which would kill us) get the handler.
void installHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO)) continue;
      struct sigaction act {};
      act.sa_handler = removeOnSignalHandler;
      sigemptyset(&act.sa_mask);
      sigaction(sig, &act, nullptr);
    }
  });
}

int claimSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  installHandlers();
  for (int k = 0; k < int(sizeof gSlots / sizeof gSlots[0]); ++k) {
    pid_t expected = 0;
    if (!gSlots[k].owner.compare_exchange_strong(expected, -1)) continue;
    std::memcpy(gSlots[k].path, path.c_str(), path.size() + 1);
    gSlots[k].owner.store(getpid());
    return k;
  }
  return -1;  // not cleaned on a signal, but a later run still recognises the file
}

void releaseSlot(int slot) {
  if (slot >= 0) gSlots[slot].owner.store(0);
}


bool isWorkingName(const std::string& name);

std::string workingName(const std::string& given) {
  // A working file saved over another keeps the plain base.
  const std::size_t inner = sizeof kPrefix - 1 + kTokenLength + 1;
  const std::string base =
      isWorkingName(given) ? given.substr(inner, given.size() - inner - (sizeof kSuffix - 1)) : given;
  static std::mutex lock;
  static std::mt19937_64 rng{std::random_device{}()};
  std::string name = kPrefix;
  {
    std::lock_guard<std::mutex> hold(lock);
    for (std::size_t k = 0; k < kTokenLength; ++k) name += kAlphabet[rng() % (sizeof kAlphabet - 1)];
  }
  // Room for the rest within 255 bytes, cut on a character boundary.
  std::size_t room = 255 - name.size() - 1 - (sizeof kSuffix - 1), keep = std::min(room, base.size());
  while (keep > 0 && keep < base.size() && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  return name + "-" + base.substr(0, keep) + kSuffix;
}

// A folder where working files need names may hold some that a killed run left: the first
// named one this process makes there has them removed.
void removeStaleOnce(const std::string& folder) {
  static std::mutex lock;
  static std::set<std::string> done;
  {
    std::lock_guard<std::mutex> hold(lock);
    if (!done.insert(folder).second) return;
  }
  removeStaleWorkingFiles(folder);
}

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// The same file with the same contents; the change time only where no rename came between.
bool sameFile(const FileIdentity& a, const FileIdentity& b, bool compareChange) {
  return a.present && b.present && a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.mode == b.mode && sameTime(a.modified, b.modified) && (!compareChange || sameTime(a.changed, b.changed));
}

bool unsupported(int e) { return e == EINVAL || e == ENOSYS || e == EOPNOTSUPP || e == ENOTSUP; }

// Gives from the name to, failing with EEXIST when to is taken. renameat2 decides in one step;
// without it a hard link does; a file system with neither (FAT without RENAME_NOREPLACE) gets
// the last look just before a plain rename.
int renameNoReplace(int dir, const std::string& from, const std::string& to) {
  if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (!unsupported(errno)) return errno;
  if (linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
    unlinkat(dir, from.c_str(), 0);
    return 0;
  }
  if (errno == EEXIST || !(errno == EPERM || unsupported(errno))) return errno;
  struct stat st {};
  if (fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

int identifyName(int folderFd, const char* name, FileIdentity* out) {
  *out = FileIdentity{};
  struct stat st {};
  if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
  out->present = true;
  out->device = st.st_dev;
  out->inode = st.st_ino;
  out->size = st.st_size;
  out->mode = st.st_mode;
  out->modified = st.st_mtim;
  out->changed = st.st_ctim;
  out->ownedByUser = st.st_uid == geteuid();
  return 0;
}

int WorkingFile::create(const std::string& folder, const std::string& baseName, bool allowUnnamed) {
  discard();
  folderFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0) return errno;
  folder_ = folder;
  base_ = baseName;
  if (allowUnnamed && access("/proc/self/fd", X_OK) == 0) {
    fd_ = openat(folderFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return 0;
  }
  removeStaleOnce(folder);
  SignalsHeld held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = workingName(baseName);
    fd_ = openat(folderFd_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno == EEXIST) continue;
    if (fd_ < 0) break;
    // In use while locked: a later run's clean-up leaves it alone.
    flock(fd_, LOCK_EX | LOCK_NB);
    name_ = name;
    slot_ = claimSlot(path());
    return 0;
  }
  const int e = fd_ < 0 && errno != EEXIST ? errno : EEXIST;
  forget();
  return e;
}

std::string WorkingFile::path() const {
  if (fd_ < 0) return std::string();
  if (!named()) return "/proc/self/fd/" + std::to_string(fd_);
  return (folder_ == "/" ? "" : folder_) + "/" + name_;
}

int WorkingFile::giveName() {
  removeStaleOnce(folder_);
  flock(fd_, LOCK_EX | LOCK_NB);
  const std::string from = path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = workingName(base_);
    if (linkat(AT_FDCWD, from.c_str(), folderFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      name_ = name;
      slot_ = claimSlot(path());
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int WorkingFile::publish(const std::string& targetName, Publish how, const FileIdentity* checked) {
  if (fd_ < 0) return EBADF;
  if (targetName.empty() || targetName.find('/') != std::string::npos) return EINVAL;
  if (fsync(fd_) != 0) return errno;
  SignalsHeld held;
  const char* target = targetName.c_str();

  FileIdentity now;
  if (how == Publish::replaceChecked) {
    if (int e = identifyName(folderFd_, target, &now); e != 0) return e;
    // The checked file has gone: the name is free, and must still be free when taken.
    if (!now.present) how = Publish::noReplace;
    else if (checked == nullptr || !sameFile(now, *checked, true)) return EEXIST;
  }

  int e = 0;
  if (!named() && how == Publish::noReplace) {
    // Straight to the target's name: a link fails on a taken name, and there is never a second name.
    if (linkat(AT_FDCWD, path().c_str(), folderFd_, target, AT_SYMLINK_FOLLOW) != 0) return errno;
  } else {
    if (!named() && (e = giveName()) != 0) return e;
    if (how == Publish::noReplace) {
      e = renameNoReplace(folderFd_, name_, targetName);
    } else if (how == Publish::replaceAny) {
      e = renameat(folderFd_, name_.c_str(), folderFd_, target) == 0 ? 0 : errno;
    } else if (renameat2(folderFd_, name_.c_str(), folderFd_, target, RENAME_EXCHANGE) == 0) {
      // The old file now has the working name: it must be the one checked, else it goes back.
      FileIdentity old;
      identifyName(folderFd_, name_.c_str(), &old);
      if (!sameFile(old, *checked, false)) {
        renameat2(folderFd_, name_.c_str(), folderFd_, target, RENAME_EXCHANGE);
        return EEXIST;
      }
      unlinkat(folderFd_, name_.c_str(), 0);
    } else if (unsupported(errno)) {
      // No exchange here (FAT, NFS): the look just taken is the last before the rename.
      e = renameat(folderFd_, name_.c_str(), folderFd_, target) == 0 ? 0 : errno;
    } else {
      e = errno;
    }
    if (e != 0) return e;
  }
  fsync(folderFd_);
  name_.clear();
  forget();
  return 0;
}

void WorkingFile::discard() {
  if (fd_ >= 0 && named()) {
    SignalsHeld held;
    unlinkat(folderFd_, name_.c_str(), 0);
  }
  forget();
}

void WorkingFile::forget() {
  releaseSlot(slot_);
  slot_ = -1;
  if (fd_ >= 0) close(fd_);
  if (folderFd_ >= 0) close(folderFd_);
  fd_ = folderFd_ = -1;
  name_.clear();
}

int permissionsForSaving(int folderFd, const char* name, mode_t* mode) {
  struct stat st {};
  if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW | (*name ? 0 : AT_EMPTY_PATH)) == 0) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISREG(st.st_mode)) {
      *mode = st.st_mode & 0777;
      return 0;
    }
  }
  *mode = newFilePermissions();
  return 0;
}

int setPermissions(int fd, mode_t mode) {
  if (fchmod(fd, mode & 0777) == 0) return 0;
  return errno == ENOSYS || errno == EPERM || unsupported(errno) ? 0 : errno;
}

mode_t newFilePermissions() {
  // The umask can only be read by setting it; no other thread here creates files meanwhile.
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool isWorkingFileName(const std::string& name) { return isWorkingName(name); }

int removeOnSignal(const std::string& path) { return claimSlot(path); }

void forgetOnSignal(int handle) { releaseSlot(handle); }

namespace {
bool isWorkingName(const std::string& name) {
  const std::size_t head = sizeof kPrefix - 1, tail = sizeof kSuffix - 1;
  if (name.size() < head + kTokenLength + 1 + tail || name.compare(0, head, kPrefix) != 0) return false;
  if (name.compare(name.size() - tail, tail, kSuffix) != 0 || name[head + kTokenLength] != '-') return false;
  for (std::size_t k = head; k < head + kTokenLength; ++k)
    if (std::strchr(kAlphabet, name[k]) == nullptr || name[k] == '\0') return false;
  return true;
}
}  // namespace

std::size_t removeStaleWorkingFiles(const std::string& folder, long minimumAgeSeconds) {
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* dir = fdopendir(dirFd);
  if (dir == nullptr) {
    close(dirFd);
    return 0;
  }
  std::size_t removed = 0;
  const time_t now = time(nullptr);
  while (const dirent* entry = readdir(dir)) {
    if (!isWorkingFileName(entry->d_name)) continue;
    // Writable for the lock an NFS server wants; never through a link, never blocking on a FIFO.
    const int fd = openat(dirFd, entry->d_name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {}, named {};
    const bool stale = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                       now - st.st_mtim.tv_sec >= minimumAgeSeconds && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                       fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                       named.st_dev == st.st_dev && named.st_ino == st.st_ino;
    if (stale && unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
    close(fd);
  }
  closedir(dir);
  return removed;
}

SignalsHeld::SignalsHeld() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, &old_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

}  // namespace media
