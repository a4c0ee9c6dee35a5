// SPDX-License-Identifier: GPL-2.0-or-later
// The names the desktop application answers to on the bus: its application ID, the camera-import
// event and the keys of its reply, shared with the command line that sends that event.
#pragma once
#include "toolbox/AppleEvents/AEDataModel.h"
#include "toolbox/Core/MacTypes.h"

// The application's bus name and desktop entry name.
inline constexpr const char* kStill2movApplicationID = "com.vantor.camera.still2mov";
inline constexpr AEEventClass kPTPEventClass = FOUR_CHAR_CODE("Itnt");
inline constexpr AEEventID kPTPConvertEventID = FOUR_CHAR_CODE("St2M");
inline constexpr const char* kReplyErrorString = "Complain.";
// Added to the reply when a conversion failed: a record of the failure's code and its words.
inline constexpr AEKeyword keyConversionResult = FOUR_CHAR_CODE("cnvr");
inline constexpr AEKeyword keyConversionStatus = FOUR_CHAR_CODE("stat");   // SInt32, never 0
inline constexpr AEKeyword keyConversionMessage = FOUR_CHAR_CODE("mesg");  // text
