#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "support/ScopedLanguage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

// The printf conversions of a format, in order ("%%" included, as it takes no argument but
// must not turn into one).
std::vector<std::string> placeholders(const char* text) {
    static const std::regex conversion(
        R"(%(%|[-+ #0]*[0-9]*(\.[0-9]+)?(hh|h|ll|l|z|j|t|L)?[diouxXeEfgGcsp]))");
    std::vector<std::string> found;
    const std::string s = text;
    for (auto it = std::sregex_iterator(s.begin(), s.end(), conversion);
         it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

} // namespace

TEST(StringTable, EveryTextHasBothLanguagesWithTheSamePlaceholders) {
    auto table = stringTable();
    ASSERT_FALSE(table.empty());
    for (std::size_t i = 1; i < table.size(); ++i)
        EXPECT_LT(table[i - 1].id, table[i].id) << "at " << table[i].id;
    for (const auto& e : table) {
        ASSERT_NE(e.text, nullptr) << e.id;
        ASSERT_NE(e.english, nullptr) << e.id << " has no English text";
        EXPECT_NE(*e.text, '\0') << e.id;
        EXPECT_NE(*e.english, '\0') << e.id;
        EXPECT_EQ(placeholders(e.text), placeholders(e.english))
            << e.id << ": \"" << e.text << "\" vs \"" << e.english << "\"";
    }
}

TEST(StringTable, PlaceholderCheckSeesWhatPrintfSees) {
    using V = std::vector<std::string>;
    EXPECT_EQ(placeholders("代码为%08x。"), V({"%08x"}));
    EXPECT_EQ(placeholders("%zu of %d, 100%% at %s"), V({"%zu", "%d", "%%", "%s"}));
    EXPECT_EQ(placeholders("no conversions"), V());
}

TEST(StringTable, LooksUpTextsInTheProgramsLanguage) {
    struct Case {
        unsigned id;
        const char* chinese;
        const char* english;
    };
    const Case cases[] = {
        {IDS_OLE_INIT_FAILED, "OLE初始化失败。", "OLE initialisation failed."},
        {IDS_STATE_LOADING, "加载中...", "Loading..."},
        {IDS_CATEGORY_FIRST, "应用", "Application"},
        {IDS_RESTORE_PROXY,
         "因为程序之前异常退出，如果您因为代理错误而无法访问网络，请点‘是’，那"
         "样将恢复您之前的代理设置。",
         "The program ended abnormally last time. If you cannot reach the network because of "
         "proxy errors, click Yes to restore your previous proxy settings."},
        {IDS_HEAD_TOO_LONG, "报文头过长。", "The message head is too long."},
        {32807, "显示或隐藏地址参数窗口\n地址参数窗口",
         "Show or hide the query parameters window\nQuery parameters window"},
    };
    EXPECT_EQ(currentLanguage(), Language::Chinese);
    for (const auto& c : cases) {
        EXPECT_STREQ(loadString(c.id), c.chinese) << c.id;
        EXPECT_STREQ(loadString(c.id, Language::English), c.english) << c.id;
    }
    {
        ScopedLanguage english(Language::English);
        for (const auto& c : cases)
            EXPECT_STREQ(loadString(c.id), c.english) << c.id;
    }
    for (unsigned missing : {0u, 99u, 103u, 131u, 177u, 399u, 401u, 99999u}) {
        EXPECT_EQ(loadString(missing), nullptr) << missing;
        EXPECT_EQ(loadString(missing, Language::English), nullptr) << missing;
    }
}

TEST(StringTable, TemplatesFormat) {
    EXPECT_EQ(formatString(IDS_PROXY_STARTED, "127.0.0.1", 2861),
              "HTTP代理建立在IP:127.0.0.1,端口:2861。");
    std::string url = formatString(IDS_URL_CHECK_UPDATE, "1.0", "abc");
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_NE(url.find("/check_update.php?p=tidewell&v=1.0&l=zh-CN&u=abc"), std::string::npos);
    EXPECT_EQ(formatString(99999u, 1), "");

    ScopedLanguage english(Language::English);
    EXPECT_EQ(formatString(IDS_PROXY_STARTED, "127.0.0.1", 2861),
              "HTTP proxy listening on 127.0.0.1, port 2861.");
    url = formatString(IDS_URL_CHECK_UPDATE, "1.0", "abc");
    EXPECT_NE(url.find("/check_update.php?p=tidewell&v=1.0&l=en&u=abc"), std::string::npos);
}

// The table's English for errno values is the C library's, so that a message reads the same
// whether the text came from the table or from the library.
TEST(StringTable, SystemErrorTextsAreTheCLibrarysInEnglish) {
    const locale_t c = newlocale(LC_MESSAGES_MASK, "C", locale_t(0));
    ASSERT_NE(c, locale_t(0));
    int seen = 0;
    for (const auto& e : stringTable()) {
        if (e.id < IDS_SYSTEM_ERROR_FIRST || e.id > IDS_SYSTEM_ERROR_LAST)
            continue;
        ++seen;
        EXPECT_STREQ(e.english, strerror_l(int(e.id - IDS_SYSTEM_ERROR_FIRST), c)) << e.id;
    }
    freelocale(c);
    EXPECT_GT(seen, 30);
}

TEST(StringTable, ErrorTextsFollowTheLanguage) {
    // Where the C library has no Chinese (the usual case), the table's text stands in.
    EXPECT_NE(errorText(ENOENT), "No such file or directory");
    EXPECT_NE(errorText(ENOSPC), "No space left on device");
    EXPECT_EQ(errorText(kErrorHeadTooLong), "报文头过长。");
    EXPECT_EQ(errorText(0xE000FFFEu), "发生一未知错误，代码为e000fffe。");

    ScopedLanguage english(Language::English);
    EXPECT_EQ(errorText(ENOENT), "No such file or directory");
    EXPECT_EQ(errorText(ENOSPC), "No space left on device");
    EXPECT_EQ(errorText(kErrorHeadTooLong), "The message head is too long.");
    EXPECT_EQ(errorText(0xE000FFFEu), "An unknown error occurred (code e000fffe).");
    // An errno value the table lacks still reads in the library's English.
    EXPECT_EQ(errorText(EKEYREVOKED), "Key has been revoked");
}

TEST(Language, FollowsTheLocaleVariablesInTheirOrder) {
    struct Case {
        const char* language;
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        Language expected;
    };
    const Language zh = Language::Chinese, en = Language::English;
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr, en},
        {nullptr, nullptr, nullptr, "zh_CN.UTF-8", zh},
        {nullptr, nullptr, nullptr, "zh_TW.UTF-8", zh},
        {nullptr, nullptr, nullptr, "en_US.UTF-8", en},
        {nullptr, nullptr, nullptr, "de_DE.UTF-8", en},
        {nullptr, nullptr, nullptr, "C.UTF-8", en},
        {nullptr, nullptr, nullptr, "zhx", en},
        {nullptr, nullptr, "zh_CN.UTF-8", "en_US.UTF-8", zh},
        {nullptr, "en_GB.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", en},
        {nullptr, "", "zh_CN.UTF-8", "en_US.UTF-8", zh}, // empty counts as unset
        {"zh_CN:en_US", "en_US.UTF-8", nullptr, "en_US.UTF-8", zh},
        {"en_US:zh_CN", nullptr, nullptr, "zh_CN.UTF-8", en},
        {"fr_FR:zh_CN", nullptr, nullptr, "fr_FR.UTF-8", zh},
        {"fr_FR:de_DE", nullptr, nullptr, "zh_CN.UTF-8", en},
        {"zh", nullptr, nullptr, nullptr, zh},
    };
    const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> saved[4];
    for (int i = 0; i < 4; ++i) {
        if (const char* value = std::getenv(names[i]))
            saved[i] = value;
    }
    for (const auto& c : cases) {
        const char* values[] = {c.language, c.lcAll, c.lcMessages, c.lang};
        for (int i = 0; i < 4; ++i) {
            if (values[i])
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_EQ(languageFromEnvironment(), c.expected)
            << (c.language ? c.language : "-") << " " << (c.lcAll ? c.lcAll : "-") << " "
            << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
    }
    for (int i = 0; i < 4; ++i) {
        if (saved[i])
            setenv(names[i], saved[i]->c_str(), 1);
        else
            unsetenv(names[i]);
    }
}

