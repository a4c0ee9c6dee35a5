// The resize preference, read where it is needed: apart from the controller, so that a plain
// conversion reads it without bringing in the application and its desktop services.
#include "Controller.h"
#include "toolbox/Preferences/CFPreferences.h"

bool readResizePreference() {
  CFPreferencesAppSynchronize(kPreferenceDomain);
  Boolean valid = false;
  Boolean value = CFPreferencesGetAppBooleanValue(kResizePreferenceKey, kPreferenceDomain, &valid);
  return valid ? value != 0 : true;
}
