// SPDX-License-Identifier: GPL-2.0-or-later
/* A preloadable library that makes one chosen write, pwrite, fsync, rename, link or close fail,
   or refuses unnamed files or inotify watches, so tests can see what a conversion does when the
   disk lets it down or the system offers less; it can also log folder listings. Inert until armed. */
#define _GNU_SOURCE
#include "faults/FaultShim.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

enum { kWrite, kPwrite, kFsync, kRename, kLinkat, kClose, kKinds };
static const char* const kNames[kKinds] = {"write", "pwrite", "fsync", "rename", "linkat", "close"};

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

static atomic_int gCalls[kKinds];
static int gArmedKind = -1;
static int gArmedNth = 0;
static int gErrno = EIO;
static atomic_int gLoaded;
static int gRefuseUnnamed;

static int kindOf(const char* name) {
  for (int k = 0; k < kKinds; ++k)
    if (name && strcmp(name, kNames[k]) == 0) return k;
  return -1;
}

/* STILL2MOV_FAULT=kind:n arms the n-th call (from 1) of that kind; STILL2MOV_FAULT_ERRNO picks
   the error (EIO by default). */
static void loadEnvironment(void) {
  if (atomic_exchange(&gLoaded, 1)) return;
  const char* fault = getenv("STILL2MOV_FAULT");
  if (fault) {
    char kind[16] = {0};
    int nth = 0;
    if (sscanf(fault, "%15[a-z]:%d", kind, &nth) == 2) faultshim_arm(kind, nth, 0);
  }
  const char* err = getenv("STILL2MOV_FAULT_ERRNO");
  if (err && atoi(err) > 0) gErrno = atoi(err);
  /* STILL2MOV_NO_TMPFILE=1: a file system that cannot make unnamed files. */
  const char* noTmpfile = getenv("STILL2MOV_NO_TMPFILE");
  if (noTmpfile && *noTmpfile == '1') gRefuseUnnamed = 1;
}

void faultshim_arm(const char* kind, int nth, int err) {
  atomic_store(&gLoaded, 1);
  for (int k = 0; k < kKinds; ++k) atomic_store(&gCalls[k], 0);
  gArmedKind = kindOf(kind);
  gArmedNth = nth;
  if (err > 0) gErrno = err;
}

void faultshim_disarm(void) { gArmedKind = -1; }

void faultshim_refuse_unnamed(int refuse) {
  atomic_store(&gLoaded, 1);
  gRefuseUnnamed = refuse;
}

int faultshim_calls(const char* kind) {
  int k = kindOf(kind);
  return k < 0 ? 0 : atomic_load(&gCalls[k]);
}

/* Only descriptors that can change a file count: standard streams, pipes and read-only files
   are left alone. */
