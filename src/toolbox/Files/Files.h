// SPDX-License-Identifier: GPL-2.0-or-later
// File references, classic file specifications and the file manager calls built on them.
// A specification is a volume, a folder ID and a leaf name of up to 255 bytes, kept whole.
#pragma once
#include <cstdio>
#include <string>

#include "media/SafeSave.h"
#include "toolbox/Core/MacTypes.h"

// A folder ID names a folder seen by this process; IDs are handed out on first sight and stay
// valid while the folder keeps its device and inode. The root folder is fsRtDirID.
constexpr SInt32 fsRtParID = 1;
constexpr SInt32 fsRtDirID = 2;

struct FSSpec {
  SInt16 vRefNum;
  SInt32 parID;
  Str255 name;
};
using FSSpecPtr = FSSpec*;

// An existing file or folder: its absolute path with symbolic links resolved, and its identity.
struct FSRef {
  std::string path;
  UInt64 device = 0;
  UInt64 inode = 0;
};

struct FInfo {
  OSType fdType;
  OSType fdCreator;
  UInt16 fdFlags;
  Point fdLocation;
  SInt16 fdFldr;
};

constexpr UInt16 kHasBundle = 0x2000;
constexpr UInt16 kIsAlias = 0x8000;
constexpr UInt8 kioFlAttribDirMask = 0x10;
constexpr UInt8 kioFlAttribLockedMask = 0x01;

// Folder lookup.
constexpr SInt16 kOnSystemDisk = -32767;
constexpr SInt16 kUserDomain = -32763;
constexpr Boolean kCreateFolder = true;
constexpr Boolean kDontCreateFolder = false;
constexpr OSType kChewableItemsFolderType = FOUR_CHAR_CODE("flnt");  // the user's own folder in the next
constexpr OSType kTemporaryFolderType = FOUR_CHAR_CODE("temp");      // $TMPDIR, else /tmp
constexpr OSType kCurrentUserFolderType = FOUR_CHAR_CODE("cusr");    // $HOME
constexpr OSType kApplicationSupportFolderType = FOUR_CHAR_CODE("asup");  // $XDG_DATA_HOME

constexpr ScriptCode smSystemScript = -1;
constexpr ScriptCode smCurrentScript = -2;

OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory);
OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize);
OSErr FSFindFolder(SInt16 vRefNum, OSType folderType, Boolean createFolder, FSRef* foundRef);

// noErr when the item exists, fnfErr when its folder exists but it does not (the
// specification is then filled all the same), dirNFErr or nsvErr when the folder is unknown.
OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec);
OSErr FSpMakeFSRef(const FSSpec* spec, FSRef* ref);

// Catalog information: only the classic specification and the parent are provided.
using FSCatalogInfoBitmap = UInt32;
constexpr FSCatalogInfoBitmap kFSCatInfoNone = 0;
struct FSCatalogInfo {
  UInt16 nodeFlags;
  UInt64 dataLogicalSize;
};
constexpr UInt16 kFSNodeIsDirectoryMask = 0x0010;
OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo* catalogInfo,
                       void* outName, FSSpec* fsSpec, FSRef* parentRef);

// A catalog lookup: ioFDirIndex 0 looks ioNamePtr up in folder ioDirID; a positive index takes
// the folder's n-th item (in name order; fnfErr past the end) and writes its name to ioNamePtr;
// a negative index describes folder ioDirID itself. For a folder, ioDirID comes back as its own ID.
struct CInfoPBRec {
  OSErr ioResult;
  StringPtr ioNamePtr;
  SInt16 ioVRefNum;
  SInt16 ioFDirIndex;
  SInt32 ioDirID;
  UInt8 ioFlAttrib;
  FInfo ioFlFndrInfo;
  SInt32 ioFlParID;   // the folder that holds the item
  UInt64 ioFlLgLen;   // data size of a file
  UInt32 ioFlMode;    // the item's permission bits and type, as the file system stores them
};
using CInfoPBPtr = CInfoPBRec*;
OSErr PBGetCatInfoSync(CInfoPBPtr pb);

// Creation and removal. FSpCreate never replaces an existing file (dupFNErr); type and creator
// go into the "user.com.apple.FinderInfo" extended attribute where the file system allows.
OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode scriptTag);
OSErr FSpDirCreate(const FSSpec* spec, ScriptCode scriptTag, SInt32* createdDirID);
OSErr FSpDelete(const FSSpec* spec);
OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo);
OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo);

