// Measures and draws short notes written in the span markup (see ui/panes/Markup.h).
#pragma once

#include "ui/panes/Markup.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class QPainter;

// Usage by a pane (string 142 is the bold grey message template):
//     TextRender* render = TextRender::createShared();
//     const QString note = QString::asprintf(loadString(IDS_MARKUP_MESSAGE), text.toUtf8().data());
//     const QSize size = render->measure(&painter, note);
//     render->draw(&painter, note, QRect(QPoint((width() - size.width()) / 2,
//                                              (height() - size.height()) / 2), size));
// Both calls select the normal font first and give the painter its own font back at the end.
// draw leaves the pen (text colour), background mode and background brush as the last span set
// them; callers set up what they need before drawing. The renderer keeps no state between calls.
class TextRender {
public:
    // Fonts from the system's general font, with a CJK family to fall back on.
    TextRender();
    virtual ~TextRender();

    TextRender(const TextRender&) = delete;
    TextRender& operator=(const TextRender&) = delete;

    // The one instance of the program: created at start-up and by any painter that finds it
    // missing, deleted at exit. Needs a QGuiApplication.
    static TextRender* createShared();
    static TextRender* shared();
    static void deleteShared();

    // Size of the note in pixels, with the painter's device metrics (the screen's when `dc` is
    // null or not painting). Percent widths count as the runs' own width here.
    QSize measure(QPainter* dc, const QString& markup) const;
    // Draws the note from `bounds`' top-left; runs are clipped at its right and bottom.
    void draw(QPainter* dc, const QString& markup, const QRect& bounds) const;

    const QFont& normalFont() const { return normalFont_; }
    const QFont& boldFont() const { return boldFont_; }

private:
    QFont normalFont_;
    QFont boldFont_;
};