TEST(Language, FlagThenSavedChoiceThenLocale) {
    const Language english = Language::English, chinese = Language::Chinese;
    setenv("LANGUAGE", "zh_CN", 1);
    EXPECT_EQ(chooseLanguage(nullptr, LanguageChoice::System), chinese);
    EXPECT_EQ(chooseLanguage(nullptr, LanguageChoice::English), english);
    EXPECT_EQ(chooseLanguage(&english, LanguageChoice::Chinese), english);
    EXPECT_EQ(chooseLanguage(&chinese, LanguageChoice::English), chinese);

    Language parsed = english;
    EXPECT_TRUE(parseLanguageName("zh", parsed));
    EXPECT_EQ(parsed, chinese);
    EXPECT_TRUE(parseLanguageName("EN", parsed));
    EXPECT_EQ(parsed, english);
    for (const char* bad : {"", "e", "fr", "zh_CN", "english"})
        EXPECT_FALSE(parseLanguageName(bad, parsed)) << bad;

    for (LanguageChoice choice :
         {LanguageChoice::System, LanguageChoice::English, LanguageChoice::Chinese})
        EXPECT_EQ(parseLanguageChoice(languageChoiceName(choice)), choice);
    EXPECT_EQ(parseLanguageChoice("klingon"), LanguageChoice::System);
}
