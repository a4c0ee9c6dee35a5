// SPDX-License-Identifier: GPL-2.0-or-later
// Typed descriptors: a four-character type code with bytes, or a list/record of descriptors.
// Apple events are records with a class, an ID and a target; all values are copied in and out.
#pragma once
#include "toolbox/Core/MacTypes.h"

using DescType = ResType;
using AEKeyword = FourCharCode;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEReturnID = SInt16;
using AETransactionID = SInt32;
using AESendMode = SInt32;
using AESendPriority = SInt16;

// Storage behind a descriptor; only the functions below look inside.
struct OpaqueAEDataStorageType;
using AEDataStorage = OpaqueAEDataStorageType*;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;
};
using AEDescList = AEDesc;
using AERecord = AEDesc;
using AEAddressDesc = AEDesc;
using AppleEvent = AEDesc;
using AEKeyDesc = AEDesc;

// A process on this machine. The Linux process ID sits in the low word; the high word is 0.
struct ProcessSerialNumber {
  UInt32 highLongOfPSN;
  UInt32 lowLongOfPSN;
};

// Descriptor types.
constexpr DescType typeNull = FOUR_CHAR_CODE("null");
constexpr DescType typeWildCard = FOUR_CHAR_CODE("****");
constexpr DescType typeBoolean = FOUR_CHAR_CODE("bool");
constexpr DescType typeSInt16 = FOUR_CHAR_CODE("shor");
constexpr DescType typeSInt32 = FOUR_CHAR_CODE("long");
constexpr DescType typeUInt32 = FOUR_CHAR_CODE("magn");
constexpr DescType typeSInt64 = FOUR_CHAR_CODE("comp");
constexpr DescType typeType = FOUR_CHAR_CODE("type");
constexpr DescType typeEnumerated = FOUR_CHAR_CODE("enum");
constexpr DescType typeChar = FOUR_CHAR_CODE("TEXT");            // bytes of text, no terminator
constexpr DescType typeUTF8Text = FOUR_CHAR_CODE("utf8");
constexpr DescType typeUnicodeText = FOUR_CHAR_CODE("utxt");     // UTF-16 in host byte order
constexpr DescType typeAlias = FOUR_CHAR_CODE("alis");
constexpr DescType typeFSS = FOUR_CHAR_CODE("fss ");
constexpr DescType typeFSRef = FOUR_CHAR_CODE("fsrf");
constexpr DescType typeFileURL = FOUR_CHAR_CODE("furl");
constexpr DescType typeAEList = FOUR_CHAR_CODE("list");
constexpr DescType typeAERecord = FOUR_CHAR_CODE("reco");
constexpr DescType typeAppleEvent = FOUR_CHAR_CODE("aevt");
constexpr DescType typeAppParameters = FOUR_CHAR_CODE("appa");
// Addresses of a target application (see AppleEvents.h for where each one is delivered).
constexpr DescType typeProcessSerialNumber = FOUR_CHAR_CODE("psn ");
constexpr DescType typeKernelProcessID = FOUR_CHAR_CODE("kpid");      // a pid_t (SInt32)
constexpr DescType typeApplSignature = FOUR_CHAR_CODE("sign");        // a creator code (OSType)
constexpr DescType typeApplicationBundleID = FOUR_CHAR_CODE("bund");  // a D-Bus bus name, UTF-8

// Keywords.
constexpr AEKeyword keyDirectObject = FOUR_CHAR_CODE("----");
constexpr AEKeyword keyErrorNumber = FOUR_CHAR_CODE("errn");
constexpr AEKeyword keyErrorString = FOUR_CHAR_CODE("errs");
constexpr AEKeyword keyEventClassAttr = FOUR_CHAR_CODE("evcl");
constexpr AEKeyword keyEventIDAttr = FOUR_CHAR_CODE("evid");
constexpr AEKeyword keyAddressAttr = FOUR_CHAR_CODE("addr");
constexpr AEKeyword keyReturnIDAttr = FOUR_CHAR_CODE("rtid");
constexpr AEKeyword keyTransactionIDAttr = FOUR_CHAR_CODE("tran");
constexpr AEKeyword keyOriginalAddressAttr = FOUR_CHAR_CODE("from");  // sender's pid as typeKernelProcessID

