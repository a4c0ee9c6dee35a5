// SPDX-License-Identifier: GPL-2.0-or-later
// The process manager: /proc walked in PID order, processes matched to desktop entries, launches.
// Launched programs are started through an intermediate child so that init reaps them.
#include "toolbox/Processes/Processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

#include "toolbox/AppleEvents/AEDataModel.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Core/TextConversion.h"
#include "toolbox/Files/Aliases.h"

namespace {

std::atomic<pid_t> gFrontProcess{0};

std::string procPath(pid_t pid, const char* leaf) { return "/proc/" + std::to_string(pid) + "/" + leaf; }

// A /proc file read whole with plain reads: the process may end while we read, and that must
// come back as "no such process", never as an exception out of a stream.
bool readProcFile(const std::string& path, std::string* out) {
  out->clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, size_t(n));
    if (out->size() > (1u << 20)) break;  // far more than any command line we look at
  }
  close(fd);
  return true;
}

std::string readLink(const std::string& path) {
  char buf[PATH_MAX];
  ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, size_t(n));
}

// State letter and parent from /proc/PID/stat; the command name sits in parentheses and may
// itself hold spaces or parentheses, so the fields are read after the last ')'.
bool readStat(pid_t pid, char* state, pid_t* parent) {
  std::string line;
  if (!readProcFile(procPath(pid, "stat"), &line)) return false;
  size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(line.substr(close + 1));
  long ppid = 0;
  rest >> *state >> ppid;
  *parent = pid_t(ppid);
  return bool(rest);
}

// Whether the process lives (a zombie runs nothing), and its parent.
bool liveParent(pid_t pid, pid_t* parent) {
  char state = 0;
  return pid > 0 && readStat(pid, &state, parent) && state != 'Z' && state != 'X';
}

bool isLive(pid_t pid) {
  pid_t parent = 0;
  return liveParent(pid, &parent);
}

std::vector<std::string> readArgs(pid_t pid) {
  std::string all;
  std::vector<std::string> args;
  if (!readProcFile(procPath(pid, "cmdline"), &all)) return args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

// The process's executable, and for a script the script: an interpreter started by "#!" gets
// the script's path among its first arguments (after any interpreter options).
struct Running {
  std::string exe;
  std::vector<std::string> scriptCandidates;
};

Running runningOf(pid_t pid) {
  Running r;
  r.exe = readLink(procPath(pid, "exe"));
  std::string cwd = readLink(procPath(pid, "cwd"));
  std::vector<std::string> args = readArgs(pid);
  for (size_t k = 0; k < args.size() && k < 3; ++k) {
    if (args[k].find('/') == std::string::npos) continue;
    std::string p = args[k][0] == '/' ? args[k] : cwd + "/" + args[k];
    std::string resolved = FSResolvedPath(p);
    if (!resolved.empty()) r.scriptCandidates.push_back(resolved);
  }
  return r;
}

bool runs(const Running& r, const std::string& program, bool isScript) {
  if (program.empty()) return false;
  if (r.exe == program) return true;
  return isScript && std::find(r.scriptCandidates.begin(), r.scriptCandidates.end(), program) != r.scriptCandidates.end();
}

// The entry file GIO launched this very process from; "" for another process, or for a child
// that inherited the variables from the process GIO launched.
std::string launchedDesktopFile(pid_t pid) {
  std::string all;
  if (!readProcFile(procPath(pid, "environ"), &all)) return {};
  static const std::string kFile = "GIO_LAUNCHED_DESKTOP_FILE=";
  static const std::string kPid = "GIO_LAUNCHED_DESKTOP_FILE_PID=";
  std::string file, launchedPid;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    std::string_view v(all.data() + start, end - start);
    if (v.substr(0, kFile.size()) == kFile) file = v.substr(kFile.size());
    if (v.substr(0, kPid.size()) == kPid) launchedPid = v.substr(kPid.size());
    start = end + 1;
  }
  return launchedPid == std::to_string(pid) ? file : std::string();
}

