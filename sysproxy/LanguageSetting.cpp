#include "sysproxy/LanguageSetting.h"

#include "sysproxy/SettingsFile.h"

#include <string>

namespace {

constexpr const char* kSettingsKey = "Software\\Merovex\\Tidewell\\Settings";
constexpr const char* kLanguageValue = "Language";

} // namespace

namespace LanguageSetting {

LanguageChoice read(const SettingsFile& file) {
    std::string name;
    if (!file.readString(kSettingsKey, kLanguageValue, name))
        return LanguageChoice::System;
    return parseLanguageChoice(name);
}

bool write(SettingsFile& file, LanguageChoice choice) {
    return file.writeString(kSettingsKey, kLanguageValue, languageChoiceName(choice));
}

Language apply(const Language* flag) {
    const Language language = chooseLanguage(flag, flag ? LanguageChoice::System
                                                         : read(SettingsFile()));
    setLanguage(language);
    return language;
}

} // namespace LanguageSetting
