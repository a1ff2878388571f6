#include "ui/browser/ListTreeView.h"

#include "ui/browser/ListTreeLayout.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionHeader>

namespace {

// The state text of failed answers: amber for the client's errors, red for the server's.
const QColor kClientErrorInk(176, 96, 0);
const QColor kServerErrorInk(192, 0, 0);

} // namespace

ListTreeHeader::ListTreeHeader(ListTreeView* owner, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), owner_(owner) {
    setSectionsClickable(true);
    setSectionResizeMode(QHeaderView::Interactive);
    setStretchLastSection(false);
    setSortIndicatorShown(false);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setMinimumSectionSize(0);
    setFocusPolicy(Qt::NoFocus);
}

void ListTreeHeader::paintEvent(QPaintEvent* event) {
    QHeaderView::paintEvent(event);
    // The room right of the last column shows as an empty header item, not as a hole.
    int end = count() > 0 ? sectionViewportPosition(count() - 1) + sectionSize(count() - 1) : 0;
    if (end < viewport()->width()) {
        QPainter p(viewport());
        QStyleOptionHeader opt;
        initStyleOption(&opt);
        opt.rect = QRect(end, 0, viewport()->width() - end, viewport()->height());
        opt.position = QStyleOptionHeader::End;
        style()->drawControl(QStyle::CE_HeaderSection, &opt, &p, this);
    }
}

void ListTreeHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (!owner_ || logicalIndex != owner_->sortColumn || rect.width() < 6)
        return;
    int mx = (rect.left() + rect.left() + rect.width()) / 2;
    int top = rect.top();
    QPolygon arrow;
    if (owner_->sortAscending)
        arrow << QPoint(mx, top) << QPoint(mx - 3, top + 4) << QPoint(mx + 3, top + 4);
    else
        arrow << QPoint(mx - 3, top) << QPoint(mx, top + 4) << QPoint(mx + 3, top);
    painter->save();
    painter->setPen(Qt::NoPen);
    painter->setBrush(Qt::black);
    painter->drawPolygon(arrow);
    painter->restore();
}

