#include "ui/panes/MemoryDC.h"

#include <QGuiApplication>
#include <QPaintDevice>
#include <QPaintEvent>
#include <QPalette>
#include <QWidget>

bool MemoryDC::create(QPainter* target, const QRect& area) {
    if (ready_ || !target || !target->isActive() || area.isEmpty())
        return false;
    target_ = target;
    area_ = area;
    const qreal ratio = target->device() ? target->device()->devicePixelRatio() : 1.0;
    surface_ = QImage((QSizeF(area.size()) * ratio).toSize(), QImage::Format_RGB32);
    if (surface_.isNull())
        return false; // too large for memory
    surface_.setDevicePixelRatio(ratio);
    surface_.fill(QGuiApplication::palette().color(QPalette::Base));
    if (!begin(&surface_))
        return false;
    setFont(target->font());
    setPen(target->pen());
    setBrush(target->brush());
    setBackground(target->background());
    setBackgroundMode(target->backgroundMode());
    setLayoutDirection(target->layoutDirection());
    translate(-area.left(), -area.top());
    ready_ = true;
    return true;
}

void MemoryDC::flush() {
    if (flushed_)
        return;
    flushed_ = true;
    if (!ready_)
        return;
    end();
    if (target_->isActive()) {
        // A plain copy, whatever the target was last set to blend with.
        const QPainter::CompositionMode mode = target_->compositionMode();
        target_->setCompositionMode(QPainter::CompositionMode_Source);
        target_->drawImage(area_.topLeft(), surface_);
        target_->setCompositionMode(mode);
    }
}

MemoryDC::~MemoryDC() {
    flush();
    if (isActive())
        end();
}

MemoryPaintDC::MemoryPaintDC(QWidget* window, const QPaintEvent* event) {
    if (!window || !window_.begin(window))
        return;
    QRect area = event ? event->rect() : QRect();
    if (area.isEmpty())
        area = window->rect();
    create(&window_, area);
}

MemoryPaintDC::~MemoryPaintDC() {
    flush();
    if (window_.isActive())
        window_.end();
}
