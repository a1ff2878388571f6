// The hex viewer: a body of any size as a dump of 16 bytes a line, read
// lazily from a stream.
#pragma once

#include "engine/Buffer.h"
#include "ui/panes/HexDump.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>

#include <cstdint>

class InputStream;

// Only the lines being painted are formatted, and only one window of 160
// bytes per visible line is held (see planCacheRead). The vertical bar counts
// lines, the horizontal bar pixels. No selection, keyboard commands or copy.
class BinaryView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit BinaryView(QWidget* parent = nullptr);
    ~BinaryView() override;

    // Shows `source` (borrowed; null shows nothing) from its start. Set the
    // empty text first: it is what shows when there is nothing to dump. A
    // source of unknown length shows "data load failed" instead.
    void setData(InputStream* source);
    InputStream* data() const { return source_; }

    // Shown centred (bold grey) when there is nothing to dump.
    QString emptyText;

    std::int64_t totalLength() const { return totalLength_; }
    // First visible line and pixel column.
    std::int64_t verticalPosition() const { return vPos_; }
    int horizontalPosition() const { return hPos_; }
    // Moves to `line` (clamped to the scroll range) as the bar would.
    void scrollToLine(std::int64_t line);

    // The cached window and the bytes read so far from all sources: the
    // viewer's whole appetite for data.
    std::int64_t cacheStart() const { return cacheStart_; }
    std::int32_t cacheLength() const { return cache_.length; }
    std::int64_t bytesRead() const { return bytesRead_; }

    const QFont& dumpFont() const { return font_; }
    int lineHeight() const { return lineHeight_; }
    int characterWidth() const { return charWidth_; }
    int contentWidth() const { return contentWidth_; }
    int pageLines() const { return int(vPage_); }
    // The text of a line as painted (bytes outside the cache blank).
    QString lineText(std::int64_t line) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void measureContent();
    void updateScrollBars();
    void fillCache();
    void setVerticalPosition(std::int64_t line);
    void onVerticalAction(int action);
    void onVerticalValue(int value);
    void onHorizontalValue(int value);
    int offsetDigits() const;

    InputStream* source_ = nullptr;
    std::int64_t totalLength_ = 0;
    std::int64_t cacheStart_ = 0;
    Buffer<unsigned char> cache_{4096, 4096};
    int hPos_ = 0;
    std::int64_t vPos_ = 0;
    std::int64_t vPage_ = 0;
    // The last first-line position; the bar counts in coarser steps when the
    // lines outnumber its int values.
    HexBarScale vScale_;
    QFont font_;
    int lineHeight_ = 1;
    int charWidth_ = 1;
    int contentWidth_ = 0;
    bool sizing_ = false;
    bool settingBars_ = false;
    int wheelRemainder_ = 0;
    std::int64_t bytesRead_ = 0;
};
