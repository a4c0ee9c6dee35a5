// SPDX-License-Identifier: GPL-2.0-or-later
// The process manager over /proc: walking, describing, launching and fronting processes.
// A process serial number is the process ID; creators come from the desktop entry a process runs.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "toolbox/AppleEvents/AEDataModel.h"
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/LaunchServices/LaunchServices.h"

// ProcessSerialNumber (AEDataModel.h) holds the PID in lowLongOfPSN; highLongOfPSN is 0.
using ProcessSerialNumberPtr = ProcessSerialNumber*;
constexpr UInt32 kNoProcess = 0;

// A process runs the desktop entry it was launched as, never merely one whose Exec line names
// the same program (any "sleep" would otherwise be every entry that runs sleep). That entry is:
// the one GIO names in the process's environment (GIO_LAUNCHED_DESKTOP_FILE, with
// GIO_LAUNCHED_DESKTOP_FILE_PID its own ID, since children inherit both); else the one whose
// desktop ID names the systemd unit it runs in (desktops start applications, flatpaks among
// them, in such units); else the activatable entry whose name it owns on the session bus.
// Type 'APPL' for a process of a shown entry, 'appe' for one whose entry is hidden
// (NoDisplay=true, a background agent), '????' for any other process.
constexpr OSType kApplicationType = FOUR_CHAR_CODE("APPL");
constexpr OSType kBackgroundAppType = FOUR_CHAR_CODE("appe");
constexpr OSType kUnknownType = FOUR_CHAR_CODE("????");

struct ProcessInfoRec {
  UInt32 processInfoLength;
  StringPtr processName;         // filled when not null: the entry's name, else the command name
  ProcessSerialNumber processNumber;
  OSType processType;
  OSType processSignature;       // the entry's X-Creator-Code, '????' when none
  UInt32 processMode;
  Ptr processLocation;
  UInt32 processSize;
  UInt32 processFreeMem;
  ProcessSerialNumber processLauncher;  // the parent process
  UInt32 processLaunchDate;
  UInt32 processActiveTime;
  FSSpecPtr processAppSpec;      // filled when not null: the program file that the process runs
};
using ProcessInfoRecPtr = ProcessInfoRec*;

// Whether a systemd unit is one a desktop started for the application with that desktop ID:
// "app[-<launcher>]-<ID>-<random>.scope", "app[-<launcher>]-<ID>[@<random>].service" (the ID
// without ".desktop", its "-" written \x2d or, by some launchers, left as it is), or the unit a
// bus starts for an activation, "dbus-:<connection>-<ID>@<n>.service".
bool UnitBelongsToApplication(const std::string& unit, const std::string& desktopID);

OSErr GetCurrentProcess(ProcessSerialNumber* psn);
// The next live process after psn in PID order (kNoProcess starts); procNotFound after the last.
// Zombies are skipped: they run nothing.
OSErr GetNextProcess(ProcessSerialNumber* psn);
OSErr GetProcessInformation(const ProcessSerialNumber* psn, ProcessInfoRec* info);

// A walk over the processes in PID order, as GetNextProcess and GetProcessInformation answer,
// except that the processes are listed and the desktop entries read once for the whole walk
// rather than again for each process. A process that ends meanwhile is passed over.
class ProcessWalk {
 public:
  ProcessWalk();
  // The next live process; procNotFound after the last.
  OSErr next(ProcessSerialNumber* psn);
  // What GetProcessInformation says of that process; procNotFound once it has ended.
  OSErr information(const ProcessSerialNumber* psn, ProcessInfoRec* info) const;

 private:
  std::vector<pid_t> pids_;
  std::size_t at_ = 0;
  std::vector<LSApplicationEntry> entries_;
};
// A desktop cannot be made to raise another program's window, so this asks nothing of it: it
// checks that the process lives and remembers it as the front process (procNotFound otherwise).
OSErr SetFrontProcess(const ProcessSerialNumber* psn);
OSErr GetFrontProcess(ProcessSerialNumber* psn);  // the last one brought to the front, else us

// Launching. The application is a desktop entry (launched as LSLaunchApplicationEntry says) or
// an executable file (run without arguments). The new process is detached: it is never our
// child, so it leaves no zombie behind. opWrErr with its serial number when that application
// already runs (a process runs the entry, or for an executable, that program); the new
// process's serial number on success.
constexpr UInt16 extendedBlock = 0x4C43;  // 'LC'
constexpr UInt32 extendedBlockLen = 32;
constexpr UInt16 launchContinue = 0x4000;
constexpr UInt16 launchNoFileFlags = 0x0800;
constexpr UInt16 launchUseMinimum = 0x0400;
// The launch event: when its direct object is an alias or a list of aliases, those files are
// handed to the program at launch (as its Exec line's files, or as arguments).
using AppParametersPtr = const AEDesc*;
struct LaunchParamBlockRec {
  UInt32 reserved1;
  UInt16 reserved2;
  UInt16 launchBlockID;        // extendedBlock, else paramErr
  UInt32 launchEPBLength;      // extendedBlockLen
  UInt16 launchFileFlags;
  UInt16 launchControlFlags;   // our process always continues, so launchContinue changes nothing
  FSSpecPtr launchAppSpec;
  ProcessSerialNumber launchProcessSN;  // out
  UInt32 launchPreferredSize;
  UInt32 launchMinimumSize;
  UInt32 launchAvailableSize;
  AppParametersPtr launchAppParameters;
};
using LaunchPBPtr = LaunchParamBlockRec*;
OSErr LaunchApplication(LaunchPBPtr launchParams);

// Dispatches pending events of the thread's default GLib main context for up to the given ticks;
// stands for the event loop a polling caller yields to.
void YieldToEventLoop(UInt32 ticks);
