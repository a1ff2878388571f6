#include "ui/browser/ListTreeCtrl.h"

#include "ui/browser/ListTreeImages.h"
#include "ui/browser/ListTreeLayout.h"
#include "ui/browser/ListTreeView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

namespace {

constexpr int kBoxSize = 16;

ListTreeCore::Key keyOf(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Space:
        return ListTreeCore::Key::Space;
    case Qt::Key_Up:
        return ListTreeCore::Key::Up;
    case Qt::Key_Down:
        return ListTreeCore::Key::Down;
    case Qt::Key_Home:
        return ListTreeCore::Key::Home;
    case Qt::Key_End:
        return ListTreeCore::Key::End;
    case Qt::Key_PageUp:
        return ListTreeCore::Key::PageUp;
    case Qt::Key_PageDown:
        return ListTreeCore::Key::PageDown;
    default:
        return ListTreeCore::Key::Other;
    }
}

} // namespace

ListTreeCtrl::ListTreeCtrl(ListTreeView* owner, QWidget* parent)
    : QAbstractScrollArea(parent), owner_(owner) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_KeyCompression, false);
    // Painting covers every pixel of the client area, so the viewport is not erased first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(1);
    rowsTimer_.setSingleShot(true);
    rowsTimer_.setInterval(16);
    connect(&rowsTimer_, &QTimer::timeout, this, [this] {
        if (rowsPending_)
            updateRows();
    });
    stateImages = makeCheckBoxImages(devicePixelRatioF());
}

ListTreeCtrl::~ListTreeCtrl() = default;

void ListTreeCtrl::setTreeStyle(unsigned style) {
    if (style == style_)
        return;
    style_ = style;
    viewport()->update();
}

void ListTreeCtrl::setImageList(const QList<QPixmap>& images) {
    images_ = images;
    viewport()->update();
}

int ListTreeCtrl::itemHeight() const {
    return std::max(fontMetrics().height() + 6, 20);
}

int ListTreeCtrl::clientPageRows() const {
    return pageRows(viewport()->height(), itemHeight());
}

ListTreeCtrl::RowGeometry ListTreeCtrl::rowGeometry(ListTreeItem item) const {
    RowGeometry g;
    g.level = item->depth + ((style_ & LinesAtRoot) ? 1 : 0);
    g.stateLeft = g.level * indent() + 2;
    g.iconLeft = images_.isEmpty() ? -1 : g.stateLeft + kBoxSize + 2;
    g.labelLeft = (g.iconLeft >= 0 ? g.iconLeft + kBoxSize : g.stateLeft + kBoxSize) + 3;
    g.button = (style_ & HasButtons) && item->firstChild && g.level >= 1;
    return g;
}

QString shownText(const std::string& utf8) {
    if (utf8.size() <= kShownTextBytes)
        return QString::fromUtf8(utf8);
    std::size_t cut = kShownTextBytes;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80)
        --cut; // not inside a character
    return QString::fromUtf8(utf8.data(), qsizetype(cut)) + QChar(0x2026);
}

int ListTreeCtrl::labelWidth(ListTreeItem item) const {
    return fontMetrics().horizontalAdvance(shownText(item->text)) + 4;
}

QRect ListTreeCtrl::itemRect(ListTreeItem item, bool textOnly) const {
    int row = item ? rowOf(item) : -1;
    if (row < 0)
        return {};
    int ih = itemHeight();
    int y = (row - verticalScrollBar()->value()) * ih;
    if (!textOnly)
        return {0, y, viewport()->width(), ih};
    return {rowGeometry(item).labelLeft, y, labelWidth(item), ih};
}

ListTreeCtrl::Hit ListTreeCtrl::hitTest(QPoint pos) const {
    Hit hit;
    if (pos.y() < 0 || pos.x() < 0 || pos.x() >= viewport()->width())
        return hit;
    hit.item = itemAtRow(verticalScrollBar()->value() + pos.y() / itemHeight());
    if (!hit.item)
        return hit;
    RowGeometry g = rowGeometry(hit.item);
    int x = pos.x();
    if (x < g.stateLeft)
        hit.zone = g.button && x >= (g.level - 1) * indent() ? HitZone::Button : HitZone::Indent;
    else if (x < g.stateLeft + kBoxSize)
        hit.zone = HitZone::CheckBox;
    else if (g.iconLeft >= 0 && x >= g.iconLeft && x < g.iconLeft + kBoxSize)
        hit.zone = HitZone::Icon;
    else if (x >= g.labelLeft && x < g.labelLeft + labelWidth(hit.item))
        hit.zone = HitZone::Label;
    else
        hit.zone = HitZone::Right;
    return hit;
}