ListTreeView::ListTreeView(QWidget* parent) : QWidget(parent) {
    // Children cover the whole client area; only the corner between the bars is painted here.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

ListTreeView::~ListTreeView() = default;

int ListTreeView::scrollBarExtent() const {
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

bool ListTreeView::Create(QWidget* parent, const QRect& rect) {
    if (tree)
        return false;
    if (parent != parentWidget())
        setParent(parent);
    setGeometry(rect);

    tree = new ListTreeCtrl(this, this);
    headerModel_ = new QStandardItemModel(0, 0, this);
    header = new ListTreeHeader(this, this);
    header->setModel(headerModel_);
    fillerModel_ = new QStandardItemModel(0, 0, this);
    fillerHeader = new QHeaderView(Qt::Horizontal, this);
    fillerHeader->setModel(fillerModel_);
    fillerHeader->setSectionsClickable(false);
    fillerHeader->setStretchLastSection(true);
    fillerHeader->setFocusPolicy(Qt::NoFocus);
    fillerHeader->hide();
    hScrollBar = new QScrollBar(Qt::Horizontal, this);
    hScrollBar->setSingleStep(kHorizontalLineStep);
    hScrollBar->hide();
    totalWidth = scrollBarExtent();

    connect(header, &QHeaderView::sectionResized, this, &ListTreeView::headerResized);
    connect(header, &QHeaderView::sectionClicked, this, &ListTreeView::headerClicked);
    connect(hScrollBar, &QScrollBar::actionTriggered, this, &ListTreeView::scrollAction);
    connect(hScrollBar, &QScrollBar::valueChanged, this, [this] { RecalcLayout(); });
    connect(tree, &ListTreeCtrl::verticalBarNeedChanged, this, [this] { RecalcLayout(); });
    connect(tree, &ListTreeCtrl::caretMoved, this, [this](ListTreeItem o, ListTreeItem n) {
        emit caretChanged(o, o ? tree->itemData(o) : 0, n, n ? tree->itemData(n) : 0);
    });
    connect(tree, &ListTreeCtrl::itemDeleted, this,
            [this](ListTreeItem item) { emit itemDeleting(item, tree->itemData(item)); });
    connect(tree, &ListTreeCtrl::rightClicked, this, &ListTreeView::rightClicked);

    tree->autoCheck = autoCheck();
    copyHeaderFont();
    RecalcLayout();
    return true;
}

void ListTreeView::copyHeaderFont() {
    headerFont = tree->font();
    header->setFont(headerFont);
    fillerHeader->setFont(headerFont);
}

void ListTreeView::setAutoCheck(bool on) {
    style_ = on ? (style_ | AutoCheck) : (style_ & ~AutoCheck);
    if (tree)
        tree->autoCheck = on;
}

int ListTreeView::InsertColumn(int index, const QString& title, unsigned alignment, int width) {
    if (!header)
        return -1;
    int at = std::clamp(index, 0, columnCount());
    width = std::max(width, 0);
    columns.insert(columns.begin() + at, ColumnInfo{alignment, width});
    headerModel_->insertColumns(at, 1);
    headerModel_->setHeaderData(at, Qt::Horizontal, title);
    header->resizeSection(at, width);
    totalWidth += width;
    if (header->count() == 1) {
        fillerModel_->insertColumns(0, 1);
        fillerModel_->setHeaderData(0, Qt::Horizontal, QString());
        fillerHeader->resizeSection(0, scrollBarExtent() + 5);
    }
    RecalcLayout();
    return at;
}

void ListTreeView::setColumnWidth(int column, int width) {
    if (header && column >= 0 && column < columnCount())
        header->resizeSection(column, width);
}

void ListTreeView::headerResized(int column, int, int newWidth) {
    if (column < 0 || column >= columnCount())
        return;
    // Measured against the stored width, so the header's own notices while a column goes in
    // cannot count it twice.
    totalWidth += newWidth - columns[column].width;
    columns[column].width = newWidth;
    RecalcLayout();
    tree->viewport()->update();
    emit columnWidthChanged(column, newWidth);
}

void ListTreeView::headerClicked(int column) {
    sortAscending = column != sortColumn ? true : !sortAscending;
    sortColumn = column;
    SortChildren(nullptr);
    header->viewport()->update();
}

void ListTreeView::SortChildren(ListTreeItem item) {
    // Without an adaptor every row compares equal and a stable sort keeps the order as it is.
    if (!tree || !adaptor)
        return;
    tree->sortChildren(
        item, [this](std::uintptr_t a, std::uintptr_t b) { return adaptor->CompareItems(a, b); });
}

void ListTreeView::scrollAction(int action) {
    ScrollRequest request = ScrollRequest::Other;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        request = ScrollRequest::LineLeft;
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        request = ScrollRequest::LineRight;
        break;
    case QAbstractSlider::SliderPageStepSub:
        request = ScrollRequest::PageLeft;
        break;
    case QAbstractSlider::SliderPageStepAdd:
        request = ScrollRequest::PageRight;
        break;
    case QAbstractSlider::SliderMove:
        request = ScrollRequest::Track;
        break;
    case QAbstractSlider::SliderToMinimum:
        request = ScrollRequest::LeftEnd;
        break;
    case QAbstractSlider::SliderToMaximum:
        request = ScrollRequest::RightEnd;
        break;
    default:
        return;
    }
    // Qt's bar keeps its maximum as range minus page already.
    hScrollBar->setSliderPosition(horizontalScrollTarget(
        request, hScrollBar->minimum(), hScrollBar->maximum(), hScrollBar->pageStep(),
        hScrollBar->value(), hScrollBar->sliderPosition()));
}

void ListTreeView::RecalcLayout() {
    if (!hScrollBar || inLayout_)
        return;
    inLayout_ = true;
    ListTreeLayoutInput in;
    in.width = width();
    in.height = height();
    in.totalWidth = totalWidth;
    in.scrollPos = hScrollBar->value();
    in.headerHeight = header->sizeHint().height();
    in.scrollBarWidth = scrollBarExtent();
    in.scrollBarHeight = scrollBarExtent();
    in.rowCount = tree->visibleCount();
    in.itemHeight = tree->itemHeight();
    ListTreeLayout out = computeListTreeLayout(in);
    {
        QSignalBlocker block(hScrollBar);
        hScrollBar->setRange(0, std::max(out.scrollMax - out.scrollPage, 0));
        hScrollBar->setPageStep(out.scrollPage);
        hScrollBar->setValue(out.scrollPos);
    }
    auto place = [](QWidget* w, const LayoutRect& r) {
        w->setGeometry(r.x, r.y, std::max(r.width, 0), std::max(r.height, 0));
    };
    place(tree, out.tree);
    place(header, out.header);
    place(fillerHeader, out.filler);
    fillerHeader->setVisible(out.needV);
    place(hScrollBar, out.scrollBar);
    hScrollBar->setVisible(out.needH);
    inLayout_ = false;
    update();
}

QString ListTreeView::cutCellText(ListTreeItem item, int x, const QRect& label, QRect& cell) const {
    std::vector<int> widths;
    widths.reserve(columns.size());
    for (const ColumnInfo& c : columns)
        widths.push_back(c.width);
    const std::vector<CellSpan> spans = cellSpans(label.left(), widths);
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const CellSpan& s = spans[i];
        if (x < s.left || x >= s.right)
            continue;
        const QString text =
            adaptor ? shownText(adaptor->GetItemText(tree->itemData(item), static_cast<int>(i)))
                    : QString::fromUtf8(tree->itemText(item))
                          .split(QLatin1Char('\t'))
                          .value(static_cast<int>(i));
        if (tree->fontMetrics().horizontalAdvance(text) <= s.right - s.left)
            return {};
        cell = QRect(s.left, label.top(), s.right - s.left, label.height());
        return text;
    }
    return {};
}

