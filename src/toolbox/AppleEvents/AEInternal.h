// SPDX-License-Identifier: GPL-2.0-or-later
// What lies behind a descriptor, shared by the data model, the event manager and the transport.
// Plain descriptors hold bytes; lists, records and events hold (keyword, descriptor) items.
#pragma once
#include <utility>
#include <vector>

#include "toolbox/AppleEvents/AEDataModel.h"

struct OpaqueAEDataStorageType {
  std::vector<UInt8> bytes;
  std::vector<std::pair<AEKeyword, AEDesc>> items;  // owned; keyword 0 in lists
  // Apple events only.
  AEEventClass eventClass = 0;
  AEEventID eventID = 0;
  AEDesc target{typeNull, nullptr};
  AEDesc origin{typeNull, nullptr};
  AEReturnID returnID = 0;
  AETransactionID transactionID = 0;
};

namespace ae_internal {
inline bool isContainer(DescType t) { return t == typeAEList || t == typeAERecord || t == typeAppleEvent; }
}  // namespace ae_internal
