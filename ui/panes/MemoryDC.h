// Painting into an off-screen image that reaches its target in one copy.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

class QPaintEvent;
class QWidget;

// A painter on an off-screen image covering `area` of a target painter, in the target's
// coordinates: drawing at area's coordinates lands on the image. Destruction copies the image to
// the target at `area` once (when the surface was set up), then releases it. The image starts in
// the window colour and takes over the target's font, pen, brush and background.
// Used like any painter; never delete one through a QPainter pointer.
class MemoryDC : public QPainter {
public:
    MemoryDC() = default;
    MemoryDC(QPainter* target, const QRect& area) { create(target, area); }
    ~MemoryDC();

    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;

    // False (and nothing is copied at the end) when the area is empty or the image or the
    // painter cannot be made. Call once.
    bool create(QPainter* target, const QRect& area);

    bool isReady() const { return ready_; }
    const QRect& area() const { return area_; }

protected:
    // The copy to the target, done at most once.
    void flush();

private:
    QPainter* target_ = nullptr;
    QRect area_;
    QImage surface_;
    bool ready_ = false;
    bool flushed_ = false;
};

// MemoryDC over the part of a widget being painted; construct it in paintEvent. The area is the
// event's rectangle (the whole widget when it is empty or there is no event). Destruction copies
// the surface to the widget and then ends the widget's painter.
class MemoryPaintDC : public MemoryDC {
public:
    explicit MemoryPaintDC(QWidget* window, const QPaintEvent* event = nullptr);
    ~MemoryPaintDC();

private:
    QPainter window_;
};
