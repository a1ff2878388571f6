#include "resources/Language.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<Language> theLanguage{Language::Chinese};

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// "zh", "zh_CN.UTF-8", "zh-Hans": the language part is zh.
bool isLanguage(std::string_view locale, std::string_view code) {
    if (!startsWithIgnoringCase(locale, code))
        return false;
    if (locale.size() == code.size())
        return true;
    const char next = locale[code.size()];
    return next == '_' || next == '-' || next == '.' || next == '@';
}

} // namespace

Language currentLanguage() {
    return theLanguage.load(std::memory_order_relaxed);
}

void setLanguage(Language language) {
    theLanguage.store(language, std::memory_order_relaxed);
}

Language languageFromEnvironment() {
    for (const char* variable : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            continue;
        std::string_view rest = value;
        if (std::string_view(variable) != "LANGUAGE")
            return isLanguage(rest, "zh") ? Language::Chinese : Language::English;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view entry = rest.substr(0, colon);
            if (isLanguage(entry, "zh"))
                return Language::Chinese;
            if (isLanguage(entry, "en"))
                return Language::English;
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
        return Language::English;
    }
    return Language::English;
}

Language chooseLanguage(const Language* flag, LanguageChoice saved) {
    if (flag)
        return *flag;
    switch (saved) {
    case LanguageChoice::English:
        return Language::English;
    case LanguageChoice::Chinese:
        return Language::Chinese;
    case LanguageChoice::System:
        break;
    }
    return languageFromEnvironment();
}

bool parseLanguageName(std::string_view name, Language& out) {
    if (name.size() != 2)
        return false;
    if (isLanguage(name, "en")) {
        out = Language::English;
        return true;
    }
    if (isLanguage(name, "zh")) {
        out = Language::Chinese;
        return true;
    }
    return false;
}

const char* languageChoiceName(LanguageChoice choice) {
    switch (choice) {
    case LanguageChoice::English:
        return "en";
    case LanguageChoice::Chinese:
        return "zh";
    case LanguageChoice::System:
        break;
    }
    return "system";
}

LanguageChoice parseLanguageChoice(std::string_view name) {
    Language language;
    if (parseLanguageName(name, language))
        return language == Language::English ? LanguageChoice::English : LanguageChoice::Chinese;
    return LanguageChoice::System;
}
