// SPDX-License-Identifier: GPL-2.0-or-later
// Launch Services over the desktop entries of the XDG data folders, read with GIO.
// An application is a Type=Application entry; its creator is the entry's X-Creator-Code key.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

// $XDG_DATA_HOME (default ~/.local/share) then each of $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share), read afresh on every call so a changed environment counts.
std::vector<std::string> LSCopyDataFolders();

struct LSApplicationEntry {
  std::string path;     // the .desktop file, symbolic links resolved
  std::string id;       // its desktop ID ("org.example.App.desktop"; "kde4-kate.desktop" from a subfolder)
  std::string program;  // the Exec line's program, found on PATH and resolved; "" when missing
  bool programIsScript = false;  // a "#!" file: the process runs its interpreter
  bool hidden = false;  // NoDisplay=true
  OSType creator = 0;   // 0 when the entry names none (the key: four Mac OS Roman characters)
  std::string name;     // the entry's (localised) Name
  std::string busName;  // DBusActivatable=true with an ID that is a bus name: that name, else ""
};

// Every application entry, data home first; an entry shadows later ones with its desktop ID.
// The folders are read again whenever a .desktop file in them was added, removed or changed.
std::vector<LSApplicationEntry> LSCopyApplicationEntries();
// The entry at that path, when it is an application entry.
bool LSCopyApplicationEntry(const std::string& desktopFile, LSApplicationEntry* entry);

constexpr OSType kLSUnknownCreator = 0;
// The first application with that creator in data-folder order (name and bundle ID ignored).
OSStatus LSFindApplicationForInfo(OSType inCreator, const char* inBundleID, const char* inName, FSRef* outAppRef,
                                  void* outAppURL);

// Opens the item: an application entry is launched, any other file is opened with the desktop's
// default application for its content type.
OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef);
// Launches an application entry with the given file URIs; pid receives the process's ID. An
// activatable entry is asked over the session bus to activate (or open the files), and pid is
// then the process that owns its name; when no bus answers or none can start that name, its
// Exec line runs instead. A launch is reported only when it happened.
OSStatus LSLaunchApplicationEntry(const std::string& desktopFile, const std::vector<std::string>& uris, pid_t* pid);

// The process that owns an activatable entry's name on the session bus; false when there is no
// bus, the entry is not activatable or the name has no owner.
bool LSCopyApplicationOwner(const LSApplicationEntry& entry, pid_t* pid);
// The activatable entry among entries (those of LSCopyApplicationEntries) whose name the process
// owns. Answers come from a snapshot of at most half a second, so a walk over every process asks
// the bus once; a launch through LSLaunchApplicationEntry renews it.
bool LSCopyApplicationEntryOwnedBy(pid_t pid, const std::vector<LSApplicationEntry>& entries,
                                   LSApplicationEntry* entry);

// An application entry's Name; any other item's display base name (GLib's filename form).
OSStatus LSCopyDisplayNameForRef(const FSRef* inRef, std::string* outDisplayName);

using LSRequestedInfo = UInt32;
constexpr LSRequestedInfo kLSRequestTypeCreator = 0x00000002;
constexpr LSRequestedInfo kLSRequestAppTypeFlags = 0x00000008;
using LSItemInfoFlags = UInt32;
constexpr LSItemInfoFlags kLSItemInfoIsApplication = 0x00000004;
struct LSItemInfoRecord {
  LSItemInfoFlags flags;
  OSType filetype;  // 'APPL' for an application entry, else the catalog's type
  OSType creator;   // the entry's creator, else the catalog's; 0 when none is known
};
// fnfErr when the item is gone; noErr otherwise.
OSStatus LSCopyItemInfoForRef(const FSRef* inItemRef, LSRequestedInfo inWhichInfo, LSItemInfoRecord* outItemInfo);
