// SPDX-License-Identifier: GPL-2.0-or-later
// The platform utility class: file, folder, process, Apple event and string operations.
// All static; the conversion uses only GetFSSpecFromFSRef.
#pragma once
#include <string>

#include "toolbox/AppleEvents/AEDataModel.h"
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/InternetConfig/InternetConfig.h"
#include "toolbox/Processes/Processes.h"

// On Linux an application is a desktop entry (a Type=Application .desktop file in the XDG data
// folders' "applications"); its creator is the entry's X-Creator-Code key, and a process has the
// creator of the entry it was launched as (Processes.h says how that is told). Pascal strings hold
// names as the file system keeps them (UTF-8 bytes), whatever the system script, and text longer
// than a Pascal string holds is cut where a character ends (TextConversion.h). The system version
// is Gestalt's 'sysv' answer: 0x1040 unless STILL2MOV_SYSTEM_VERSION (hexadecimal) or
// SetEmulatedSystemVersion says otherwise.
class UtilsCIP {
 public:
  // The classic specification of a referenced item; true when a catalog lookup confirms it.
  static bool GetFSSpecFromFSRef(FSRef& ref, FSSpec& spec);

  // --- Applications: Launch Services and the desktop entries (UtilsCIPApplications.cpp) ---
  // The first application entry with that creator, data home first.
  static bool FindOSXFSSpec(OSType creator, FSSpec* spec);
  static bool FindOSXFSRef(OSType creator, FSRef& ref);
  // Volume by volume, the application entries kept on that volume with that creator; the first
  // that IsApplication confirms.
  static bool FindOS9FSSpec(OSType creator, FSSpec* spec);
  // Clears spec, then FindOSXFSSpec from system version 0x99A on, else FindOS9FSSpec.
  static bool FindAppFspec(OSType creator, FSSpec* spec);
  // The entry's creator, else the file's recorded creator, else '????'.
  static OSType GetSignature(FSSpec& spec);
  // An entry's Name, another item's display name without a trailing ".app"; when the item cannot
  // be asked, its file name without ".app". Cut to 255 bytes on a character boundary.
  static bool GetDisplayName(FSSpec& spec, StringPtr name);
  // True for an application entry with that creator, or a file recorded as 'APPL' with it.
  static bool IsApplication(FSSpec& spec, OSType creator);

  // --- Launching (UtilsCIPLaunching.cpp) ---
  // Opens the item: launches an application entry, opens any other file with its default
  // application. Launch Services' status.
  static OSStatus LaunchAppByRef(FSRef ref);
  // Launches (flags launchContinue | launchNoFileFlags), with the launch event's files; on
  // memFullErr retries once also with launchUseMinimum; an application already running is
  // brought to the front instead (noErr).
  static OSErr LaunchWithFSSpec(OSType creator, FSSpec* app, AEDesc* launchEvent);
  // Launches with launchContinue (or takes the running one), then polls up to 480 ticks,
  // yielding 90 at a time, until a process with that creator runs; connectionInvalid (-609)
  // on time-out. The block comes back with the process's serial number.
  static OSErr LaunchAnotherApplication(FSSpec* app, LaunchParamBlockRec* launchBlock, OSType creator);
  // LaunchAnotherApplication, then (count > 0) CreateODEvent again and again for up to 480
  // ticks until it is sent; memFullErr when the launch lacked memory, -609 on time-out.
  static OSErr LaunchWithDocument(FSSpec* app, AEEventClass eventClass, AEEventID eventID, FSSpec* documents,
                                  short count, OSType creator);

  // --- Processes, and our own program (UtilsCIPProcesses.cpp) ---
  // The first process of type 'APPL' with that creator, brought to the front; its serial
  // number and (when name is not null) its name. procNotFound when there is none.
  static OSErr FindRunningProcess(ProcessSerialNumber* psn, OSType creator, StringPtr name);
  // The first process with that creator, of any type, to the front; procNotFound when none.
  static OSErr SetFrontProcessByCreator(OSType creator);
  // noErr when a process of type 'APPL' or 'appe' with that creator runs, else procNotFound.
  static OSErr FindRunningApp(OSType creator);
  // The running program's own file (for a script, the script). Always noErr.
  static OSErr GetActiveDir(FSSpec* spec);
  // The same, from the process manager, with its status.
  static OSErr GetInteriorDir(FSSpec* spec);
  // Three folder levels above the running program (an application bundle's folder); never
  // above the root. Always noErr.
  static OSErr GetExteriorDir(FSSpec* spec);

  // --- Apple events to other applications (UtilsCIPEvents.cpp) ---
  // Sends class/ID to the process with a direct object listing aliases to the files; no reply.
  static OSErr CreateODEvent(FSSpec* files, AEEventClass eventClass, AEEventID eventID, ProcessSerialNumber psn,
                             short count);
  // Sends 'Brws'/'SetD' to the application with that signature, direct object a list holding
  // the specification ('fss ', 70 bytes); no reply.
  static OSErr SetDirectory(FSSpec& spec, OSType creator);