// The innermost systemd unit of the process that a desktop or a bus starts applications in
// ("app-..." or "dbus-:..."); "" when it runs in none.
std::string applicationUnitOf(pid_t pid) {
  std::string all;
  if (!readProcFile(procPath(pid, "cgroup"), &all)) return {};
  std::istringstream lines(all);
  std::string line;
  while (std::getline(lines, line)) {
    // "hierarchy:controllers:path"; the path itself may hold colons.
    size_t first = line.find(':');
    size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    std::string controllers = line.substr(first + 1, second - first - 1);
    if (!controllers.empty() && controllers != "name=systemd") continue;
    std::string path = line.substr(second + 1);
    for (size_t end = path.size(); end > 0;) {
      size_t slash = path.rfind('/', end - 1);
      size_t begin = slash == std::string::npos ? 0 : slash + 1;
      std::string unit = path.substr(begin, end - begin);
      bool isUnit = unit.size() > 6 && (unit.compare(unit.size() - 6, 6, ".scope") == 0 ||
                                        (unit.size() > 8 && unit.compare(unit.size() - 8, 8, ".service") == 0));
      if (isUnit && (unit.compare(0, 4, "app-") == 0 || unit.compare(0, 6, "dbus-:") == 0)) return unit;
      if (slash == std::string::npos) break;
      end = slash;
    }
  }
  return {};
}

// The entry a process was launched as (Processes.h says how it is found).
bool entryOf(pid_t pid, const std::vector<LSApplicationEntry>& entries, LSApplicationEntry* out) {
  std::string file = launchedDesktopFile(pid);
  if (!file.empty()) {
    std::string resolved = FSResolvedPath(file);
    for (const LSApplicationEntry& e : entries) {
      if (!resolved.empty() && e.path == resolved) {
        *out = e;
        return true;
      }
    }
    if (LSCopyApplicationEntry(file, out)) return true;  // an entry outside the data folders
  }
  std::string unit = applicationUnitOf(pid);
  if (!unit.empty()) {
    for (const LSApplicationEntry& e : entries) {
      if (UnitBelongsToApplication(unit, e.id)) {
        *out = e;
        return true;
      }
    }
  }
  return LSCopyApplicationEntryOwnedBy(pid, entries, out);
}

std::vector<pid_t> listPids() {
  std::vector<pid_t> pids;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return pids;
  while (dirent* d = readdir(dir)) {
    char* end = nullptr;
    long v = std::strtol(d->d_name, &end, 10);
    if (end != d->d_name && *end == '\0' && v > 0) pids.push_back(pid_t(v));
  }
  closedir(dir);
  std::sort(pids.begin(), pids.end());
  return pids;
}

// What GetProcessInformation tells of a live process, with the desktop entries given.
void describe(const ProcessSerialNumber& psn, pid_t parent, const std::vector<LSApplicationEntry>& entries,
              ProcessInfoRec* info) {
  const pid_t pid = pid_t(psn.lowLongOfPSN);
  info->processNumber = psn;
  info->processType = kUnknownType;
  info->processSignature = kUnknownType;
  info->processMode = 0;
  info->processLocation = nullptr;
  info->processSize = 0;
  info->processFreeMem = 0;
  info->processLauncher = ProcessSerialNumber{0, UInt32(parent)};
  info->processLaunchDate = 0;
  info->processActiveTime = 0;

  std::string name;
  std::string program = readLink(procPath(pid, "exe"));
  LSApplicationEntry entry;
  if (entryOf(pid, entries, &entry)) {
    info->processType = entry.hidden ? kBackgroundAppType : kApplicationType;
    if (entry.creator) info->processSignature = entry.creator;
    name = entry.name;
    if (!entry.program.empty()) program = entry.program;
  }
  if (name.empty() && readProcFile(procPath(pid, "comm"), &name)) {
    while (!name.empty() && name.back() == '\n') name.pop_back();
  }
  if (info->processName) CopyTextToPascal(name, info->processName);
  if (info->processAppSpec) {
    std::memset(info->processAppSpec, 0, sizeof *info->processAppSpec);
    if (!program.empty()) FSpFromPath(program, info->processAppSpec);
  }
}

