#include "ui/shell/ProfileSettings.h"

#include "sysproxy/SettingsFile.h"

#include <cstdint>

std::string ProfileSettings::sectionKey(const std::string& section) {
    return section.empty() ? std::string(kRoot) : std::string(kRoot) + "\\" + section;
}

int ProfileSettings::readInt(const std::string& section, const std::string& name,
                             int defaultValue) {
    std::uint32_t value = 0;
    if (!SettingsFile().readDword(sectionKey(section), name, value))
        return defaultValue;
    return static_cast<int>(value);
}

void ProfileSettings::writeInt(const std::string& section, const std::string& name, int value) {
    SettingsFile().writeDword(sectionKey(section), name, static_cast<std::uint32_t>(value));
}
