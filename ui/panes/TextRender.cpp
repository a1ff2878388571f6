#include "ui/panes/TextRender.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace {

TextRender* sharedRender = nullptr;

// Chinese texts need a CJK face even where the desktop's own font has none.
constexpr const char* kCjkFamily = "Noto Sans CJK SC";

class FontMetricsSource : public MarkupMetrics {
public:
    FontMetricsSource(const QFont& normal, const QFont& bold, QPaintDevice* device)
        : normal_(device ? QFontMetrics(normal, device) : QFontMetrics(normal)),
          bold_(device ? QFontMetrics(bold, device) : QFontMetrics(bold)) {}

    QSize extent(QStringView text, bool bold) const override {
        const QFontMetrics& fm = bold ? bold_ : normal_;
        return {fm.horizontalAdvance(text.toString()), fm.height()};
    }

    int maxCharWidth(bool bold) const override { return (bold ? bold_ : normal_).maxWidth(); }

private:
    QFontMetrics normal_;
    QFontMetrics bold_;
};

QColor resolve(const MarkupColor& c) {
    const QPalette palette = QGuiApplication::palette();
    switch (c.kind) {
    case MarkupColor::GrayText:
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    case MarkupColor::WindowText:
        return palette.color(QPalette::Active, QPalette::Text);
    case MarkupColor::Window:
        return palette.color(QPalette::Active, QPalette::Base);
    case MarkupColor::Transparent:
        return Qt::transparent;
    case MarkupColor::Rgb:
        break;
    }
    return QColor::fromRgb(c.rgb);
}

Qt::Alignment horizontal(MarkupAlign a) {
    switch (a) {
    case MarkupAlign::Center:
        return Qt::AlignHCenter;
    case MarkupAlign::Right:
        return Qt::AlignRight;
    case MarkupAlign::Left:
        break;
    }
    return Qt::AlignLeft;
}

} // namespace

TextRender::TextRender() {
    normalFont_ = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    QStringList families = normalFont_.families();
    if (families.isEmpty())
        families << normalFont_.family();
    if (!families.contains(QLatin1String(kCjkFamily)))
        families << QLatin1String(kCjkFamily);
    normalFont_.setFamilies(families);
    normalFont_.setBold(false);
    boldFont_ = normalFont_;
    boldFont_.setWeight(QFont::Bold);
}

TextRender::~TextRender() = default;

TextRender* TextRender::createShared() {
    if (!sharedRender)
        sharedRender = new TextRender;
    return sharedRender;
}

TextRender* TextRender::shared() {
    return sharedRender;
}

void TextRender::deleteShared() {
    delete sharedRender;
    sharedRender = nullptr;
}

QSize TextRender::measure(QPainter* dc, const QString& markup) const {
    const bool painting = dc && dc->isActive();
    const FontMetricsSource metrics(normalFont_, boldFont_, painting ? dc->device() : nullptr);
    if (!painting)
        return measureMarkup(markup, metrics);
    const QFont previous = dc->font();
    dc->setFont(normalFont_);
    const QSize size = measureMarkup(markup, metrics);
    dc->setFont(previous);
    return size;
}

void TextRender::draw(QPainter* dc, const QString& markup, const QRect& bounds) const {
    if (!dc || !dc->isActive())
        return;
    const QFont previous = dc->font();
    dc->setFont(normalFont_);
    const FontMetricsSource metrics(normalFont_, boldFont_, dc->device());
    for (const MarkupOp& op : layoutMarkup(markup, metrics, bounds)) {
        switch (op.kind) {
        case MarkupOp::SetBold:
            dc->setFont(op.bold ? boldFont_ : normalFont_);
            break;
        case MarkupOp::SetTextColor:
            dc->setPen(resolve(op.color));
            break;
        case MarkupOp::SetBackground:
            if (op.color.kind == MarkupColor::Transparent) {
                dc->setBackgroundMode(Qt::TransparentMode);
            } else {
                dc->setBackgroundMode(Qt::OpaqueMode);
                dc->setBackground(resolve(op.color));
            }
            break;
        case MarkupOp::Text:
            dc->drawText(op.clip, Qt::TextSingleLine | Qt::AlignTop | horizontal(op.align),
                         op.text);
            break;
        }
    }
    dc->setFont(previous);
}
