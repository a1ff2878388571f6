// The text view's style file: colours, fonts and keywords per language.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

struct StyleRecord {
    std::int32_t styleId = 0;
    std::uint32_t foreground = 0; // 0x00BBGGRR
    std::uint32_t background = 0; // 0x00BBGGRR
    QString fontName;             // empty: font unchanged
    std::int32_t fontStyle = 0;   // 1 bold, 2 italic, 4 underline; 0: unchanged
    std::int32_t fontSize = 0;    // points; 0 or less: unchanged
};

struct LanguageStyles {
    std::vector<StyleRecord> styles;
    QByteArray keywords; // UTF-8, space-separated as written in the file
};

// Keyed by language name, compared exactly.
using StyleTable = std::map<QString, LanguageStyles>;

// Font names longer than this are cut to it.
constexpr int kStyleFontNameMax = 31;

// "RRGGBB" or "#RRGGBB" (hex digits read up to the first other character)
// as 0x00BBGGRR; anything unreadable is 0.
std::uint32_t parseStyleColor(const QString& text);
// A whole decimal integer (leading space and a sign allowed), else 0.
std::int32_t parseStyleInt(const QString& text);

// Adds the languages of the style file at `path` to `table` (a name already
// there gets the new styles appended). False when the file is missing or is
// not well-formed XML with a root element.
bool loadStyleFile(const QString& path, StyleTable& table);
