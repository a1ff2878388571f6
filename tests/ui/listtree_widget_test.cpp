// The list-tree control driven through real mouse and key events on the offscreen screen.
#include "ui/browser/ListTreeImages.h"
#include "ui/browser/ListTreeView.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>
#include <deque>

namespace {

struct Row {
    std::string name, type, size;
    int ordinal = 0;
};

class FakeAdaptor : public ListTreeAdaptor {
public:
    explicit FakeAdaptor(ListTreeView* view) : view_(view) {}
    std::string GetItemText(std::uintptr_t data, int column) override {
        const Row& r = *reinterpret_cast<const Row*>(data);
        switch (column) {
        case 0:
            return r.name;
        case 1:
            return r.type;
        case 2:
            return r.size;
        case 3:
            return r.ordinal ? std::to_string(r.ordinal) : std::string();
        default:
            return {};
        }
    }
    int CompareItems(std::uintptr_t a, std::uintptr_t b) override {
        const Row& x = *reinterpret_cast<const Row*>(a);
        const Row& y = *reinterpret_cast<const Row*>(b);
        int c = 0;
        if (view_->sortColumn == 3)
            c = (x.ordinal > y.ordinal) - (x.ordinal < y.ordinal);
        else
            c = QString::fromStdString(GetItemText(a, view_->sortColumn))
                    .compare(QString::fromStdString(GetItemText(b, view_->sortColumn)));
        return view_->sortAscending ? c : -c;
    }

private:
    ListTreeView* view_;
};

// A control with four columns and a small adaptor; rows are added by the tests.
struct Fixture {
    Fixture(int width = 640, int height = 320) : adaptor(&view) {
        view.Create(nullptr, QRect(0, 0, width, height));
        view.InsertColumn(0, QStringLiteral("资源名"), ColumnInfo::AlignLeft, 220);
        view.InsertColumn(1, QStringLiteral("类型"), ColumnInfo::AlignLeft, 150);
        view.InsertColumn(2, QStringLiteral("大小"), ColumnInfo::AlignRight, 80);
        view.InsertColumn(3, QStringLiteral("序号"), ColumnInfo::AlignLeft, 60);
        view.adaptor = &adaptor;
        view.tree->setImageList(makeRowIcons(view.devicePixelRatioF()));
        view.show();
    }
    ListTreeItem add(ListTreeItem parent, Row row, int image = 2) {
        rows.push_back(std::move(row));
        ListTreeItem item =
            view.tree->insertItem(parent, nullptr, reinterpret_cast<std::uintptr_t>(&rows.back()));
        view.tree->setItemImage(item, image, image);
        return item;
    }
    void flat(int count) {
        for (int i = 1; i <= count; ++i)
            add(nullptr, {"file" + std::to_string(i) + ".js", "application/javascript", "1 KB", i});
        settle();
    }
    void settle() {
        view.tree->updateRows();
        QCoreApplication::processEvents();
    }
    QPoint at(ListTreeItem item, int x) const {
        return QPoint(x, view.tree->itemRect(item, false).center().y());
    }
    void click(ListTreeItem item, int x, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(view.tree->viewport(), Qt::LeftButton, mods, at(item, x));
    }
    ListTreeItem row(int r) const { return view.tree->itemAtRow(r); }
    QString names() const {
        QStringList out;
        for (int r = 0; r < view.tree->visibleCount(); ++r)
            out << QString::fromStdString(
                reinterpret_cast<const Row*>(view.tree->itemData(row(r)))->name);
        return out.join(' ');
    }
    QList<int> selectedRows() const {
        QList<int> out;
        for (ListTreeItem n : view.tree->selection())
            out << view.tree->rowOf(n);
        return out;
    }

    ListTreeView view;
    FakeAdaptor adaptor;
    std::deque<Row> rows;
};

bool dark(const QImage& img, int x, int y) {
    return qGray(img.pixel(x, y)) < 60;
}

} // namespace

class ListTreeWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void checkBoxOnlyWithinColumn0();
    void ctrlAndShiftClicks();
    void keysMoveSelectAndCheck();
    void rightClickAndNotifications();
    void headerClickSortsAndShowsArrow();
    void cutCellsShowTheirWholeText();
    void headerAndRowsScrollTogether();
    void selectedRowColoursFollowFocus();
    void render();
};

void ListTreeWidgetTest::initTestCase() {
    QFont f = QApplication::font();
    f.setFamilies({f.family(), QStringLiteral("Noto Sans CJK SC")});
    QApplication::setFont(f);
}

