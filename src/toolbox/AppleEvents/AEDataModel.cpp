// SPDX-License-Identifier: GPL-2.0-or-later
// Descriptors, lists, records and Apple event attributes, all held by value in their storage.
// Every accessor checks sizes and types, so a malformed descriptor yields an error, never a bad read.
#include <glib.h>

#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "toolbox/AppleEvents/AEInternal.h"
#include "toolbox/Core/MacErrors.h"

namespace {

bool isInteger(DescType t) { return t == typeSInt16 || t == typeSInt32 || t == typeUInt32 || t == typeSInt64; }
bool isText(DescType t) { return t == typeChar || t == typeUTF8Text || t == typeUnicodeText; }

bool readInteger(const AEDesc* d, SInt64* out) {
  const auto& b = d->dataHandle->bytes;
  switch (d->descriptorType) {
    case typeSInt16: {
      if (b.size() != 2) return false;
      SInt16 v;
      std::memcpy(&v, b.data(), 2);
      *out = v;
      return true;
    }
    case typeSInt32: {
      if (b.size() != 4) return false;
      SInt32 v;
      std::memcpy(&v, b.data(), 4);
      *out = v;
      return true;
    }
    case typeUInt32: {
      if (b.size() != 4) return false;
      UInt32 v;
      std::memcpy(&v, b.data(), 4);
      *out = v;
      return true;
    }
    case typeSInt64: {
      if (b.size() != 8) return false;
      std::memcpy(out, b.data(), 8);
      return true;
    }
    default:
      return false;
  }
}

OSErr writeInteger(SInt64 v, DescType t, AEDesc* result) {
  switch (t) {
    case typeSInt16: {
      if (v < std::numeric_limits<SInt16>::min() || v > std::numeric_limits<SInt16>::max()) return errAECoercionFail;
      SInt16 x = SInt16(v);
      return AECreateDesc(t, &x, sizeof x, result);
    }
    case typeSInt32: {
      if (v < std::numeric_limits<SInt32>::min() || v > std::numeric_limits<SInt32>::max()) return errAECoercionFail;
      SInt32 x = SInt32(v);
      return AECreateDesc(t, &x, sizeof x, result);
    }
    case typeUInt32: {
      if (v < 0 || v > SInt64(std::numeric_limits<UInt32>::max())) return errAECoercionFail;
      UInt32 x = UInt32(v);
      return AECreateDesc(t, &x, sizeof x, result);
    }
    default:
      return AECreateDesc(typeSInt64, &v, sizeof v, result);
  }
}

// Text as UTF-8, from any of the text types (typeChar is taken as UTF-8 too).
bool readText(const AEDesc* d, std::string* out) {
  const auto& b = d->dataHandle->bytes;
  if (d->descriptorType == typeUnicodeText) {
    if (b.size() % 2 != 0) return false;
    std::vector<gunichar2> units(b.size() / 2);
    if (!b.empty()) std::memcpy(units.data(), b.data(), b.size());
    glong written = 0;
    gchar* utf8 = g_utf16_to_utf8(units.data(), glong(units.size()), nullptr, &written, nullptr);
    if (utf8 == nullptr) return false;
    out->assign(utf8, size_t(written));
    g_free(utf8);
    return true;
  }
  out->assign(b.begin(), b.end());
  return true;
}

OSErr writeText(const std::string& s, DescType t, AEDesc* result) {
  if (t != typeUnicodeText) return AECreateDesc(t, s.data(), Size(s.size()), result);
  glong written = 0;
  gunichar2* units = g_utf8_to_utf16(s.data(), glong(s.size()), nullptr, &written, nullptr);
  if (units == nullptr) return errAECoercionFail;
  OSErr err = AECreateDesc(t, units, Size(written) * 2, result);
  g_free(units);
  return err;
}

std::pair<AEKeyword, AEDesc>* findKey(const AEDesc* rec, AEKeyword key) {
  if (rec == nullptr || rec->dataHandle == nullptr || !AECheckIsRecord(rec)) return nullptr;
  for (auto& item : rec->dataHandle->items)
    if (item.first == key) return &item;
  return nullptr;
}

OSErr copyBytesOut(const AEDesc* d, void* dataPtr, Size maximumSize, Size* actualSize) {
  Size size = AEGetDescDataSize(d);
  if (actualSize) *actualSize = size;
  return AEGetDescData(d, dataPtr, maximumSize);
}

}  // namespace