// The program a launch would run, and whether it is a script; for an entry, the entry.
OSErr programOf(const std::string& appPath, std::string* program, bool* isScript, LSApplicationEntry* entry,
                bool* isEntry) {
  struct stat st {};
  if (stat(appPath.c_str(), &st) != 0) return fnfErr;
  LSApplicationEntry& e = *entry;
  if (LSCopyApplicationEntry(appPath, &e)) {
    *program = e.program;
    *isScript = e.programIsScript;
    *isEntry = true;
    return e.program.empty() && e.busName.empty() ? fnfErr : noErr;  // the bus may start it without one
  }
  if (!S_ISREG(st.st_mode) || access(appPath.c_str(), X_OK) != 0) return paramErr;  // not an application
  *program = FSResolvedPath(appPath);
  *isScript = FSIsInterpreterScript(*program);
  *isEntry = false;
  return noErr;
}

// The files a launch event's direct object names: aliases, alone or in a list. Items that no longer resolve are left out.
void filesOfLaunchEvent(const AEDesc* event, std::vector<std::string>* files) {
  if (event == nullptr || event->descriptorType == typeNull) return;
  AEDesc direct;
  AEInitializeDesc(&direct);
  if (AEGetParamDesc(event, keyDirectObject, typeWildCard, &direct) != noErr) return;
  long count = 1;
  bool isList = direct.descriptorType == typeAEList;
  if (isList && AECountItems(&direct, &count) != noErr) count = 0;
  for (long k = 1; k <= count; ++k) {
    AEDesc item;
    AEInitializeDesc(&item);
    AEKeyword keyword = 0;
    if (isList ? AEGetNthDesc(&direct, k, typeWildCard, &keyword, &item) != noErr
               : AEDuplicateDesc(&direct, &item) != noErr)
      continue;
    Size size = AEGetDescDataSize(&item);
    FSRef ref;
    bool resolved = false;
    if (item.descriptorType == typeAlias && size > 0) {
      Handle h = NewHandle(size);
      if (h && AEGetDescData(&item, *h, size) == noErr) {
        Boolean changed = false;
        resolved = FSResolveAlias(nullptr, reinterpret_cast<AliasHandle>(h), &ref, &changed) == noErr;
      }
      if (h) DisposeHandle(h);
    }
    if (resolved) files->push_back(ref.path);
    AEDisposeDesc(&item);
  }
  AEDisposeDesc(&direct);
}

OSErr spawnDetached(const std::string& path, const std::vector<std::string>& args, pid_t* pid) {
  int pidPipe[2], errPipe[2];
  if (pipe2(pidPipe, O_CLOEXEC) != 0) return memFullErr;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(pidPipe[0]);
    close(pidPipe[1]);
    return memFullErr;
  }
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t middle = fork();
  if (middle == 0) {
    pid_t child = fork();
    if (child == 0) {
      setsid();
      execv(argv[0], argv.data());
      int e = errno;
      (void)!write(errPipe[1], &e, sizeof e);
      _exit(127);
    }
    (void)!write(pidPipe[1], &child, sizeof child);
    _exit(child > 0 ? 0 : 1);
  }
  int forkErrno = errno;
  close(pidPipe[1]);
  close(errPipe[1]);
  if (middle < 0) {
    close(pidPipe[0]);
    close(errPipe[0]);
    // Out of processes is out of memory to the caller, who may try again with less.
    return forkErrno == EAGAIN ? memFullErr : OSErrFromErrno(forkErrno);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  pid_t child = -1;
  ssize_t got = read(pidPipe[0], &child, sizeof child);
  int execErrno = 0;
  ssize_t gotErr = 0;
  while ((gotErr = read(errPipe[0], &execErrno, sizeof execErrno)) < 0 && errno == EINTR) {
  }
  close(pidPipe[0]);
  close(errPipe[0]);
  if (got != sizeof child || child <= 0) return memFullErr;
  if (gotErr == sizeof execErrno) {
    // A program that exists but will not run is refused, whatever the reason.
    OSErr err = OSErrFromErrno(execErrno);
    return err == ioErr ? permErr : err;
  }
  *pid = child;
  return noErr;
}

}  // namespace