static int writableFile(int fd) {
  if (fd <= 2) return 0;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

/* STILL2MOV_PAUSE=kind:n with STILL2MOV_PAUSE_FILE=path: the n-th call of that kind (counted
   as for faults) first creates path.paused, then waits (up to a minute) for path.go to exist, so
   a test can do something at that very moment. */
static void pauseIfAsked(int kind, int n) {
  const char* pause = getenv("STILL2MOV_PAUSE");
  const char* file = getenv("STILL2MOV_PAUSE_FILE");
  char name[16] = {0};
  int nth = 0;
  if (!pause || !file || sscanf(pause, "%15[a-z]:%d", name, &nth) != 2 || kindOf(name) != kind || nth != n) return;
  char path[4096];
  snprintf(path, sizeof path, "%s.paused", file);
  int fd = REAL("open", int (*)(const char*, int, ...))(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) REAL("close", int (*)(int))(fd);
  snprintf(path, sizeof path, "%s.go", file);
  for (int k = 0; k < 6000 && access(path, F_OK) != 0; ++k) usleep(10000);
}

/* Counts the call and says whether it is the one to fail. */
static int injected(int kind) {
  loadEnvironment();
  int n = atomic_fetch_add(&gCalls[kind], 1) + 1;
  pauseIfAsked(kind, n);
  if (kind == gArmedKind && n == gArmedNth) {
    errno = gErrno;
    return 1;
  }
  return 0;
}


static int refusedUnnamed(int flags) {
  loadEnvironment();
  if (gRefuseUnnamed && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return 1;
  }
  return 0;
}

/* STILL2MOV_WATCH=path: the opens of that path are counted ("opens" among the counts), to see
   how often a file is read. */
static atomic_int gWatchedOpens;
static void watch(const char* path) {
  const char* watched = getenv("STILL2MOV_WATCH");
  if (watched && path && strcmp(watched, path) == 0) atomic_fetch_add(&gWatchedOpens, 1);
}

/* The mode argument is there only when the flags create a file. */
#define MODE_OF(flags, last)                                                                    \
  ({                                                                                            \
    va_list args;                                                                               \
    va_start(args, last);                                                                       \
    mode_t mode = ((flags) & O_CREAT) || ((flags) & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0; \
    va_end(args);                                                                               \
    mode;                                                                                       \
  })

int open(const char* path, int flags, ...) {
  mode_t mode = MODE_OF(flags, flags);
  if (refusedUnnamed(flags)) return -1;
  watch(path);
  return REAL("open", int (*)(const char*, int, ...))(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = MODE_OF(flags, flags);
  if (refusedUnnamed(flags)) return -1;
  watch(path);
  return REAL("open64", int (*)(const char*, int, ...))(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  mode_t mode = MODE_OF(flags, flags);
  if (refusedUnnamed(flags)) return -1;
  watch(path);
  return REAL("openat", int (*)(int, const char*, int, ...))(dir, path, flags, mode);
}

ssize_t write(int fd, const void* buf, size_t count) {
  if (writableFile(fd) && injected(kWrite)) return -1;
  return REAL("write", ssize_t (*)(int, const void*, size_t))(fd, buf, count);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
  if (writableFile(fd) && injected(kPwrite)) return -1;
  return REAL("pwrite", ssize_t (*)(int, const void*, size_t, off_t))(fd, buf, count, offset);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
  if (writableFile(fd) && injected(kPwrite)) return -1;
  return REAL("pwrite64", ssize_t (*)(int, const void*, size_t, off_t))(fd, buf, count, offset);
}

/* Gathered writes count as positioned writes: the movie goes out in one of them. */
ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t offset) {
  if (writableFile(fd) && injected(kPwrite)) return -1;
  return REAL("pwritev", ssize_t (*)(int, const struct iovec*, int, off_t))(fd, iov, count, offset);
}

ssize_t pwritev64(int fd, const struct iovec* iov, int count, off_t offset) {
  if (writableFile(fd) && injected(kPwrite)) return -1;
  return REAL("pwritev64", ssize_t (*)(int, const struct iovec*, int, off_t))(fd, iov, count, offset);
}

ssize_t pwritev2(int fd, const struct iovec* iov, int count, off_t offset, int flags) {
  if (writableFile(fd) && injected(kPwrite)) return -1;
  return REAL("pwritev2", ssize_t (*)(int, const struct iovec*, int, off_t, int))(fd, iov, count, offset, flags);
}

int fsync(int fd) {
  if (writableFile(fd) && injected(kFsync)) return -1;
  return REAL("fsync", int (*)(int))(fd);
}

int close(int fd) {
  if (writableFile(fd) && injected(kClose)) {
    /* As the kernel does: the descriptor is gone even though the close reports an error. */
    REAL("close", int (*)(int))(fd);
    errno = gErrno;
    return -1;
  }
  return REAL("close", int (*)(int))(fd);
}

int rename(const char* from, const char* to) {
  if (injected(kRename)) return -1;
  return REAL("rename", int (*)(const char*, const char*))(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  if (injected(kRename)) return -1;
  return REAL("renameat", int (*)(int, const char*, int, const char*))(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
  if (injected(kRename)) return -1;
  return REAL("renameat2", int (*)(int, const char*, int, const char*, unsigned int))(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
  if (injected(kLinkat)) return -1;
  return REAL("link", int (*)(const char*, const char*))(from, to);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  if (injected(kLinkat)) return -1;
  return REAL("linkat", int (*)(int, const char*, int, const char*, int))(fromDir, from, toDir, to, flags);
}

/* STILL2MOV_LISTINGS=path: each folder listing (opendir) adds a line naming the folder to path,
   from whichever process makes it (forked workers included), to see how often a folder is read. */
DIR* opendir(const char* name) {
  const char* log = getenv("STILL2MOV_LISTINGS");
  if (log) {
    int fd = REAL("open", int (*)(const char*, int, ...))(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd >= 0) {
      char line[4096];
      int n = snprintf(line, sizeof line, "%s\n", name);
      if (n > 0 && n < (int)sizeof line) REAL("write", ssize_t (*)(int, const void*, size_t))(fd, line, (size_t)n);
      REAL("close", int (*)(int))(fd);
    }
  }
  return REAL("opendir", DIR* (*)(const char*))(name);
}

/* STILL2MOV_FAULT_COUNTS=path: on exit, how many calls of each kind the process made. */
__attribute__((destructor)) static void writeCounts(void) {
  const char* path = getenv("STILL2MOV_FAULT_COUNTS");
  if (path == NULL) return;
  FILE* f = fopen(path, "w");
  if (f == NULL) return;
  for (int k = 0; k < kKinds; ++k) fprintf(f, "%s %d\n", kNames[k], atomic_load(&gCalls[k]));
  fprintf(f, "opens %d\n", atomic_load(&gWatchedOpens));
  fclose(f);
}

/* STILL2MOV_WATCH_LIMIT=n: the system's limit on inotify watches is reached after n watches, as
   when max_user_watches is used up. */
int inotify_add_watch(int fd, const char* path, uint32_t mask) {
  static atomic_int added;
  const char* limit = getenv("STILL2MOV_WATCH_LIMIT");
  if (limit && *limit && atomic_fetch_add(&added, 1) >= atoi(limit)) {
    errno = ENOSPC;
    return -1;
  }
  return REAL("inotify_add_watch", int (*)(int, const char*, uint32_t))(fd, path, mask);
}