void AEInitializeDesc(AEDesc* desc) {
  if (desc == nullptr) return;
  desc->descriptorType = typeNull;
  desc->dataHandle = nullptr;
}

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result) {
  if (result == nullptr || dataSize < 0 || (dataSize > 0 && dataPtr == nullptr)) return paramErr;
  AEInitializeDesc(result);
  if (ae_internal::isContainer(typeCode)) return paramErr;  // lists come from AECreateList
  AEDataStorage s = new (std::nothrow) OpaqueAEDataStorageType();
  if (s == nullptr) return memFullErr;
  if (dataSize > 0) {
    const auto* p = static_cast<const UInt8*>(dataPtr);
    s->bytes.assign(p, p + dataSize);
  }
  result->descriptorType = typeCode;
  result->dataHandle = s;
  return noErr;
}

OSErr AEDisposeDesc(AEDesc* theAEDesc) {
  if (theAEDesc == nullptr) return paramErr;
  if (AEDataStorage s = theAEDesc->dataHandle) {
    for (auto& item : s->items) AEDisposeDesc(&item.second);
    AEDisposeDesc(&s->target);
    AEDisposeDesc(&s->origin);
    delete s;
  }
  AEInitializeDesc(theAEDesc);
  return noErr;
}

OSErr AEDuplicateDesc(const AEDesc* theAEDesc, AEDesc* result) {
  if (theAEDesc == nullptr || result == nullptr) return paramErr;
  AEDesc copy{theAEDesc->descriptorType, nullptr};
  if (const AEDataStorage src = theAEDesc->dataHandle) {
    copy.dataHandle = new OpaqueAEDataStorageType();
    AEDataStorage dst = copy.dataHandle;
    dst->bytes = src->bytes;
    dst->eventClass = src->eventClass;
    dst->eventID = src->eventID;
    dst->returnID = src->returnID;
    dst->transactionID = src->transactionID;
    OSErr err = AEDuplicateDesc(&src->target, &dst->target);
    if (err == noErr) err = AEDuplicateDesc(&src->origin, &dst->origin);
    for (const auto& item : src->items) {
      if (err != noErr) break;
      AEDesc d;
      err = AEDuplicateDesc(&item.second, &d);
      if (err == noErr) dst->items.emplace_back(item.first, d);
    }
    if (err != noErr) {
      AEDisposeDesc(&copy);
      AEInitializeDesc(result);
      return err;
    }
  }
  *result = copy;
  return noErr;
}

Size AEGetDescDataSize(const AEDesc* theAEDesc) {
  if (theAEDesc == nullptr || theAEDesc->dataHandle == nullptr || ae_internal::isContainer(theAEDesc->descriptorType))
    return 0;
  return Size(theAEDesc->dataHandle->bytes.size());
}

OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize) {
  if (theAEDesc == nullptr || maximumSize < 0 || (maximumSize > 0 && dataPtr == nullptr)) return paramErr;
  if (ae_internal::isContainer(theAEDesc->descriptorType)) return errAEWrongDataType;
  Size n = std::min(maximumSize, AEGetDescDataSize(theAEDesc));
  if (n > 0) std::memcpy(dataPtr, theAEDesc->dataHandle->bytes.data(), size_t(n));
  return noErr;
}

bool AECheckIsRecord(const AEDesc* theDesc) {
  return theDesc != nullptr &&
         (theDesc->descriptorType == typeAERecord || theDesc->descriptorType == typeAppleEvent);
}

OSErr AECreateList(const void*, Size, Boolean isRecord, AEDescList* resultList) {
  if (resultList == nullptr) return paramErr;
  AEDataStorage s = new (std::nothrow) OpaqueAEDataStorageType();
  if (s == nullptr) return memFullErr;
  resultList->descriptorType = isRecord ? typeAERecord : typeAEList;
  resultList->dataHandle = s;
  return noErr;
}

OSErr AECountItems(const AEDescList* list, long* theCount) {
  if (list == nullptr || theCount == nullptr) return paramErr;
  if (!ae_internal::isContainer(list->descriptorType) || list->dataHandle == nullptr) return errAEWrongDataType;
  *theCount = long(list->dataHandle->items.size());
  return noErr;
}