void ListTreeView::paintCells(QPainter& painter, ListTreeItem item, const QRect& rc,
                              const QRect& label) {
    if (rc.isEmpty())
        return;
    std::vector<int> widths;
    widths.reserve(columns.size());
    for (const ColumnInfo& c : columns)
        widths.push_back(c.width);
    int left = cellPaintLeft(label.left(), widths);
    bool selected = tree->isSelected(item);
    bool focused = tree->hasFocus();
    const QPalette& pal = tree->palette();
    QColor back = pal.color(QPalette::Base), ink = pal.color(QPalette::Text);
    if (selected && focused) {
        back = pal.color(QPalette::Highlight);
        ink = pal.color(QPalette::HighlightedText);
    } else if (selected) {
        back = QColor(204, 206, 219);
    }
    // A row shown only for the matching rows below it reads as context.
    if (tree->isItemDimmed(item) && !(selected && focused))
        ink = pal.color(QPalette::Disabled, QPalette::Text);
    QRect area(left, rc.top(), rc.right() + 1 - left, rc.height());
    painter.fillRect(area, back);
    painter.setPen(ink);

    std::vector<CellSpan> spans = cellSpans(label.left(), widths);
    QStringList fields;
    if (!adaptor)
        fields = QString::fromUtf8(tree->itemText(item)).split(QLatin1Char('\t'));
    const QFontMetrics fm = tree->fontMetrics();
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const CellSpan& s = spans[i];
        if (s.left > rc.right())
            break;
        int w = s.right - s.left;
        if (w <= 0)
            continue;
        QString text =
            adaptor ? shownText(adaptor->GetItemText(tree->itemData(item), static_cast<int>(i)))
                    : fields.value(static_cast<int>(i));
        if (text.isEmpty())
            continue;
        // A failed answer's state stands out, except where the row's own colours rule.
        const ListTreeAdaptor::Tone tone =
            adaptor && !(selected && focused) && !tree->isItemDimmed(item)
                ? adaptor->GetItemTone(tree->itemData(item), int(i))
                : ListTreeAdaptor::Tone::Plain;
        painter.setPen(tone == ListTreeAdaptor::Tone::ServerError   ? kServerErrorInk
                       : tone == ListTreeAdaptor::Tone::ClientError ? kClientErrorInk
                                                                    : ink);
        unsigned a = columns[i].alignment;
        Qt::Alignment align = (a & ColumnInfo::AlignRight)    ? Qt::AlignRight
                              : (a & ColumnInfo::AlignCenter) ? Qt::AlignHCenter
                                                              : Qt::AlignLeft;
        painter.drawText(QRect(s.left, label.top(), w, label.height()),
                         align | Qt::AlignVCenter | Qt::TextSingleLine,
                         fm.elidedText(text, Qt::ElideRight, w));
    }
    if (columns.empty() && !adaptor) {
        // No columns: the label alone, as the plain tree would show it.
        painter.drawText(label, Qt::AlignVCenter | Qt::TextSingleLine, fields.value(0));
    }
    if (focused && item == tree->caret()) {
        painter.save();
        QPen pen(ink, 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        painter.restore();
    }
}

void ListTreeView::paintEvent(QPaintEvent*) {
    int sb = scrollBarExtent();
    QPainter p(this);
    p.fillRect(width() - sb, height() - sb, sb, sb, palette().color(QPalette::Button));
}

void ListTreeView::resizeEvent(QResizeEvent*) {
    RecalcLayout();
}

void ListTreeView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (tree && (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)) {
        copyHeaderFont();
        RecalcLayout();
    }
}
