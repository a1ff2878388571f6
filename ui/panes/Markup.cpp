#include "ui/panes/Markup.h"

#include <algorithm>
#include <climits>
#include <optional>

namespace {

// A box wider than this is no note any more; the cap keeps the arithmetic far from overflow.
constexpr qint64 kMaxBoxWidth = 1 << 20;

// First position at or after `from` holding one of `set`. Calls come with non-decreasing `from`,
// so the last answer is reused and every character is looked at once (no quadratic scans on
// markup full of "<" or "=").
class Finder {
public:
    Finder(QStringView text, QStringView set) : text_(text), set_(set) {}

    qsizetype from(qsizetype from) {
        if (found_ == kNone || (found_ >= from && from >= searchedFrom_))
            return found_;
        searchedFrom_ = from;
        found_ = kNone;
        for (qsizetype i = from; i < text_.size(); ++i) {
            if (set_.contains(text_[i])) {
                found_ = i;
                break;
            }
        }
        return found_;
    }

private:
    static constexpr qsizetype kNone = -1;
    QStringView text_;
    QStringView set_;
    qsizetype found_ = -2; // nothing searched yet
    qsizetype searchedFrom_ = 0;
};

class ScanHandler {
public:
    virtual ~ScanHandler() = default;
    virtual void text(QStringView run) = 0;
    virtual void lineBreak() = 0;
    virtual void spanStart() = 0;
    virtual void attribute(QStringView name, QStringView value) = 0;
};

void scan(QStringView s, ScanHandler& h) {
    const qsizetype n = s.size();
    Finder spaceOrGt(s, u" >");
    Finder eqOrGt(s, u"=>");
    qsizetype p = 0;
    for (;;) {
        qsizetype lt = s.indexOf(u'<', p);
        if (lt < 0)
            lt = n;
        if (lt > p)
            h.text(s.sliced(p, lt - p));
        if (lt >= n)
            return;
        const qsizetype nameStart = lt + 1;
        const qsizetype delim = spaceOrGt.from(nameStart);
        if (delim < 0)
            return; // unterminated tag: the rest is neither measured nor drawn
        const QStringView name = s.sliced(nameStart, delim - nameStart);
        if (name == u"span") {
            h.spanStart();
            qsizetype a = delim + 1;
            for (;;) {
                const qsizetype eq = eqOrGt.from(a);
                if (eq < 0 || s[eq] != u'=') {
                    p = a; // what follows, a ">" included, is text
                    break;
                }
                const qsizetype valueStart = eq + 1;
                const qsizetype valueEnd = spaceOrGt.from(valueStart);
                if (valueEnd < 0) {
                    // No value can end any more: every later "=" fails the same way, and the
                    // text resumes after the last of them.
                    const qsizetype last = s.lastIndexOf(u'=');
                    p = last >= valueStart ? last + 1 : valueStart;
                    break;
                }
                h.attribute(s.sliced(a, eq - a), s.sliced(valueStart, valueEnd - valueStart));
                if (s[valueEnd] == u'>') {
                    p = valueEnd + 1;
                    break;
                }
                a = valueEnd + 1;
            }
        } else if (name == u"br") {
            h.lineBreak();
            p = delim + 1;
        } else {
            p = nameStart; // the "<" is dropped, the name and what follows are text
        }
    }
}

struct WidthValue {
    enum Kind { Auto, Chars, Percent };
    Kind kind = Auto;
    qint64 number = 0;
};

// A quote, decimal digits, optionally "%". Without digits ("auto" among others) the box is auto.
WidthValue parseWidth(QStringView value) {
    qint64 number = 0;
    qsizetype i = 1;
    for (; i < value.size() && value[i] >= u'0' && value[i] <= u'9'; ++i)
        number = std::min<qint64>(number * 10 + (value[i].unicode() - u'0'), kMaxBoxWidth);
    if (i == 1)
        return {};
    if (i < value.size() && value[i] == u'%')
        return {WidthValue::Percent, number};
    return {WidthValue::Chars, number};
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// A quote and "#" (any two characters), then hexadecimal digits up to the first other character.
// Too many digits saturate like a 32-bit conversion would, which reads as white.
QRgb parseColorValue(QStringView value) {
    quint64 number = 0;
    for (qsizetype i = 2; i < value.size() && hexDigit(value[i]) >= 0; ++i)
        number = std::min<quint64>(number * 16 + hexDigit(value[i]), 0xFFFFFFFFu);
    return qRgb(int(number >> 16) & 0xFF, int(number >> 8) & 0xFF, int(number) & 0xFF);
}

MarkupColor textColor(QStringView value) {
    if (value == u"\"gray\"")
        return {MarkupColor::GrayText};
    if (value == u"\"auto\"")
        return {MarkupColor::WindowText};
    return {MarkupColor::Rgb, parseColorValue(value)};
}

MarkupColor backgroundColor(QStringView value) {
    if (value == u"\"auto\"")
        return {MarkupColor::Window};
    if (value == u"\"transparent\"")
        return {MarkupColor::Transparent};
    return {MarkupColor::Rgb, parseColorValue(value)};
}

MarkupAlign alignment(QStringView value) {
    if (value == u"\"center\"")
        return MarkupAlign::Center;
    if (value == u"\"right\"")
        return MarkupAlign::Right;
    return MarkupAlign::Left;
}

int clampToInt(qint64 v) {
    return int(std::clamp<qint64>(v, INT_MIN, INT_MAX));
}

// State shared by measuring and drawing: the font and the box width of the following runs.
class LayoutBase : public ScanHandler {
public:
    explicit LayoutBase(const MarkupMetrics& metrics) : metrics_(metrics) {}

    void spanStart() override { boxWidth_.reset(); }

    void attribute(QStringView name, QStringView value) override {
        if (name == u"width") {
            const WidthValue w = parseWidth(value);
            if (w.kind == WidthValue::Chars)
                boxWidth_ = std::min(w.number * metrics_.maxCharWidth(bold_), kMaxBoxWidth);
            else if (w.kind == WidthValue::Percent)
                boxWidth_ = percentWidth(w.number);
            else
                boxWidth_.reset();
        } else if (name == u"bold") {
            bold_ = value == u"\"true\"";
            boldChanged();
        }
    }

protected:
    virtual std::optional<qint64> percentWidth(qint64 percent) const = 0;
    virtual void boldChanged() {}

    const MarkupMetrics& metrics_;
    bool bold_ = false;
    std::optional<qint64> boxWidth_;
};

class Measure : public LayoutBase {
public:
    using LayoutBase::LayoutBase;

    void text(QStringView run) override {
        const QSize e = metrics_.extent(run, bold_);
        lineWidth_ += boxWidth_ ? *boxWidth_ : e.width();
        lineHeight_ = std::max<qint64>(lineHeight_, e.height());
    }

    void lineBreak() override {
        totalHeight_ += lineHeight_;
        maxWidth_ = std::max(maxWidth_, lineWidth_);
        lineWidth_ = lineHeight_ = 0;
    }

    QSize result() const {
        return {clampToInt(std::max(maxWidth_, lineWidth_)),
                clampToInt(totalHeight_ + lineHeight_)};
    }

protected:
    std::optional<qint64> percentWidth(qint64) const override { return std::nullopt; }

private:
    qint64 lineWidth_ = 0, lineHeight_ = 0, totalHeight_ = 0, maxWidth_ = 0;
};

class Draw : public LayoutBase {
public:
    Draw(const MarkupMetrics& metrics, const QRect& bounds)
        : LayoutBase(metrics), bounds_(bounds), x_(bounds.left()), y_(bounds.top()) {}

    void spanStart() override {
        LayoutBase::spanStart();
        align_ = MarkupAlign::Left;
    }

    void attribute(QStringView name, QStringView value) override {
        if (name == u"align") {
            align_ = alignment(value);
        } else if (name == u"color") {
            MarkupOp op;
            op.kind = MarkupOp::SetTextColor;
            op.color = textColor(value);
            ops_.append(op);
        } else if (name == u"bkcolor") {
            MarkupOp op;
            op.kind = MarkupOp::SetBackground;
            op.color = backgroundColor(value);
            ops_.append(op);
        } else {
            LayoutBase::attribute(name, value);
        }
    }

    void text(QStringView run) override {
        const QSize e = metrics_.extent(run, bold_);
        const qint64 width = boxWidth_ ? *boxWidth_ : e.width();
        // x stays below INT_MAX / 2 and a box below 2^20, so nothing here overflows.
        const QRect box(int(x_), int(y_), int(width), e.height());
        lineHeight_ = std::max<qint64>(lineHeight_, e.height());
        x_ = std::min<qint64>(x_ + width, INT_MAX / 2);
        QRect clip = box;
        if (clip.right() > bounds_.right())
            clip.setRight(bounds_.right());
        if (clip.bottom() > bounds_.bottom())
            clip.setBottom(bounds_.bottom());
        if (clip.isEmpty())
            return;
        MarkupOp op;
        op.kind = MarkupOp::Text;
        op.text = run.toString();
        op.box = box;
        op.clip = clip;
        op.align = align_;
        op.bold = bold_;
        ops_.append(op);
    }

    void lineBreak() override {
        y_ = std::min<qint64>(y_ + lineHeight_, INT_MAX / 2);
        lineHeight_ = 0;
        x_ = bounds_.left();
    }

    QList<MarkupOp> takeOps() { return std::move(ops_); }

protected:
    std::optional<qint64> percentWidth(qint64 percent) const override {
        return std::min(percent * bounds_.width() / 100, kMaxBoxWidth);
    }

    void boldChanged() override {
        MarkupOp op;
        op.kind = MarkupOp::SetBold;
        op.bold = bold_;
        ops_.append(op);
    }

private:
    QRect bounds_;
    qint64 x_, y_;
    qint64 lineHeight_ = 0;
    MarkupAlign align_ = MarkupAlign::Left;
    QList<MarkupOp> ops_;
};

} // namespace

QSize measureMarkup(QStringView markup, const MarkupMetrics& metrics) {
    Measure m(metrics);
    scan(markup, m);
    return m.result();
}

QList<MarkupOp> layoutMarkup(QStringView markup, const MarkupMetrics& metrics,
                             const QRect& bounds) {
    Draw d(metrics, bounds);
    scan(markup, d);
    return d.takeOps();
}