OSErr AEPutDesc(AEDescList* list, long index, const AEDesc* theAEDesc) {
  if (list == nullptr || theAEDesc == nullptr || list->dataHandle == nullptr) return paramErr;
  if (list->descriptorType != typeAEList) return errAEWrongDataType;
  auto& items = list->dataHandle->items;
  if (index < 0 || size_t(index) > items.size() + 1) return errAEDescNotFound;
  AEDesc copy;
  OSErr err = AEDuplicateDesc(theAEDesc, &copy);
  if (err != noErr) return err;
  if (index == 0 || size_t(index) == items.size() + 1) {
    items.emplace_back(0, copy);
  } else {
    AEDisposeDesc(&items[size_t(index) - 1].second);
    items[size_t(index) - 1].second = copy;
  }
  return noErr;
}

OSErr AEPutPtr(AEDescList* list, long index, DescType typeCode, const void* dataPtr, Size dataSize) {
  AEDesc d;
  OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &d);
  if (err != noErr) return err;
  err = AEPutDesc(list, index, &d);
  AEDisposeDesc(&d);
  return err;
}

OSErr AEGetNthDesc(const AEDescList* list, long index, DescType desiredType, AEKeyword* keyword, AEDesc* result) {
  if (list == nullptr || result == nullptr) return paramErr;
  AEInitializeDesc(result);
  if (!ae_internal::isContainer(list->descriptorType) || list->dataHandle == nullptr) return errAEWrongDataType;
  const auto& items = list->dataHandle->items;
  if (index < 1 || size_t(index) > items.size()) return errAEDescNotFound;
  const auto& item = items[size_t(index) - 1];
  if (keyword) *keyword = item.first;
  return AECoerceDesc(&item.second, desiredType, result);
}

OSErr AECoerceDesc(const AEDesc* d, DescType toType, AEDesc* result) {
  if (d == nullptr || result == nullptr) return paramErr;
  AEInitializeDesc(result);
  if (toType == typeWildCard || toType == d->descriptorType) return AEDuplicateDesc(d, result);
  if (d->dataHandle == nullptr) return errAECoercionFail;
  SInt64 v = 0;
  if (isInteger(d->descriptorType) && isInteger(toType)) {
    if (!readInteger(d, &v)) return errAECoercionFail;
    return writeInteger(v, toType, result);
  }
  std::string text;
  if (isText(d->descriptorType) && isText(toType)) {
    if (!readText(d, &text)) return errAECoercionFail;
    return writeText(text, toType, result);
  }
  return errAECoercionFail;
}

OSErr AEPutParamDesc(AppleEvent* ev, AEKeyword key, const AEDesc* theAEDesc) {
  if (ev == nullptr || theAEDesc == nullptr || ev->dataHandle == nullptr) return paramErr;
  if (!AECheckIsRecord(ev)) return errAEWrongDataType;
  AEDesc copy;
  OSErr err = AEDuplicateDesc(theAEDesc, &copy);
  if (err != noErr) return err;
  if (auto* item = findKey(ev, key)) {
    AEDisposeDesc(&item->second);
    item->second = copy;
  } else {
    ev->dataHandle->items.emplace_back(key, copy);
  }
  return noErr;
}

OSErr AEPutParamPtr(AppleEvent* ev, AEKeyword key, DescType typeCode, const void* dataPtr, Size dataSize) {
  AEDesc d;
  OSErr err = AECreateDesc(typeCode, dataPtr, dataSize, &d);
  if (err != noErr) return err;
  err = AEPutParamDesc(ev, key, &d);
  AEDisposeDesc(&d);
  return err;
}

OSErr AEGetParamDesc(const AppleEvent* ev, AEKeyword key, DescType desiredType, AEDesc* result) {
  if (ev == nullptr || result == nullptr) return paramErr;
  AEInitializeDesc(result);
  if (!AECheckIsRecord(ev)) return errAEWrongDataType;
  auto* item = findKey(ev, key);
  if (item == nullptr) return errAEDescNotFound;
  return AECoerceDesc(&item->second, desiredType, result);
}

OSErr AEGetParamPtr(const AppleEvent* ev, AEKeyword key, DescType desiredType, DescType* actualType, void* dataPtr,
                    Size maximumSize, Size* actualSize) {
  AEDesc d;
  OSErr err = AEGetParamDesc(ev, key, desiredType, &d);
  if (err != noErr) return err;
  if (actualType) *actualType = d.descriptorType;
  err = ae_internal::isContainer(d.descriptorType) ? errAEWrongDataType : copyBytesOut(&d, dataPtr, maximumSize, actualSize);
  AEDisposeDesc(&d);
  return err;
}

