#include "ui/panes/StyleFile.h"

#include <QDomDocument>
#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>

std::uint32_t parseStyleColor(const QString& text) {
    std::uint32_t v = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (i == 0 && c == u'#')
            continue;
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c.unicode() - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c.unicode() - u'A' + 10;
        else
            break;
        v = (v << 4) | std::uint32_t(digit);
    }
    return ((v & 0xFF) << 16) | (v & 0xFF00) | (v >> 16);
}

std::int32_t parseStyleInt(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const char* begin = bytes.constData();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return 0;
    return std::int32_t(v);
}

namespace {

StyleRecord readWordsStyle(const QDomElement& e) {
    StyleRecord r;
    r.styleId = parseStyleInt(e.attribute(QStringLiteral("styleID")));
    r.foreground = parseStyleColor(e.attribute(QStringLiteral("fgColor")));
    r.background = parseStyleColor(e.attribute(QStringLiteral("bgColor")));
    r.fontSize = parseStyleInt(e.attribute(QStringLiteral("fontSize")));
    r.fontStyle = parseStyleInt(e.attribute(QStringLiteral("fontStyle")));
    r.fontName = e.attribute(QStringLiteral("fontName")).left(kStyleFontNameMax);
    return r;
}

} // namespace

bool loadStyleFile(const QString& path, StyleTable& table) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QDomDocument doc;
    if (!doc.setContent(&file))
        return false;
    const QDomElement root = doc.documentElement();
    if (root.isNull())
        return false;
    for (QDomElement lang = root.firstChildElement(); !lang.isNull();
         lang = lang.nextSiblingElement()) {
        if (!lang.hasAttribute(QStringLiteral("name")))
            continue;
        LanguageStyles& styles = table[lang.attribute(QStringLiteral("name"))];
        for (QDomElement item = lang.firstChildElement(); !item.isNull();
             item = item.nextSiblingElement()) {
            if (item.tagName() == u"Keywords")
                styles.keywords = item.text().toUtf8();
            else if (item.tagName() == u"WordsStyle")
                styles.styles.push_back(readWordsStyle(item));
        }
    }
    return true;
}
