// The application's profile: integer values by section under
// "Software\Merovex\Tidewell" in the per-user settings file.
#pragma once

#include "store/DocumentUi.h"

#include <string>

class ProfileSettings : public DocumentSettings {
public:
    static constexpr const char* kRoot = "Software\\Merovex\\Tidewell";

    // "Software\Merovex\Tidewell\<section>".
    static std::string sectionKey(const std::string& section);

    int readInt(const std::string& section, const std::string& name, int defaultValue) override;
    void writeInt(const std::string& section, const std::string& name, int value) override;
};
