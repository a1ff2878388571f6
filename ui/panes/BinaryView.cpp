#include "ui/panes/BinaryView.h"

#include "engine/Stream.h"
#include "resources/StringTable.h"
#include "ui/panes/MemoryDC.h"
#include "ui/panes/PaneText.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

QString stringText(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// "Courier New" 10 points where it exists (or is mapped to a metric twin);
// otherwise the system's fixed-pitch font at the same size, since the dump
// only lines up in a monospace face.
QFont fixedPitchFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(10);
    font.setStyleHint(QFont::TypeWriter);
    if (QFontInfo(font).fixedPitch())
        return font;
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    return font;
}

} // namespace

BinaryView::BinaryView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::ClickFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

    font_ = fixedPitchFont();
    const QFontMetrics metrics(font_);
    lineHeight_ = std::max(1, metrics.height());
    charWidth_ = std::max(1, metrics.averageCharWidth());
    measureContent();

    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &BinaryView::onVerticalAction);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &BinaryView::onVerticalValue);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &BinaryView::onHorizontalValue);
    updateScrollBars();
}

BinaryView::~BinaryView() = default;

int BinaryView::offsetDigits() const {
    return hexOffsetDigits(totalLength_);
}

void BinaryView::measureContent() {
    // Wide enough for the whole line even where the face's advance is not a
    // whole number of pixels.
    const int columns = hexLineColumns(offsetDigits());
    contentWidth_ =
        std::max(charWidth_ * columns,
                 int(std::ceil(QFontMetricsF(font_).horizontalAdvance(QString(columns, u'0')))));
}

void BinaryView::setData(InputStream* source) {
    source_ = source;
    totalLength_ = source ? source->size() : 0;
    if (totalLength_ < 0) {
        totalLength_ = 0;
        emptyText = stringText(IDS_DATA_LOAD_FAILED);
    }
    cacheStart_ = 0;
    cache_.length = 0;
    hPos_ = 0;
    vPos_ = 0;
    wheelRemainder_ = 0;
    measureContent();
    updateScrollBars();
    viewport()->update();
}

void BinaryView::updateScrollBars() {
    const bool wasSizing = sizing_;
    sizing_ = true; // showing or hiding a bar resizes the viewport
    settingBars_ = true;
    QScrollBar* hBar = horizontalScrollBar();
    QScrollBar* vBar = verticalScrollBar();

    HexScrollLayout layout;
    if (source_) {
        HexScrollInput in;
        in.width = contentsRect().width();
        in.height = contentsRect().height();
        in.contentWidth = contentWidth_;
        in.lines = hexLineCount(totalLength_);
        in.lineHeight = lineHeight_;
        const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vBar);
        in.vBarWidth = extent;
        in.hBarHeight = extent;
        in.hPos = hPos_;
        in.vPos = vPos_;
        layout = layoutScrollBars(in);
    }
    hPos_ = layout.hPos;
    vPos_ = layout.vPos;
    vPage_ = layout.vPage;

    if (layout.needH) {
        hBar->setRange(0, std::max(0, contentWidth_ - layout.hPage));
        hBar->setPageStep(std::max(1, layout.hPage));
        hBar->setSingleStep(1);
        hBar->setValue(hPos_);
    } else {
        hBar->setRange(0, 0);
    }
    if (layout.needV) {
        vScale_ = HexBarScale::forRange(hexLineCount(totalLength_) - layout.vPage);
        vBar->setRange(0, vScale_.barMax);
        vBar->setPageStep(vScale_.barPage(layout.vPage));
        vBar->setSingleStep(1);
        vBar->setValue(vScale_.toBar(vPos_));
    } else {
        vScale_ = HexBarScale();
        vBar->setRange(0, 0);
    }
    setHorizontalScrollBarPolicy(layout.needH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(layout.needV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    settingBars_ = false;
    sizing_ = wasSizing;
}

void BinaryView::setVerticalPosition(std::int64_t line) {
    line = std::clamp<std::int64_t>(line, 0, vScale_.maxPos);
    if (line == vPos_)
        return;
    vPos_ = line;
    settingBars_ = true;
    verticalScrollBar()->setValue(vScale_.toBar(vPos_));
    settingBars_ = false;
    viewport()->update();
}

void BinaryView::scrollToLine(std::int64_t line) {
    setVerticalPosition(line);
}

void BinaryView::onVerticalAction(int action) {
    // Steps count in lines even when one bar step stands for many.
    std::int64_t target = vPos_;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        target = vPos_ + 1;
        break;
    case QAbstractSlider::SliderSingleStepSub:
        target = vPos_ - 1;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        target = vPos_ + vPage_;
        break;
    case QAbstractSlider::SliderPageStepSub:
        target = vPos_ - vPage_;
        break;
    case QAbstractSlider::SliderToMinimum:
        target = 0;
        break;
    case QAbstractSlider::SliderToMaximum:
        target = vScale_.maxPos;
        break;
    default:
        return; // dragging: the value itself says where
    }
    setVerticalPosition(target);
    verticalScrollBar()->setSliderPosition(vScale_.toBar(vPos_));
}

