// The resize preference that a plain conversion falls back on: the stored Resize_QT_Image,
// and scaling on when it is unset or holds no boolean.
#include "Controller.h"
#include "cli/Commands.h"
#include "toolbox/Preferences/CFPreferences.h"

bool defaultResizePreference() {
  CFPreferencesAppSynchronize(kPreferenceDomain);
  Boolean valid = false;
  Boolean value = CFPreferencesGetAppBooleanValue(kResizePreferenceKey, kPreferenceDomain, &valid);
  return valid ? value != 0 : true;
}
