#include "ui/panes/HeaderListPane.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "ui/shell/MessageBoxes.h"
#include "ui/shell/ProfileSettings.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QToolTip>
#include <QTreeWidget>

#include <cerrno>

namespace {

constexpr int kColumnCount = 2;
const char* const kWidthNames[kColumnCount] = {"Field", "Value"};

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// A report list's header runs across the whole list: right of the last column
// an empty section fills the rest instead of bare background.
class ReportHeader : public QHeaderView {
public:
    explicit ReportHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        QHeaderView::paintEvent(event);
        if (count() == 0)
            return;
        const int last = logicalIndex(count() - 1);
        const int end = sectionViewportPosition(last) + sectionSize(last);
        if (end >= viewport()->width())
            return;
        QPainter painter(viewport());
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = QRect(end, 0, viewport()->width() - end, viewport()->height());
        option.section = count();
        option.position = QStyleOptionHeader::End;
        option.state |= QStyle::State_Enabled;
        style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, this);
    }
};

} // namespace

bool setClipboardText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        setLastError(EBUSY);
        return false;
    }
    clipboard->setText(text);
    // The platform reports nothing; reading back is the only sign that the
    // clipboard really holds our text.
    if (clipboard->text() != text) {
        setLastError(EBUSY);
        return false;
    }
    return true;
}

HeaderListPane::HeaderListPane(const QString& title, std::string widthSection, bool copyMenu,
                               QWidget* parent)
    : DockablePane(title, parent), list_(new QTreeWidget), widthSection_(std::move(widthSection)) {
    list_->setHeader(new ReportHeader(list_));
    list_->setColumnCount(kColumnCount);
    list_->setHeaderLabels({text(IDS_HEADER_FIELD), text(IDS_HEADER_VALUE)});
    list_->setRootIsDecorated(false);
    list_->viewport()->installEventFilter(this);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setTextElideMode(Qt::ElideRight);
    QHeaderView* header = list_->header();
    // The value column takes whatever room the name column leaves: values are
    // what the user reads, and an empty strip beside a cut value helps nobody.
    // The name column's width is the user's own, down to one pixel.
    header->setStretchLastSection(true);
    header->setMinimumSectionSize(1);
    header->setSectionsMovable(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setColumnWidth(0, kDefaultFieldWidth);
    list_->setColumnWidth(1, kDefaultValueWidth);
    setChild(list_);
    loadColumnWidths();

    auto* copy = new QAction(list_);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, [this] { runCommand(ID_COPY_FIELD_VALUE); });
    list_->addAction(copy);

    if (copyMenu) {
        list_->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list_, &QWidget::customContextMenuRequested, this,
                &HeaderListPane::showContextMenu);
    }
}

HeaderListPane::~HeaderListPane() {
    saveColumnWidths();
}

void HeaderListPane::loadColumnWidths() {
    ProfileSettings profile;
    for (int column = 0; column < kColumnCount; ++column) {
        const int current = list_->columnWidth(column);
        const int width = profile.readInt(widthSection_, kWidthNames[column], current);
        if (width != current)
            list_->setColumnWidth(column, width < 1 ? 1 : width);
    }
}

void HeaderListPane::saveColumnWidths() {
    ProfileSettings profile;
    for (int column = 0; column < kColumnCount; ++column)
        profile.writeInt(widthSection_, kWidthNames[column], list_->columnWidth(column));
}

bool HeaderListPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched != list_->viewport() || event->type() != QEvent::ToolTip)
        return DockablePane::eventFilter(watched, event);
    // A name or value cut short by its column shows itself whole under the pointer.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = list_->indexAt(help->pos());
    const QTreeWidgetItem* item = list_->itemFromIndex(index);
    if (item) {
        const QString shown = item->text(index.column());
        const QRect cell = list_->visualRect(index);
        // The cell's own margins take a few pixels of its width.
        const int margin = 2 * (list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
        if (list_->fontMetrics().horizontalAdvance(shown) > cell.width() - margin) {
            QToolTip::showText(help->globalPos(), shown, list_->viewport(), cell);
            return true;
        }
    }
    QToolTip::hideText();
    return true;
}

void HeaderListPane::clearRows() {
    list_->clear();
}

void HeaderListPane::addRow(const QString& name, const QString& value) {
    auto* item = new QTreeWidgetItem(list_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    // A head may carry a value of most of a megabyte; laying out and eliding
    // all of it on every paint would make the list crawl. The cell shows a
    // cut no column is wide enough to need; copying uses the whole text.
    const QString cells[] = {name, value};
    for (int column = 0; column < 2; ++column) {
        const QString& cell = cells[column];
        if (cell.size() > kShownLength) {
            qsizetype cut = kShownLength;
            if (cell.at(cut - 1).isHighSurrogate())
                --cut;
            item->setText(column, cell.left(cut) + QChar(0x2026));
            item->setData(column, kFullTextRole, cell);
        } else {
            item->setText(column, cell);
        }
    }
}

QString HeaderListPane::cellText(const QTreeWidgetItem* item, int column) {
    const QVariant full = item->data(column, kFullTextRole);
    return full.isValid() ? full.toString() : item->text(column);
}

QString HeaderListPane::selectedValue() const {
    // The list's own order, not the order in which rows were selected.
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        if (QTreeWidgetItem* item = list_->topLevelItem(row); item->isSelected())
            return cellText(item, 1);
    }
    return QString();
}

QString HeaderListPane::headerText() const {
    const int rows = list_->topLevelItemCount();
    if (rows == 0)
        return QString();
    const QString lineEnd = QStringLiteral("\r\n");
    QString out = cellText(list_->topLevelItem(0), 1) + lineEnd;
    for (int row = 1; row < rows; ++row) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        out += cellText(item, 0) + u':' + cellText(item, 1) + lineEnd;
    }
    return out + lineEnd;
}

QMenu* HeaderListPane::createContextMenu(QWidget* parent) const {
    auto* menu = new QMenu(parent);
    QAction* value = menu->addAction(text(IDS_MENU_COPY_FIELD_VALUE));
    value->setData(ID_COPY_FIELD_VALUE);
    value->setEnabled(!list_->selectedItems().isEmpty());
    QAction* header = menu->addAction(text(IDS_MENU_COPY_HEADER));
    header->setData(ID_COPY_HEADER);
    header->setEnabled(list_->topLevelItemCount() > 0);
    return menu;
}

bool HeaderListPane::runCommand(int id) {
    if (id == ID_COPY_FIELD_VALUE) {
        if (list_->selectedItems().isEmpty())
            return true;
        return copyToClipboard(selectedValue());
    }
    if (id == ID_COPY_HEADER) {
        if (list_->topLevelItemCount() == 0)
            return true;
        return copyToClipboard(headerText());
    }
    return true;
}

void HeaderListPane::showContextMenu(const QPoint& pos) {
    QMenu* menu = createContextMenu(this);
    const QAction* chosen = menu->exec(list_->viewport()->mapToGlobal(pos));
    const int id = chosen ? chosen->data().toInt() : 0;
    delete menu;
    if (id)
        runCommand(id);
}

bool HeaderListPane::copyToClipboard(const QString& text) {
    if (setClipboardText(text))
        return true;
    showMessageBox(this, QMessageBox::NoIcon, QString::fromStdString(errorText(lastError())));
    return false;
}
