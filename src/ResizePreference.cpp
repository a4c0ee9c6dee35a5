// SPDX-License-Identifier: GPL-2.0-or-later
// The resize and format preferences, read where they are needed: apart from the controller, so
// that a plain conversion reads them without bringing in the application and its desktop services.
#include "PreferenceKeys.h"
#include "outputs/Outputs.h"
#include "toolbox/Preferences/CFPreferences.h"

bool readResizePreference() {
  CFPreferencesAppSynchronize(kPreferenceDomain);
  Boolean valid = false;
  Boolean value = CFPreferencesGetAppBooleanValue(kResizePreferenceKey, kPreferenceDomain, &valid);
  return valid ? value != 0 : true;
}

const outputs::Output& readMovieFormatPreference() {
  CFPreferencesAppSynchronize(kPreferenceDomain);
  const std::optional<std::string> stored = CFPreferencesCopyAppValue(kMovieFormatPreferenceKey, kPreferenceDomain);
  const outputs::Output* format = stored ? outputs::OutputNamed(*stored) : nullptr;
  return format ? *format : outputs::DefaultOutput();
}
