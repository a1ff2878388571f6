// The language of the program's texts: chosen once at start, read by every layer.
#pragma once

#include <string_view>

enum class Language { Chinese, English };

// What the user picked in the Options menu; System follows the locale.
enum class LanguageChoice { System, English, Chinese };

// The language texts are looked up in. Chinese (the original texts) until setLanguage() is
// called; a program sets it once at start, before it starts any thread.
Language currentLanguage();
void setLanguage(Language language);

// The language the locale environment asks for, read as Linux programs read it: the first of
// LANGUAGE, LC_ALL, LC_MESSAGES and LANG that is set and not empty decides. zh* gives Chinese,
// anything else English. LANGUAGE is a list of preferences (zh_CN:en_US): its first entry in
// a language we have decides, and a list naming neither gives English.
Language languageFromEnvironment();

// The language of a run: `flag` (from --lang) when given, else the saved choice, else the
// locale's.
Language chooseLanguage(const Language* flag, LanguageChoice saved);

// "en" and "zh", as --lang takes them (case matters not).
bool parseLanguageName(std::string_view name, Language& out);

// The choice as the settings file keeps it: "system", "en" or "zh". An unknown word reads as
// System, so a file written by a later version never fails the start.
const char* languageChoiceName(LanguageChoice choice);
LanguageChoice parseLanguageChoice(std::string_view name);