QRect ListTreeCtrl::SelectionRect() const {
    QRect r;
    for (ListTreeItem n : selection())
        r = r.united(itemRect(n, false));
    return r;
}

void ListTreeCtrl::ensureVisible(ListTreeItem item) {
    if (rowsPending_)
        updateRows();
    int row = rowOf(item);
    if (row < 0)
        return;
    QScrollBar* bar = verticalScrollBar();
    int page = std::max(clientPageRows(), 1);
    if (row < bar->value())
        bar->setValue(row);
    else if (row >= bar->value() + page)
        bar->setValue(row - page + 1);
}

void ListTreeCtrl::updateRows() {
    rowsPending_ = false;
    rowsTimer_.stop();
    int count = visibleCount();
    int page = clientPageRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(count - page, 0));
    bar->setPageStep(std::max(page, 1));
    bool needV = count > std::max(page, 0);
    setVerticalScrollBarPolicy(needV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setTopRow(bar->value());
    if (needV != lastNeedV_) {
        lastNeedV_ = needV;
        emit verticalBarNeedChanged();
    }
    viewport()->update();
}

// ---- hooks

void ListTreeCtrl::caretChanged(ListTreeItem oldItem, ListTreeItem newItem) {
    if (newItem)
        ensureVisible(newItem);
    emit caretMoved(oldItem, newItem);
}

void ListTreeCtrl::itemDeleting(ListTreeItem item) {
    emit itemDeleted(item);
}

void ListTreeCtrl::rowsChanged() {
    // Rows arrive one event at a time while capturing; the bar follows a burst of them at
    // most once per frame, as re-counting the rows is linear.
    if (!rowsPending_) {
        rowsPending_ = true;
        rowsTimer_.start();
    }
    viewport()->update();
}

void ListTreeCtrl::looksChanged() {
    viewport()->update();
}

// ---- painting

void ListTreeCtrl::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().color(QPalette::Base));
    int top = verticalScrollBar()->value();
    setTopRow(top);
    int ih = itemHeight();
    int shown = viewport()->height() / ih + 1;
    for (int i = 0; i < shown; ++i) {
        ListTreeItem item = itemAtRow(top + i);
        if (!item)
            break;
        paintRow(p, item, QRect(0, i * ih, viewport()->width(), ih));
    }
    if (!emptyText.isEmpty() && visibleCount() == 0) {
        p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        p.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                   emptyText);
    }
}

bool ListTreeCtrl::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip || !owner_)
        return QAbstractScrollArea::viewportEvent(event);
    // A cell cut short by its column shows its whole text under the pointer.
    const auto* help = static_cast<QHelpEvent*>(event);
    const Hit hit = hitTest(help->pos());
    QString text;
    QRect cell;
    if (hit.item) {
        const QRect row = itemRect(hit.item, false);
        const QRect label(rowGeometry(hit.item).labelLeft, row.top(), labelWidth(hit.item),
                          row.height());
        text = owner_->cutCellText(hit.item, help->pos().x(), label, cell);
    }
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, viewport(), cell);
    return true;
}

void ListTreeCtrl::paintRow(QPainter& p, ListTreeItem item, const QRect& rc) {
    RowGeometry g = rowGeometry(item);
    if (style_ & HasLines)
        paintLines(p, item, rc, g);
    if (g.button)
        paintButton(p, item, rc, g);
    int iconTop = rc.top() + (rc.height() - kBoxSize) / 2;
    int state = item->stateImage;
    if (state > 0 && state < stateImages.size())
        p.drawPixmap(g.stateLeft, iconTop, stateImages[state]);
    if (g.iconLeft >= 0) {
        int image = item == caret() ? item->selectedImage : item->image;
        if (image >= 0 && image < images_.size())
            p.drawPixmap(g.iconLeft, iconTop, images_[image]);
    }
    QRect label(g.labelLeft, rc.top(), labelWidth(item), rc.height());
    if (owner_) {
        owner_->paintCells(p, item, rc, label);
    } else {
        p.setPen(palette().color(QPalette::Text));
        p.drawText(label, Qt::AlignVCenter | Qt::TextSingleLine, shownText(item->text));
    }
}

