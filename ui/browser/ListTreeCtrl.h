// The rows of the list-tree control: a scrolled window that paints only the rows on screen.
#pragma once

#include "ui/browser/ListTreeCore.h"

#include <QAbstractScrollArea>
#include <QList>
#include <QPixmap>
#include <QString>
#include <QTimer>

#include <string>

class ListTreeView;

// A cell's text as painted. An address or name may run to most of a megabyte;
// laying all of it out on every paint would make the list crawl, so past
// kShownTextBytes (more than any column is wide) it is cut at a character
// boundary and ends with an ellipsis.
constexpr std::size_t kShownTextBytes = 4096;
QString shownText(const std::string& utf8);

class ListTreeCtrl : public QAbstractScrollArea, public ListTreeCore {
    Q_OBJECT
public:
    // Tree styles the owner switches per arrangement.
    enum Style : unsigned { HasButtons = 0x1, HasLines = 0x2, LinesAtRoot = 0x4 };

    explicit ListTreeCtrl(ListTreeView* owner, QWidget* parent = nullptr);
    ~ListTreeCtrl() override;

    unsigned treeStyle() const { return style_; }
    void setTreeStyle(unsigned style);
    // Row icons, indexed by an item's image and selected image.
    void setImageList(const QList<QPixmap>& images);
    const QList<QPixmap>& imageList() const { return images_; }
    // Check-box images: 0 unused, 1 empty, 2 checked, 3 greyed checked.
    QList<QPixmap> stateImages;
    // Said in the middle of the client area while no row is shown (empty: nothing).
    QString emptyText;

    int itemHeight() const;
    int indent() const { return 19; }
    // Rows shown whole in the client area.
    int clientPageRows() const;

    // Full row (textOnly false) or label rectangle in client coordinates; empty when hidden.
    QRect itemRect(ListTreeItem item, bool textOnly) const;
    struct Hit {
        ListTreeItem item = nullptr;
        HitZone zone = HitZone::Right;
    };
    Hit hitTest(QPoint pos) const;
    // Union of the full row rectangles of the selected rows on screen.
    QRect SelectionRect() const;
    void ensureVisible(ListTreeItem item);
    // Repaints one row (its cells are asked of the adaptor again).
    void updateItem(ListTreeItem item) { viewport()->update(itemRect(item, false)); }
    // Brings the vertical bar in line with the rows now (otherwise done once per event turn).
    void updateRows();

signals:
    void caretMoved(ListTreeItem oldItem, ListTreeItem newItem);
    void itemDeleted(ListTreeItem item);
    void rightClicked(QPoint globalPos);
    // The vertical bar appeared or disappeared: the owner lays out header and filler again.
    void verticalBarNeedChanged();

protected:
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;

    void caretChanged(ListTreeItem oldItem, ListTreeItem newItem) override;
    void itemDeleting(ListTreeItem item) override;
    void rowsChanged() override;
    void looksChanged() override;

private:
    struct RowGeometry {
        int level = 0; // indentation columns left of the check box
        int stateLeft = 0;
        int iconLeft = -1;
        int labelLeft = 0;
        bool button = false;
    };
    RowGeometry rowGeometry(ListTreeItem item) const;
    int labelWidth(ListTreeItem item) const;
    void paintRow(QPainter& p, ListTreeItem item, const QRect& rc);
    void paintLines(QPainter& p, ListTreeItem item, const QRect& rc, const RowGeometry& g);
    void paintButton(QPainter& p, ListTreeItem item, const QRect& rc, const RowGeometry& g);

    ListTreeView* owner_;
    unsigned style_ = 0;
    QList<QPixmap> images_;
    QTimer rowsTimer_;
    bool rowsPending_ = false;
    bool lastNeedV_ = false;
};