  // --- Internet Config, the desktop's default handlers (UtilsCIPInternetConfig.cpp) ---
  // A helper preference ("Helper\xA5" + URI scheme): the default handler for that scheme.
  static bool GetICPref(ConstStr255Param key, ICAppSpec* app);
  // The creator of the default mailto handler; 'emal' when there is none or it names none.
  static OSType GetSignatureForUsersDefaultEmail();

  // --- Files and folders (UtilsCIPFolders.cpp; the photo library, UtilsCIPPhoto.cpp) ---
  // The index-th mounted volume (from 1): its mount point as the name, and its number.
  static bool GetVolumeByNumber(StringPtr volumeName, short index, short* vRefNum);
  // The item's absolute path (a Linux path uses "/", not ":"). pathTooLongErr, and an empty
  // string, when it exceeds 255 bytes: never a shortened path that would name another file.
  // fnfErr (with the path) when the item does not exist.
  static OSErr GetFullPath(StringPtr path, FSSpec* spec);
  // The item's folder; the root of a volume (the root folder or a mount point) is its own parent.
  // A link's folder is its parent, wherever the link leads.
  static bool GetParentSpec(FSSpec& spec, FSSpec& parent);
  // True when a catalog lookup of the specification finds the item.
  static bool ValidFile(FSSpec& spec);
  // The folder whose ID is folder->parID, listed by index in name order: folders when
  // filesWanted is false, files when true, up to capacity; the end of the folder is success.
  // A link counts as what it leads to, one that leads nowhere as a file. While other programs
  // add or remove items, every item that stays is listed once.
  static OSErr GetDirectoryList(FSSpec* folder, FSSpec* items, short capacity, short* count, bool filesWanted);
  // Names the subfolder in spec and puts its folder ID in spec->parID; dirNFErr for a file.
  static OSErr GetSubDirectory(ConstStr255Param name, FSSpec* spec);
  // Searches the volume (one file system; symbolic links not followed) for items of exactly that
  // name, at most 20: the first that is an application with that creator (not a link), a
  // folder flagged has-bundle, or any folder when the name ends in ".app".
  static bool FindFileByName(ConstStr255Param name, FSSpec& spec, short vRefNum, OSType creator);
  // Replaces the file: removes an existing one of the name being created (never a folder), then
  // creates it with type and creator. From system version 0x99A on, the name is the given one
  // (or the specification's) and spec is updated to it. Mode 0666 under the umask.
  static OSErr CreateOSIndFile(FSSpec& spec, OSType creator, OSType fileType, ConstStr255Param name);
  // Creates the folder named name in spec's folder, mode 0777 under the umask; an existing folder
  // of that name answers noErr with its ID; an existing file answers dupFNErr. bdNamErr for a
  // name that is not one name in that folder ("", ".", "..", a "/" or a zero byte).
  static OSErr CreateOSIndDirectory(FSSpec& spec, ConstStr255Param name, SInt32* dirID);

  // The photo-library bridge: "vantor/photo-support/vantor2ipho.so" in the XDG data folders,
  // whose C function int submit2(const char* path, long flags) takes the file; its result, or
  // -1 when the library or the function is missing.
  static OSStatus SendToIPhoto(FSSpec* spec, long flags);

  // --- Strings and codes (UtilsCIPStrings.cpp) ---
  static void PStrCpy(StringPtr dst, ConstStr255Param src);
  // Appends what fits in capacity − 1 bytes (and never more than 255); returns dst.
  static StringPtr PStrCat(StringPtr dst, ConstStr255Param src, short capacity);
  static void C2Pstr(char* s);       // a C string of more than 255 bytes keeps what fits of it
  static void P2Cstr(StringPtr s);   // the buffer needs length + 1 bytes
  // The text from the last "." on, dot included, as a C string (256 bytes suffice); false
  // without a dot.
  static bool GetSuffix(ConstStr255Param name, char* suffix);
  static StringPtr StripNameAfterDot(StringPtr name);  // unchanged without a dot
  static void RemoveDotApp(StringPtr name);
  // First and third component of each whole pixel exchanged (24 and 48 bits per pixel).
  static void SwapRGB(void* pixels, long length, short bitsPerPixel);
  // FourCharCodeFromText: four Mac OS Roman characters, first in the most significant byte
  // ("Itnt" == 0x49746E74, as FOUR_CHAR_CODE); text is UTF-8. 0 for text that is not four
  // characters. Desktop entries' creators are read by the same rule.
  static OSType FourCharCodeToOSType(const std::string& text);
  // The reverse; "" (no value) for 0.
  static std::string OsTypeToFourCharCode(OSType code);

  // --- System version (UtilsCIPStrings.cpp) ---
  static bool IsOSX();            // > 0x999
  static bool JaguarOrGreater();  // > 0x101F
  static bool PantherOrGreater(); // > 0x102F
  static bool NotPanther();       // outside 0x1030 ... 0x103F
};
