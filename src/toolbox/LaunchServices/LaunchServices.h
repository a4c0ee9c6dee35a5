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
  std::string path;     // the .desktop file
  std::string program;  // the Exec line's program, found on PATH and resolved; "" when missing
  bool programIsScript = false;  // a "#!" file: the process runs its interpreter
  bool hidden = false;  // NoDisplay=true
  OSType creator = 0;   // 0 when the entry names none (the key must be exactly four bytes)
  std::string name;     // the entry's (localised) Name
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
// Launches an application entry with the given file URIs; pid receives the new process's ID.
OSStatus LSLaunchApplicationEntry(const std::string& desktopFile, const std::vector<std::string>& uris, pid_t* pid);

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

// Four bytes, most significant first, from text of exactly four bytes; 0 otherwise.
OSType LSCreatorFromText(const char* text);
