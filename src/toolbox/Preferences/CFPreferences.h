// SPDX-License-Identifier: GPL-2.0-or-later
// Per-user preferences: one key file per application domain, $XDG_CONFIG_HOME/<domain> (default ~/.config).
// Values are cached per domain; CFPreferencesAppSynchronize writes pending changes and rereads the file.
#pragma once
#include <optional>
#include <string>

#include "toolbox/Core/MacTypes.h"

// The key file's one group.
inline constexpr const char* kCFPreferencesGroup = "Preferences";

// Writes the domain's pending changes (merged into what is on disk now) and reloads it.
// false when the changes could not be written.
Boolean CFPreferencesAppSynchronize(const std::string& applicationID);

// The value read as a boolean: true/false, yes/no, 1/0 in any letter case. When the key is
// missing or holds anything else, answers false with *keyExistsAndHasValidFormat false.
Boolean CFPreferencesGetAppBooleanValue(const std::string& key, const std::string& applicationID,
                                        Boolean* keyExistsAndHasValidFormat);

// The stored text of a key, or nothing when it is missing.
std::optional<std::string> CFPreferencesCopyAppValue(const std::string& key, const std::string& applicationID);

// Sets (or, with no value, removes) a key in the cache; synchronise to store it.
void CFPreferencesSetAppValue(const std::string& key, const std::optional<std::string>& value,
                              const std::string& applicationID);

// Reads text in one of the boolean forms above; false when it is none of them.
bool CFPreferencesParseBoolean(const std::string& text, Boolean* value);

// Where a domain is stored.
std::string CFPreferencesPathForApp(const std::string& applicationID);