void ListTreeCtrl::paintLines(QPainter& p, ListTreeItem item, const QRect& rc,
                              const RowGeometry& g) {
    if (g.level < 1)
        return;
    p.save();
    QPen pen(QColor(0xb4, 0xb4, 0xb4), 1, Qt::DotLine);
    p.setPen(pen);
    int ind = indent();
    int mid = rc.top() + rc.height() / 2;
    int x = (g.level - 1) * ind + ind / 2;
    bool above = item->prev || parentItem(item);
    p.drawLine(x, above ? rc.top() : mid, x, item->next ? rc.bottom() : mid);
    p.drawLine(x, mid, g.stateLeft - 2, mid);
    int level = g.level - 1;
    for (ListTreeItem a = parentItem(item); a && level >= 1; a = parentItem(a), --level) {
        if (a->next) {
            int ax = (level - 1) * ind + ind / 2;
            p.drawLine(ax, rc.top(), ax, rc.bottom());
        }
    }
    p.restore();
}

void ListTreeCtrl::paintButton(QPainter& p, ListTreeItem item, const QRect& rc,
                               const RowGeometry& g) {
    int ind = indent();
    QPointF c((g.level - 1) * ind + ind / 2 + 0.5, rc.top() + rc.height() / 2 + 0.5);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(c.x() - 5, c.y() - 5, 10, 10), palette().color(QPalette::Base));
    QColor ink = item->expanded ? QColor(0x40, 0x40, 0x40) : QColor(0x70, 0x70, 0x70);
    p.setPen(QPen(ink, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPolygonF chevron;
    if (item->expanded)
        chevron << QPointF(c.x() - 3.5, c.y() - 1.75) << QPointF(c.x(), c.y() + 1.75)
                << QPointF(c.x() + 3.5, c.y() - 1.75);
    else
        chevron << QPointF(c.x() - 1.75, c.y() - 3.5) << QPointF(c.x() + 1.75, c.y())
                << QPointF(c.x() - 1.75, c.y() + 3.5);
    p.drawPolyline(chevron);
    p.restore();
}

// ---- input

void ListTreeCtrl::mousePressEvent(QMouseEvent* event) {
    event->accept();
    QPoint pos = event->position().toPoint();
    bool ctrl = event->modifiers() & Qt::ControlModifier;
    bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->button() == Qt::LeftButton) {
        if (!hasFocus())
            setFocus(Qt::MouseFocusReason);
        Hit hit = hitTest(pos);
        if (!hit.item)
            return;
        bool hasColumns = owner_ && owner_->columnCount() > 0;
        int width0 = hasColumns ? owner_->columnWidth(0) : 0;
        leftButtonDown(hit.item, effectiveZone(hit.zone, pos.x(), width0, hasColumns), ctrl, shift);
    } else if (event->button() == Qt::RightButton) {
        setFocus(Qt::MouseFocusReason);
        if (rightButtonDown(hitTest(pos).item, ctrl))
            emit rightClicked(event->globalPosition().toPoint());
    }
}

void ListTreeCtrl::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void ListTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        doubleClick(hitTest(event->position().toPoint()).item);
    } else {
        mousePressEvent(event);
    }
}

void ListTreeCtrl::keyPressEvent(QKeyEvent* event) {
    event->accept();
    bool ctrl = event->modifiers() & Qt::ControlModifier;
    bool shift = event->modifiers() & Qt::ShiftModifier;
    Key key = keyOf(event->key());
    if (keyDown(key, ctrl, shift, clientPageRows()))
        return;
    // Navigation keys with Ctrl scroll without moving the caret.
    QScrollBar* bar = verticalScrollBar();
    switch (key) {
    case Key::Up:
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Key::Down:
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Key::PageUp:
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Key::PageDown:
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    case Key::Home:
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        break;
    case Key::End:
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        break;
    default:
        break;
    }
}

void ListTreeCtrl::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
}

void ListTreeCtrl::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update(SelectionRect().united(itemRect(caret(), false)));
}

void ListTreeCtrl::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update(SelectionRect().united(itemRect(caret(), false)));
}

void ListTreeCtrl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateRows();
}

void ListTreeCtrl::scrollContentsBy(int, int) {
    setTopRow(verticalScrollBar()->value());
    viewport()->update();
}

void ListTreeCtrl::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateRows();
}