namespace {

// A unit name's escape of an application ID: "-" and every byte but letters, digits, ":", "_"
// and a "." that does not lead become \xNN.
std::string unitEscape(const std::string& id) {
  std::string out;
  char hex[5];
  for (size_t k = 0; k < id.size(); ++k) {
    unsigned char c = static_cast<unsigned char>(id[k]);
    if (std::isalnum(c) || c == ':' || c == '_' || (c == '.' && k > 0)) {
      out.push_back(char(c));
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool UnitBelongsToApplication(const std::string& unit, const std::string& desktopID) {
  std::string id = endsWith(desktopID, ".desktop") ? desktopID.substr(0, desktopID.size() - 8) : desktopID;
  if (id.empty()) return false;
  const std::string forms[] = {unitEscape(id), id};
  std::string rest;
  if (unit.compare(0, 6, "dbus-:") == 0 && endsWith(unit, ".service")) {
    // dbus-:<connection>-<ID>@<n>.service; a connection name holds no "-".
    rest = unit.substr(6, unit.size() - 6 - 8);
    size_t at = rest.rfind('@');
    size_t dash = rest.find('-');
    if (at == std::string::npos || dash == std::string::npos || dash > at) return false;
    rest = rest.substr(dash + 1, at - dash - 1);
    return rest == forms[0] || rest == forms[1];
  }
  if (unit.compare(0, 4, "app-") != 0) return false;
  if (endsWith(unit, ".scope")) {
    rest = unit.substr(4, unit.size() - 4 - 6);
    size_t dash = rest.rfind('-');  // before the random part, which a scope always has
    if (dash == std::string::npos || dash + 1 == rest.size()) return false;
    rest.resize(dash);
  } else if (endsWith(unit, ".service")) {
    rest = unit.substr(4, unit.size() - 4 - 8);
    size_t at = rest.rfind('@');
    if (at != std::string::npos) rest.resize(at);
  } else {
    return false;
  }
  for (const std::string& form : forms) {
    if (rest == form) return true;
    // A launcher's name before the ID holds no "-".
    if (rest.size() > form.size() + 1 && endsWith(rest, "-" + form) &&
        rest.find('-') == rest.size() - form.size() - 1)
      return true;
  }
  return false;
}

OSErr GetCurrentProcess(ProcessSerialNumber* psn) {
  if (psn == nullptr) return paramErr;
  *psn = ProcessSerialNumber{0, UInt32(getpid())};
  return noErr;
}

OSErr GetNextProcess(ProcessSerialNumber* psn) {
  if (psn == nullptr) return paramErr;
  for (pid_t pid : listPids()) {
    if (UInt32(pid) <= psn->lowLongOfPSN) continue;
    if (!isLive(pid)) continue;
    *psn = ProcessSerialNumber{0, UInt32(pid)};
    return noErr;
  }
  *psn = ProcessSerialNumber{0, kNoProcess};
  return procNotFound;
}

OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info) {
  if (psn == nullptr || info == nullptr) return paramErr;
  pid_t parent = 0;
  if (!liveParent(pid_t(psn->lowLongOfPSN), &parent)) return procNotFound;
  describe(*psn, parent, LSCopyApplicationEntries(), info);
  return noErr;
}

ProcessWalk::ProcessWalk() : pids_(listPids()), entries_(LSCopyApplicationEntries()) {}

OSErr ProcessWalk::next(ProcessSerialNumber* psn) {
  if (psn == nullptr) return paramErr;
  while (at_ < pids_.size()) {
    pid_t pid = pids_[at_++];
    if (!isLive(pid)) continue;
    *psn = ProcessSerialNumber{0, UInt32(pid)};
    return noErr;
  }
  *psn = ProcessSerialNumber{0, kNoProcess};
  return procNotFound;
}

OSErr ProcessWalk::information(const ProcessSerialNumber* psn, ProcessInfoRec* info) const {
  if (psn == nullptr || info == nullptr) return paramErr;
  pid_t parent = 0;
  if (!liveParent(pid_t(psn->lowLongOfPSN), &parent)) return procNotFound;
  describe(*psn, parent, entries_, info);
  return noErr;
}

OSErr SetFrontProcess(const ProcessSerialNumber* psn) {
  if (psn == nullptr) return paramErr;
  pid_t pid = pid_t(psn->lowLongOfPSN);
  if (pid <= 0 || !isLive(pid)) return procNotFound;
  gFrontProcess = pid;
  return noErr;
}

OSErr GetFrontProcess(ProcessSerialNumber* psn) {
  if (psn == nullptr) return paramErr;
  pid_t pid = gFrontProcess;
  if (pid <= 0 || !isLive(pid)) pid = getpid();
  *psn = ProcessSerialNumber{0, UInt32(pid)};
  return noErr;
}

OSErr LaunchApplication(LaunchPBPtr pb) {
  if (pb == nullptr || pb->launchBlockID != extendedBlock || pb->launchEPBLength < extendedBlockLen ||
      pb->launchAppSpec == nullptr)
    return paramErr;
  std::string appPath;
  OSErr err = FSpGetPath(pb->launchAppSpec, &appPath);
  if (err != noErr) return err;
  std::string program;
  bool isScript = false, isEntry = false;
  LSApplicationEntry target;
  err = programOf(appPath, &program, &isScript, &target, &isEntry);
  if (err != noErr) return err;

  pid_t running = 0;
  if (isEntry && LSCopyApplicationOwner(target, &running)) {
    pb->launchProcessSN = ProcessSerialNumber{0, UInt32(running)};
    return opWrErr;
  }
  std::vector<LSApplicationEntry> entries;
  if (isEntry) entries = LSCopyApplicationEntries();
  for (pid_t pid : listPids()) {
    if (pid == getpid() || !isLive(pid)) continue;
    LSApplicationEntry e;
    bool same = isEntry ? entryOf(pid, entries, &e) && (e.path == target.path || e.id == target.id)
                        : runs(runningOf(pid), program, isScript);
    if (same) {
      pb->launchProcessSN = ProcessSerialNumber{0, UInt32(pid)};
      return opWrErr;
    }
  }
  std::vector<std::string> files;
  filesOfLaunchEvent(pb->launchAppParameters, &files);
  pid_t pid = 0;
  if (isEntry) {
    std::vector<std::string> uris;
    for (const std::string& f : files) {
      if (gchar* uri = g_filename_to_uri(f.c_str(), nullptr, nullptr)) {
        uris.emplace_back(uri);
        g_free(uri);
      }
    }
    OSStatus st = LSLaunchApplicationEntry(appPath, uris, &pid);
    if (st != noErr) return OSErr(st == kLSApplicationNotFoundErr ? fnfErr : st);
  } else {
    err = spawnDetached(program, files, &pid);
    if (err != noErr) return err;
  }
  pb->launchProcessSN = ProcessSerialNumber{0, UInt32(pid)};
  return noErr;
}

namespace {
gboolean stopWaiting(gpointer flag) {
  *static_cast<bool*>(flag) = true;
  return G_SOURCE_REMOVE;
}
}  // namespace

void YieldToEventLoop(UInt32 ticks) {
  GMainContext* ctx = g_main_context_default();
  guint ms = guint(UInt64(ticks) * 1000 / 60);
  if (!g_main_context_acquire(ctx)) {  // another thread runs the loop: just wait
    g_usleep(gulong(ms) * 1000);
    return;
  }
  bool done = false;
  GSource* timer = g_timeout_source_new(ms);
  g_source_set_callback(timer, stopWaiting, &done, nullptr);
  g_source_attach(timer, ctx);
  while (!done) g_main_context_iteration(ctx, TRUE);
  g_source_destroy(timer);
  g_source_unref(timer);
  g_main_context_release(ctx);
}