void ListTreeWidgetTest::checkBoxOnlyWithinColumn0() {
    Fixture fx;
    fx.flat(3);
    ListTreeItem r0 = fx.row(0), r1 = fx.row(1);
    // Root rows without buttons start with the box at x 2..17.
    fx.click(r0, 8);
    QCOMPARE(fx.view.tree->checkState(r0), int(Checked));
    QVERIFY(fx.view.tree->selection().empty());
    // With column 0 narrower than the box, the same spot is a plain row click.
    fx.view.setColumnWidth(0, 6);
    QCOMPARE(fx.view.columns[0].width, 6);
    fx.click(r1, 8);
    QCOMPARE(fx.view.tree->checkState(r1), int(Unchecked));
    QCOMPARE(fx.selectedRows(), QList<int>{1});
    QCOMPARE(fx.view.tree->caret(), r1);
    // Below the last row nothing changes.
    QTest::mouseClick(fx.view.tree->viewport(), Qt::LeftButton, {}, QPoint(300, 250));
    QCOMPARE(fx.selectedRows(), QList<int>{1});
    // An expand button right of column 0 is no button either.
    ListTreeItem child = fx.add(r1, {"child", "", "", 9});
    fx.view.tree->setTreeStyle(ListTreeCtrl::HasButtons | ListTreeCtrl::LinesAtRoot);
    fx.settle();
    fx.click(r1, 9); // the button column of a root row
    QVERIFY(!fx.view.tree->isExpanded(r1));
    fx.view.setColumnWidth(0, 220);
    fx.click(r1, 9);
    QVERIFY(fx.view.tree->isExpanded(r1));
    QCOMPARE(fx.view.tree->rowOf(child), 2);
}