OSErr AESizeOfParam(const AppleEvent* ev, AEKeyword key, DescType* typeCode, Size* dataSize) {
  if (ev == nullptr || !AECheckIsRecord(ev)) return paramErr;
  auto* item = findKey(ev, key);
  if (item == nullptr) return errAEDescNotFound;
  if (typeCode) *typeCode = item->second.descriptorType;
  if (dataSize) *dataSize = AEGetDescDataSize(&item->second);
  return noErr;
}

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc* target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent* result) {
  if (result == nullptr) return paramErr;
  AEInitializeDesc(result);
  static SInt16 nextReturnID = 0;
  AEDataStorage s = new (std::nothrow) OpaqueAEDataStorageType();
  if (s == nullptr) return memFullErr;
  s->eventClass = theAEEventClass;
  s->eventID = theAEEventID;
  if (returnID == kAutoGenerateReturnID) {
    nextReturnID = SInt16(nextReturnID == std::numeric_limits<SInt16>::max() ? 1 : nextReturnID + 1);
    returnID = nextReturnID;
  }
  s->returnID = returnID;
  s->transactionID = transactionID;
  if (target != nullptr) {
    OSErr err = AEDuplicateDesc(target, &s->target);
    if (err != noErr) {
      delete s;
      return err;
    }
  }
  result->descriptorType = typeAppleEvent;
  result->dataHandle = s;
  return noErr;
}

OSErr AEGetAttributeDesc(const AppleEvent* ev, AEKeyword key, DescType desiredType, AEDesc* result) {
  if (ev == nullptr || result == nullptr) return paramErr;
  AEInitializeDesc(result);
  if (ev->descriptorType != typeAppleEvent || ev->dataHandle == nullptr) return errAEWrongDataType;
  const AEDataStorage s = ev->dataHandle;
  AEDesc raw;
  OSErr err = noErr;
  switch (key) {
    case keyEventClassAttr:
      err = AECreateDesc(typeType, &s->eventClass, sizeof s->eventClass, &raw);
      break;
    case keyEventIDAttr:
      err = AECreateDesc(typeType, &s->eventID, sizeof s->eventID, &raw);
      break;
    case keyReturnIDAttr:
      err = AECreateDesc(typeSInt16, &s->returnID, sizeof s->returnID, &raw);
      break;
    case keyTransactionIDAttr:
      err = AECreateDesc(typeSInt32, &s->transactionID, sizeof s->transactionID, &raw);
      break;
    case keyAddressAttr:
      return AECoerceDesc(&s->target, desiredType, result);
    case keyOriginalAddressAttr:
      return AECoerceDesc(&s->origin, desiredType, result);
    default:
      return errAEDescNotFound;
  }
  if (err != noErr) return err;
  err = AECoerceDesc(&raw, desiredType, result);
  AEDisposeDesc(&raw);
  return err;
}

OSErr AEGetAttributePtr(const AppleEvent* ev, AEKeyword key, DescType desiredType, DescType* typeCode, void* dataPtr,
                        Size maximumSize, Size* actualSize) {
  AEDesc d;
  OSErr err = AEGetAttributeDesc(ev, key, desiredType, &d);
  if (err != noErr) return err;
  if (typeCode) *typeCode = d.descriptorType;
  err = copyBytesOut(&d, dataPtr, maximumSize, actualSize);
  AEDisposeDesc(&d);
  return err;
}

OSErr AEPutAttributeDesc(AppleEvent* ev, AEKeyword key, const AEDesc* theAEDesc) {
  if (ev == nullptr || theAEDesc == nullptr) return paramErr;
  if (ev->descriptorType != typeAppleEvent || ev->dataHandle == nullptr) return errAEWrongDataType;
  AEDataStorage s = ev->dataHandle;
  auto readCode = [&](UInt32* out) {
    if (AEGetDescDataSize(theAEDesc) != 4) return paramErr;
    return AEGetDescData(theAEDesc, out, 4);
  };
  switch (key) {
    case keyEventClassAttr:
      return readCode(&s->eventClass);
    case keyEventIDAttr:
      return readCode(&s->eventID);
    case keyAddressAttr:
    case keyOriginalAddressAttr: {
      AEDesc copy;
      OSErr err = AEDuplicateDesc(theAEDesc, &copy);
      if (err != noErr) return err;
      AEDesc& slot = key == keyAddressAttr ? s->target : s->origin;
      AEDisposeDesc(&slot);
      slot = copy;
      return noErr;
    }
    default:
      return errAEDescNotFound;
  }
}
