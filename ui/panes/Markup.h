// Scanning and layout of the span markup drawn by TextRender; nothing here paints.
#pragma once

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringView>
#include <QtGui/qrgb.h>

// The markup, in short (no closing tags; a span changes the state from where it stands):
//   text                       any characters except "<"
//   <span name=value ...>      attributes separated by single spaces; values keep their quotes
//   <br>                       next line
// Span attributes (exact names, values compared with their quotes):
//   width="auto" | "N" | "N%"  box of each following run: own width, N x the font's widest
//                              character, N percent of the drawing rectangle (auto when measuring);
//                              back to auto at every span
//   align="center" | "right"   alignment inside the box; anything else is left; back to left at
//                              every span
//   bold="true"                bold font; any other value the normal font; kept until changed
//   color="gray" | "auto" | "#RRGGBB"           text colour, kept until changed
//   bkcolor="auto" | "transparent" | "#RRGGBB"  text background, kept until changed
// Unknown attributes are ignored; an unknown tag loses its "<" and the rest shows as text; a "<"
// with no later space or ">" ends the text there.

// The two fonts, as layout sees them.
class MarkupMetrics {
public:
    virtual ~MarkupMetrics() = default;
    // Width (advance) and height (line height) of `text` on one line.
    virtual QSize extent(QStringView text, bool bold) const = 0;
    virtual int maxCharWidth(bool bold) const = 0;
};

enum class MarkupAlign { Left, Center, Right };

struct MarkupColor {
    enum Kind {
        GrayText,    // the system's grey-text colour
        WindowText,  // the system's window-text colour
        Window,      // opaque, the system's window colour
        Transparent, // no background
        Rgb,         // opaque, `rgb`
    };
    Kind kind = WindowText;
    QRgb rgb = 0; // 0xffRRGGBB when kind is Rgb

    friend bool operator==(const MarkupColor&, const MarkupColor&) = default;
};

// One step of drawing, in markup order.
struct MarkupOp {
    enum Kind {
        SetBold,       // `bold`
        SetTextColor,  // `color`
        SetBackground, // `color`
        Text,          // `text` into `clip`, aligned by `align`; `box` is the run's unclipped box
    };
    Kind kind = Text;
    bool bold = false;
    MarkupColor color;
    QString text;
    QRect box;
    QRect clip;
    MarkupAlign align = MarkupAlign::Left;
};

// Width = the widest line, height = the sum of the lines' heights. A line without text adds no
// height; percentages count as auto.
QSize measureMarkup(QStringView markup, const MarkupMetrics& metrics);

// What drawing into `bounds` does, starting in the normal font at bounds' top-left. Runs whose box
// clipped to bounds' right and bottom is empty are left out.
QList<MarkupOp> layoutMarkup(QStringView markup, const MarkupMetrics& metrics, const QRect& bounds);