void BinaryView::onVerticalValue(int value) {
    if (settingBars_ || value == vScale_.toBar(vPos_))
        return;
    setVerticalPosition(vScale_.fromBar(value));
}

void BinaryView::onHorizontalValue(int value) {
    if (settingBars_ || value == hPos_)
        return;
    hPos_ = value;
    viewport()->update();
}

void BinaryView::scrollContentsBy(int, int) {
    // Positions live here, not in the bars; painting follows them.
}

void BinaryView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (sizing_)
        return;
    sizing_ = true;
    updateScrollBars();
    sizing_ = false;
}

void BinaryView::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (vScale_.maxPos <= 0)
        return;
    // Fine-grained wheels (touchpads) send fractions of a notch: they add up
    // to whole lines instead of being lost.
    const int total = wheelRemainder_ + event->angleDelta().y();
    const int notches = total / 120;
    wheelRemainder_ = total % 120;
    if (notches != 0)
        setVerticalPosition(vPos_ - notches);
}

void BinaryView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        setFocus(Qt::MouseFocusReason);
    QAbstractScrollArea::mousePressEvent(event);
}

void BinaryView::keyPressEvent(QKeyEvent* event) {
    // A read-only dump with no keyboard commands: keys go to the pane's
    // owner, not to the scroll bars.
    QWidget::keyPressEvent(event);
}

void BinaryView::fillCache() {
    if (!source_)
        return;
    const int lines = visibleLineCount(viewport()->height(), lineHeight_);
    const HexCacheRead plan = planCacheRead(vPos_, lines, cacheStart_, cache_.length, totalLength_);
    if (!plan.needed)
        return;
    cacheStart_ = plan.start;
    cache_.length = 0;
    // A failed seek would show the bytes of another position: count it as a
    // failed read.
    if (!cache_.makeRoom(0, plan.size) || !source_->seek(plan.start)) {
        emptyText = stringText(IDS_DATA_LOAD_FAILED);
        return;
    }
    std::int32_t got = 0;
    while (got < plan.size) {
        const std::int32_t n = source_->read(cache_.data + got, plan.size - got);
        if (n < 0) {
            emptyText = stringText(IDS_DATA_LOAD_FAILED);
            return;
        }
        if (n == 0)
            break;
        got += n;
        bytesRead_ += n;
    }
    cache_.length = got;
}

QString BinaryView::lineText(std::int64_t line) const {
    char text[hexLineColumns(16)];
    const HexCache cache{cacheStart_, cache_.data, cache_.length};
    const int n = formatHexLine(text, line, totalLength_, cache, offsetDigits());
    return QString::fromLatin1(text, n);
}

void BinaryView::paintEvent(QPaintEvent* event) {
    QWidget* surface = viewport();
    MemoryPaintDC dc(surface, event);
    if (!dc.isReady())
        return;
    const QRect area = dc.area();
    const QPalette& colours = palette();
    dc.fillRect(area, colours.color(QPalette::Base));
    dc.setBackground(colours.color(QPalette::Base));
    dc.setFont(font_);

    fillCache();

    if (cache_.length == 0) {
        const QString note =
            QString::asprintf(loadString(IDS_MARKUP_MESSAGE), emptyText.toUtf8().constData());
        drawCentredMarkup(dc, surface->rect(), note);
        return;
    }
    dc.setPen(colours.color(QPalette::Text));
    const int ascent = QFontMetrics(font_).ascent();
    const int digits = offsetDigits();
    const HexCache cache{cacheStart_, cache_.data, cache_.length};
    char text[hexLineColumns(16)];
    int y = 0;
    for (std::int64_t line = vPos_; line * kHexBytesPerLine < totalLength_; ++line) {
        if (y > area.bottom())
            break;
        if (y + lineHeight_ > area.top()) {
            const int n = formatHexLine(text, line, totalLength_, cache, digits);
            dc.drawText(QPoint(-hPos_, y + ascent), QString::fromLatin1(text, n));
        }
        y += lineHeight_;
    }
}
