// The language the user chose in the Options menu, kept in the per-user settings file, and the
// language a run of either program starts in.
#pragma once

#include "resources/Language.h"

class SettingsFile;

namespace LanguageSetting {

// "Software\Merovex\Tidewell\Settings", string value "Language": "system", "en" or "zh".
// A missing, unreadable or unknown value reads as System.
LanguageChoice read(const SettingsFile& file);
bool write(SettingsFile& file, LanguageChoice choice);

// Sets the language of this run and returns it: `flag` (from --lang) when given, else the
// choice saved in the user's settings file, else the locale's.
Language apply(const Language* flag);

} // namespace LanguageSetting
