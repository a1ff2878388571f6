// Runs a test, and the programs it starts, in one language: the program's
// language in this process and LANGUAGE for the processes it starts. Both are
// put back afterwards.
#pragma once

#include "resources/Language.h"
#include "support/ScopedDataHome.h"

class ScopedLanguage {
public:
    explicit ScopedLanguage(Language language)
        : saved_(currentLanguage()),
          env_("LANGUAGE", language == Language::English ? "en" : "zh_CN") {
        setLanguage(language);
    }
    ~ScopedLanguage() { setLanguage(saved_); }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

private:
    Language saved_;
    ScopedEnv env_;
};