void ListTreeWidgetTest::ctrlAndShiftClicks() {
    Fixture fx;
    fx.flat(6);
    const int x = 300; // right of column 0, inside the type cell
    fx.click(fx.row(0), x);
    fx.click(fx.row(2), x, Qt::ControlModifier);
    QCOMPARE(fx.selectedRows(), (QList<int>{0, 2}));
    fx.click(fx.row(4), x, Qt::ShiftModifier);
    QCOMPARE(fx.selectedRows(), (QList<int>{2, 3, 4}));
    fx.click(fx.row(0), x, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(fx.selectedRows(), (QList<int>{2, 3, 4, 0, 1}));
    QCOMPARE(fx.view.tree->caret(), fx.row(0));
    QCOMPARE(fx.view.tree->anchor(), fx.row(2));
    // A check box click on a selected row sets every selected row.
    fx.click(fx.row(3), 8);
    for (int r = 0; r < 6; ++r)
        QCOMPARE(fx.view.tree->checkState(fx.row(r)), r == 5 ? int(Unchecked) : int(Checked));
}

void ListTreeWidgetTest::keysMoveSelectAndCheck() {
    Fixture fx;
    fx.flat(30);
    ListTreeCtrl* tree = fx.view.tree;
    fx.click(fx.row(1), 300);
    QTest::keyClick(tree, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(tree, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(fx.selectedRows(), (QList<int>{1, 2, 3}));
    QTest::keyClick(tree, Qt::Key_Left);
    QTest::keyClick(tree, Qt::Key_Right);
    QCOMPARE(fx.selectedRows(), (QList<int>{1, 2, 3}));
    QCOMPARE(tree->caret(), fx.row(3));
    QTest::keyClick(tree, Qt::Key_Space);
    for (int r = 0; r < 5; ++r)
        QCOMPARE(tree->checkState(fx.row(r)), (r >= 1 && r <= 3) ? int(Checked) : int(Unchecked));
    QTest::keyClick(tree, Qt::Key_Space);
    QCOMPARE(tree->checkState(fx.row(2)), int(Unchecked));
    // Page Down moves a page less one and scrolls the caret into view.
    int page = tree->clientPageRows();
    QTest::keyClick(tree, Qt::Key_PageDown);
    QCOMPARE(tree->rowOf(tree->caret()), 3 + page - 1);
    QTest::keyClick(tree, Qt::Key_End);
    QCOMPARE(tree->rowOf(tree->caret()), 29);
    QCOMPARE(tree->verticalScrollBar()->value(), 30 - page);
    // Ctrl scrolls without moving the caret.
    QTest::keyClick(tree, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(tree->verticalScrollBar()->value(), 0);
    QCOMPARE(tree->rowOf(tree->caret()), 29);
}

void ListTreeWidgetTest::rightClickAndNotifications() {
    Fixture fx;
    fx.flat(4);
    QSignalSpy caret(&fx.view, &ListTreeView::caretChanged);
    QSignalSpy menu(&fx.view, &ListTreeView::rightClicked);
    QSignalSpy deleted(&fx.view, &ListTreeView::itemDeleting);
    fx.click(fx.row(0), 300);
    fx.click(fx.row(1), 300, Qt::ControlModifier);
    QTest::mouseClick(fx.view.tree->viewport(), Qt::RightButton, {}, fx.at(fx.row(0), 300));
    QCOMPARE(fx.selectedRows(), (QList<int>{0, 1}));
    QTest::mouseClick(fx.view.tree->viewport(), Qt::RightButton, {}, fx.at(fx.row(3), 300));
    QCOMPARE(fx.selectedRows(), QList<int>{3});
    QTest::mouseClick(fx.view.tree->viewport(), Qt::RightButton, {}, QPoint(300, 300));
    QCOMPARE(menu.count(), 2);
    QCOMPARE(caret.count(), 3);
    QCOMPARE(caret.last().at(3).value<quintptr>(), fx.view.tree->itemData(fx.row(3)));
    fx.view.tree->deleteAllItems();
    QCOMPARE(deleted.count(), 4);
    QCOMPARE(caret.last().at(2).value<ListTreeItem>(), ListTreeItem(nullptr));
    QCOMPARE(deleted.first().at(1).value<quintptr>(), reinterpret_cast<quintptr>(&fx.rows.back()));
}

void ListTreeWidgetTest::cutCellsShowTheirWholeText() {
    Fixture fx;
    const std::string longType = "application/vnd.openxmlformats-officedocument.spreadsheetml";
    ListTreeItem cut = fx.add(nullptr, {"report.xlsx", longType, "1 KB", 1});
    ListTreeItem whole = fx.add(nullptr, {"a.css", "text/css", "1 KB", 2});
    fx.settle();
    fx.view.activateWindow();
    QWidget* viewport = fx.view.tree->viewport();
    auto hover = [&](ListTreeItem item, int x) {
        const QPoint pos = fx.at(item, x);
        QHelpEvent help(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QCoreApplication::sendEvent(viewport, &help);
    };
    hover(cut, 220 + 75);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString::fromStdString(longType));
    // A cell that fits, or another column of the same row, has nothing more to show.
    hover(whole, 220 + 75);
    QTRY_VERIFY(!QToolTip::isVisible());
    hover(cut, 220 + 150 + 40);
    QCoreApplication::processEvents();
    QVERIFY(!QToolTip::isVisible());
}

void ListTreeWidgetTest::headerClickSortsAndShowsArrow() {
    Fixture fx;
    fx.add(nullptr, {"b.css", "text/css", "", 2});
    fx.add(nullptr, {"c.js", "application/javascript", "", 3});
    ListTreeItem a = fx.add(nullptr, {"a.html", "text/html", "", 1});
    fx.add(a, {"z", "", "", 5});
    fx.add(a, {"y", "", "", 4});
    fx.view.tree->expand(a);
    fx.settle();
    ListTreeHeader* header = fx.view.header;
    auto clickHeader = [&](int column) {
        QPoint p(header->sectionViewportPosition(column) + 20, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, p);
    };
    auto arrowUp = [&](int column) {
        QImage img = header->grab().toImage();
        int left = header->sectionViewportPosition(column);
        int mx = (left + left + header->sectionSize(column)) / 2;
        if (dark(img, mx - 2, 3) && !dark(img, mx - 2, 0))
            return 1;
        if (dark(img, mx - 2, 0) && !dark(img, mx - 2, 3))
            return -1;
        return 0;
    };
    QCOMPARE(arrowUp(0), 0);
    clickHeader(0);
    QCOMPARE(fx.view.sortColumn, 0);
    QVERIFY(fx.view.sortAscending);
    QCOMPARE(fx.names(), QStringLiteral("a.html y z b.css c.js"));
    QCOMPARE(arrowUp(0), 1);
    clickHeader(0);
    QVERIFY(!fx.view.sortAscending);
    QCOMPARE(fx.names(), QStringLiteral("c.js b.css a.html z y"));
    QCOMPARE(arrowUp(0), -1);
    clickHeader(3);
    QCOMPARE(fx.view.sortColumn, 3);
    QVERIFY(fx.view.sortAscending);
    QCOMPARE(fx.names(), QStringLiteral("a.html y z b.css c.js"));
    QCOMPARE(arrowUp(0), 0);
    QCOMPARE(arrowUp(3), 1);
}

void ListTreeWidgetTest::headerAndRowsScrollTogether() {
    Fixture fx(300, 200);
    fx.flat(3);
    ListTreeView& v = fx.view;
    const int sb = v.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QCOMPARE(v.totalWidth, sb + 220 + 150 + 80 + 60);
    QVERIFY(v.hScrollBar->isVisible());
    QVERIFY(!v.fillerHeader->isVisible());
    v.hScrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(v.hScrollBar->value(), 15);
    QCOMPARE(v.header->x(), -15);
    QCOMPARE(v.tree->x(), -15);
    v.hScrollBar->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(v.tree->x(), -(v.totalWidth - 300));
    QCOMPARE(v.tree->geometry().right(), 299);
    // Widening a column keeps the totals and the bar in step.
    v.setColumnWidth(1, 250);
    QCOMPARE(v.totalWidth, sb + 220 + 250 + 80 + 60);
    QCOMPARE(v.hScrollBar->maximum(), v.totalWidth - 300);
    // Enough rows for a vertical bar: the header stops short of it and the filler sits above.
    for (int i = 0; i < 20; ++i)
        fx.add(nullptr, {"more", "", "", 100 + i});
    fx.settle();
    QVERIFY(v.tree->verticalScrollBar()->isVisible());
    QVERIFY(v.fillerHeader->isVisible());
    QCOMPARE(v.header->geometry().right(), 300 - sb - 1);
    QCOMPARE(v.fillerHeader->geometry(), QRect(300 - sb, 0, sb, v.header->height()));
    // Wide enough again: no bar, no shift.
    v.resize(1200, 200);
    QVERIFY(!v.hScrollBar->isVisible());
    QCOMPARE(v.tree->x(), 0);
}

void ListTreeWidgetTest::selectedRowColoursFollowFocus() {
    Fixture fx;
    fx.flat(3);
    QVERIFY(QTest::qWaitForWindowExposed(&fx.view));
    fx.view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&fx.view));
    fx.click(fx.row(1), 300);
    QVERIFY(fx.view.tree->hasFocus());
    auto colourAt = [&](int row) {
        QImage img = fx.view.tree->viewport()->grab().toImage();
        QRect r = fx.view.tree->itemRect(fx.row(row), false);
        return QColor(img.pixel(500, r.top() + 2)); // inside the size cell's background
    };
    QCOMPARE(colourAt(1), fx.view.tree->palette().color(QPalette::Highlight));
    QCOMPARE(colourAt(0), fx.view.tree->palette().color(QPalette::Base));
    fx.view.tree->clearFocus();
    QCOMPARE(colourAt(1), QColor(204, 206, 219));
}

void ListTreeWidgetTest::render() {
    // Set TIDEWELL_SHOT_DIR to look at the control as users see it.
    QString dir = qEnvironmentVariable("TIDEWELL_SHOT_DIR");
    if (dir.isEmpty())
        QSKIP("no TIDEWELL_SHOT_DIR");
    Fixture fx(760, 330);
    ListTreeCtrl* t = fx.view.tree;
    t->setTreeStyle(ListTreeCtrl::HasButtons | ListTreeCtrl::HasLines | ListTreeCtrl::LinesAtRoot);
    fx.view.setAutoCheck(true);
    ListTreeItem host = fx.add(nullptr, {"www.例子.cn", "", "", 0}, 0);
    ListTreeItem img = fx.add(host, {"图片", "", "", 0}, 0);
    fx.add(img, {"猫咪.png", "image/png", "37 KB", 4}, 2);
    fx.add(img, {"横幅_2024.jpg", "image/jpeg", "1,204 KB", 5}, 3);
    ListTreeItem page = fx.add(host, {"首页.html", "text/html", "12 KB", 1}, 2);
    fx.add(host, {"统计.js", "application/javascript", "0 KB", 3}, 4);
    ListTreeItem group = fx.add(nullptr, {"文本", "", "", 0}, 5);
    fx.add(group, {"style.css", "text/css", "8 KB", 2}, 2);
    fx.add(group,
           {"a-very-long-file-name-that-does-not-fit-the-column.txt", "text/plain", "3 KB", 6}, 2);
    fx.add(nullptr, {"api.example.com", "", "", 0}, 0);
    t->ExpandAll(nullptr);
    fx.view.sortColumn = 3;
    fx.view.SortChildren(nullptr);
    t->SetCheckState(page, Checked);
    t->UpdateAncestorChecks(page, true);
    t->SetCheckState(fx.row(8), Checked);
    t->UpdateAncestorChecks(fx.row(8), true);
    fx.settle();
    QVERIFY(QTest::qWaitForWindowExposed(&fx.view));
    fx.view.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&fx.view));
    fx.click(fx.row(2), 400);
    fx.click(page, 400, Qt::ControlModifier);
    fx.view.grab().save(dir + "/listtree-focused.png");
    t->clearFocus();
    fx.view.grab().save(dir + "/listtree-unfocused.png");
    fx.view.resize(420, 330);
    fx.view.hScrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    fx.view.grab().save(dir + "/listtree-scrolled.png");
}

QTEST_MAIN(ListTreeWidgetTest)
#include "listtree_widget_test.moc"