constexpr AEReturnID kAutoGenerateReturnID = -1;
constexpr AETransactionID kAnyTransactionID = 0;

// Every function copies: a descriptor put into a list or an event stays the caller's to dispose.
void AEInitializeDesc(AEDesc* desc);  // typeNull, no data
OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result);
OSErr AEDisposeDesc(AEDesc* theAEDesc);  // leaves it typeNull; safe on a typeNull descriptor
OSErr AEDuplicateDesc(const AEDesc* theAEDesc, AEDesc* result);
Size AEGetDescDataSize(const AEDesc* theAEDesc);  // bytes of a plain descriptor, 0 for lists
OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize);  // copies at most maximumSize
bool AECheckIsRecord(const AEDesc* theDesc);  // a record or an Apple event (keyed items)

// Lists and records. Indices are 1-based; AEPutDesc with index 0 (or count + 1) appends.
OSErr AECreateList(const void* factoringPtr, Size factoredSize, Boolean isRecord, AEDescList* resultList);
OSErr AECountItems(const AEDescList* theAEDescList, long* theCount);
OSErr AEPutDesc(AEDescList* theAEDescList, long index, const AEDesc* theAEDesc);
OSErr AEPutPtr(AEDescList* theAEDescList, long index, DescType typeCode, const void* dataPtr, Size dataSize);
OSErr AEGetNthDesc(const AEDescList* theAEDescList, long index, DescType desiredType, AEKeyword* theAEKeyword,
                   AEDesc* result);

// Keyed items of a record or parameters of an Apple event. Putting a keyword again replaces it.
// desiredType typeWildCard takes the item as it is; another type must match (integers of the
// sizes above convert between each other, text between typeChar, typeUTF8Text and typeUnicodeText),
// else errAECoercionFail. A missing keyword is errAEDescNotFound.
OSErr AEPutParamDesc(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, const AEDesc* theAEDesc);
OSErr AEPutParamPtr(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType typeCode, const void* dataPtr,
                    Size dataSize);
OSErr AEGetParamDesc(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType, AEDesc* result);
OSErr AEGetParamPtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                    DescType* actualType, void* dataPtr, Size maximumSize, Size* actualSize);
OSErr AESizeOfParam(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType* typeCode, Size* dataSize);
inline OSErr AEPutKeyDesc(AERecord* r, AEKeyword k, const AEDesc* d) { return AEPutParamDesc(r, k, d); }
inline OSErr AEGetKeyDesc(const AERecord* r, AEKeyword k, DescType t, AEDesc* d) { return AEGetParamDesc(r, k, t, d); }

// Coerces a plain descriptor to another type by the rules above.
OSErr AECoerceDesc(const AEDesc* theAEDesc, DescType toType, AEDesc* result);

// Apple events: a record of parameters plus class, ID, target address, return and transaction IDs.
OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc* target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent* result);
// Attributes: keyEventClassAttr and keyEventIDAttr (typeType), keyAddressAttr (the target as given),
// keyReturnIDAttr (typeSInt16), keyTransactionIDAttr (typeSInt32), keyOriginalAddressAttr.
OSErr AEGetAttributeDesc(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                         AEDesc* result);
OSErr AEGetAttributePtr(const AppleEvent* theAppleEvent, AEKeyword theAEKeyword, DescType desiredType,
                        DescType* typeCode, void* dataPtr, Size maximumSize, Size* actualSize);
OSErr AEPutAttributeDesc(AppleEvent* theAppleEvent, AEKeyword theAEKeyword, const AEDesc* theAEDesc);