// A new, empty, private working file in the folder of near, for data nobody may see before it
// is complete. It has no name in the folder where the file system allows (O_TMPFILE), so it
// vanishes with the process however that ends; elsewhere it is a locked 0600 file with a name
// still2mov recognises (".still2mov-XXXXXXXX-BASE.part"), removed on SIGINT, SIGTERM and SIGHUP
// and, left by a kill, by FSRemoveStaleWorkingFiles. out names it for every call here
// (FSpGetPath gives a path that opens it); FSpDelete discards it, FSpPublishTemporary gives it
// a real name.
OSErr FSpCreateTemporary(const FSSpec* near, const char* baseName, FSSpec* out);

// What stood under a name when it was looked at (never through a link): enough to tell later
// whether the name still holds that very file, unchanged. present is false when nothing did.
using FSItemStamp = media::FileIdentity;
OSErr FSpGetItemStamp(const FSSpec* spec, FSItemStamp* stamp);

enum class FSPublishRule {
  noReplace,       // dupFNErr when the name is taken, told by the very step that names the file
  replaceChecked,  // only the file stamped earlier, unchanged; dupFNErr for anything else there
  replaceAny,      // whatever has the name (a link itself, never what it points to)
};

// Flushes a complete working file (or any file with a name of its own, which then loses that
// name) and gives it the target's name in one step, as rule allows. replaceChecked exchanges
// the two names (renameat2 RENAME_EXCHANGE) and puts them back unless what came out is the
// stamped file, so nothing that appears or changes meanwhile is replaced; a file system
// without the exchange gets a last look just before the rename. On success the working file's
// specification is spent; on failure the working file is as it was, for the caller to discard.
// A target that is itself a working file simply takes over the new contents (replaceAny only).
OSErr FSpPublishTemporaryByRule(const FSSpec* temporary, const FSSpec* target, FSPublishRule rule,
                                const FSItemStamp* checked);
// The same with replaceAny or noReplace. SafeSave.h wraps the sequence.
OSErr FSpPublishTemporary(const FSSpec* temporary, const FSSpec* target, Boolean replaceExisting);

// Working material (a file, or a folder that will be empty) that SIGINT, SIGTERM or SIGHUP
// must not leave behind: this process removes it then, until FSpDelete removes it or
// FSKeepOnInterrupt lets it go.
void FSRemoveOnInterrupt(const std::string& path);
void FSKeepOnInterrupt(const std::string& path);
// Held around making working material and giving it to FSRemoveOnInterrupt, so that no
// interrupt falls between the two.
using FSInterruptsHeld = media::SignalsHeld;

// Removes from folderPath the working files of this user's that a killed run left: named as
// ours, not locked by a run still using them, untouched for a quarter of an hour. How many went.
std::size_t FSRemoveStaleWorkingFiles(const std::string& folderPath);

// Opens the file that a specification names with open(2) flags, never through a symbolic
// link; a working file opens even while it has no name. The caller closes the descriptor.
OSErr FSpOpenDescriptor(const FSSpec* spec, int openFlags, int* fd);

// Opens a new file for writing, created exclusively with the given mode and never through a
// symbolic link: dupFNErr when the name is taken.
OSErr FSOpenNewFile(const char* path, unsigned mode, FILE** stream);

bool FSFileExistsAtPath(const std::string& path);

// The absolute path of an existing item with every symbolic link resolved; "" when none.
std::string FSResolvedPath(const std::string& path);
// Whether the file starts with "#!", a script the system runs through its interpreter (whose
// process then runs the interpreter, with the script among its arguments).
bool FSIsInterpreterScript(const std::string& path);

// The absolute path that a specification names (whether or not the item exists).
OSErr FSpGetPath(const FSSpec* spec, std::string* path);
// The specification of an absolute path whose folder exists.
OSErr FSpFromPath(const std::string& path, FSSpec* spec);
// The same for a path as a user gives it: a relative one starts at the current folder, and "."
// and ".." are taken by name, as the shell's cd takes them, not through links.
OSErr FSpFromUserPath(const std::string& path, FSSpec* spec);

// Registry of volume numbers and folder IDs.
SInt16 FSVolumeRefNumForDevice(UInt64 device);
bool FSDeviceForVolumeRefNum(SInt16 vRefNum, UInt64* device);
SInt32 FSDirIDForFolder(const std::string& absoluteFolderPath);  // 0 when it is not a folder
bool FSFolderForDirID(SInt16 vRefNum, SInt32 dirID, std::string* path);
