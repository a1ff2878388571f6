// A column header over a tree whose rows are list rows: cells from an adaptor, header click
// sorting, and header and rows scrolled sideways together.
#pragma once

#include "ui/browser/ListTreeAdaptor.h"
#include "ui/browser/ListTreeCtrl.h"

#include <QFont>
#include <QHeaderView>
#include <QWidget>
#include <vector>

class QScrollBar;
class QStandardItemModel;

// Header that marks the sort column with a small arrow at its top edge.
class ListTreeHeader : public QHeaderView {
    Q_OBJECT
public:
    ListTreeHeader(ListTreeView* owner, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    ListTreeView* owner_;
};

class ListTreeView : public QWidget {
    Q_OBJECT
public:
    // Style bit: check-box changes are carried to descendants and ancestors.
    static constexpr unsigned AutoCheck = 0x200;

    explicit ListTreeView(QWidget* parent = nullptr);
    ~ListTreeView() override;

    // Builds the child windows on the parent at the rectangle.
    bool Create(QWidget* parent, const QRect& rect);
    // Returns the index at which the column went in.
    int InsertColumn(int index, const QString& title, unsigned alignment, int width);
    void SortChildren(ListTreeItem item);
    void RecalcLayout();

    bool autoCheck() const { return style_ & AutoCheck; }
    void setAutoCheck(bool on);
    int columnCount() const { return static_cast<int>(columns.size()); }
    int columnWidth(int column) const { return columns.at(column).width; }
    void setColumnWidth(int column, int width);

    // Paints a row's cells over what the tree drew; rc and label in tree coordinates.
    void paintCells(QPainter& painter, ListTreeItem item, const QRect& rc, const QRect& label);
    // The whole text of the cell at x when the row shows it cut short, else empty; `cell`
    // receives the cell's rectangle.
    QString cutCellText(ListTreeItem item, int x, const QRect& label, QRect& cell) const;

    ListTreeHeader* header = nullptr;
    QHeaderView* fillerHeader = nullptr;
    ListTreeCtrl* tree = nullptr;
    QScrollBar* hScrollBar = nullptr;
    int totalWidth = 0;
    std::vector<ColumnInfo> columns;
    ListTreeAdaptor* adaptor = nullptr; // not owned
    QFont headerFont;
    int sortColumn = -1;
    bool sortAscending = true;

signals:
    // The caret moved (old and new item with their data; none is 0).
    void caretChanged(ListTreeItem oldItem, quintptr oldData, ListTreeItem newItem,
                      quintptr newData);
    // An item is being deleted; its data is the owner's to free.
    void itemDeleting(ListTreeItem item, quintptr data);
    // Right button pressed on a row; the owner acts on the selection.
    void rightClicked(QPoint globalPos);
    void columnWidthChanged(int column, int width);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void headerResized(int column, int oldWidth, int newWidth);
    void headerClicked(int column);
    void scrollAction(int action);
    void copyHeaderFont();
    int scrollBarExtent() const;

    QStandardItemModel* headerModel_ = nullptr;
    QStandardItemModel* fillerModel_ = nullptr;
    unsigned style_ = 0;
    bool inLayout_ = false;
};
