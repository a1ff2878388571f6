#include "support/ScopedDataHome.h"
#include "sysproxy/LanguageSetting.h"
#include "sysproxy/SettingsFile.h"

#include <gtest/gtest.h>

namespace {

const std::string kKey = "Software\\Merovex\\Tidewell\\Settings";

} // namespace

TEST(LanguageSetting, TheChoiceIsKeptAndReadBack) {
    TempFolder folder;
    const std::string path = folder.path() + "/Tidewell.conf";
    SettingsFile file(path);
    EXPECT_EQ(LanguageSetting::read(file), LanguageChoice::System);
    for (LanguageChoice choice :
         {LanguageChoice::English, LanguageChoice::Chinese, LanguageChoice::System}) {
        ASSERT_TRUE(LanguageSetting::write(file, choice));
        EXPECT_EQ(LanguageSetting::read(SettingsFile(path)), choice);
    }
    std::string stored;
    ASSERT_TRUE(LanguageSetting::write(file, LanguageChoice::English));
    ASSERT_TRUE(file.readString(kKey, "Language", stored));
    EXPECT_EQ(stored, "en");
}

TEST(LanguageSetting, AnythingElseInTheFileFollowsTheSystem) {
    TempFolder folder;
    SettingsFile file(folder.path() + "/Tidewell.conf");
    ASSERT_TRUE(file.writeDword(kKey, "Language", 1));
    EXPECT_EQ(LanguageSetting::read(file), LanguageChoice::System);
    ASSERT_TRUE(file.writeString(kKey, "Language", "tlh"));
    EXPECT_EQ(LanguageSetting::read(file), LanguageChoice::System);
    // A file that cannot be read starts the program all the same.
    EXPECT_EQ(LanguageSetting::read(SettingsFile(folder.path() + "/missing/x.conf")),
              LanguageChoice::System);
}

TEST(LanguageSetting, TheRunTakesTheFlagOverTheSavedChoice) {
    TempFolder config;
    const ScopedEnv home("XDG_CONFIG_HOME", config.path().c_str());
    const ScopedEnv locale("LANGUAGE", "zh_CN");
    SettingsFile file;
    EXPECT_EQ(LanguageSetting::apply(nullptr), Language::Chinese);
    ASSERT_TRUE(LanguageSetting::write(file, LanguageChoice::English));
    EXPECT_EQ(LanguageSetting::apply(nullptr), Language::English);
    EXPECT_EQ(currentLanguage(), Language::English);
    const Language chinese = Language::Chinese;
    EXPECT_EQ(LanguageSetting::apply(&chinese), Language::Chinese);
    EXPECT_EQ(currentLanguage(), Language::Chinese);
}
