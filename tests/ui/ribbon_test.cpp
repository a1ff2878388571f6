// The main ribbon: its elements, commands, enable and check rules, key tips, the absent context
// menu, and the five looks.
#include "resources/CommandIds.h"
#include "ui/shell/ProfileSettings.h"
#include "ui/shell/Ribbon.h"
#include "ui/shell/VisualStyle.h"

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QShortcut>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>
#include <set>

namespace {

// Stands in for the main window: counts the context menus that reach it.
class Frame : public QWidget {
public:
    Frame() {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        ribbon = Ribbon::createMainRibbon(this);
        layout->addWidget(ribbon);
        layout->addStretch();
        resize(900, 300);
    }
    Ribbon* ribbon;
    int contextMenus = 0;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override {
        ++contextMenus;
        event->accept();
    }
};

// What the document, the view and the frame would answer.
struct State {
    bool capturing = false;
    bool preventCache = false;
    int arrangement = ID_RESOURCES_LIST_VIEW_BY_ORDER;

    void operator()(int id, bool& enabled, bool& checked) const {
        switch (id) {
        case ID_CATCH_START:
            enabled = !capturing;
            break;
        case ID_CATCH_STOP:
            enabled = capturing;
            break;
        case ID_PREVENT_CACHE:
            checked = preventCache;
            break;
        default:
            if (id >= ID_RESOURCES_LIST_VIEW_BY_ORDER && id <= ID_RESOURCES_LIST_VIEW_BY_REFERRER)
                checked = id == arrangement;
            else if (isVisualStyle(id))
                checked = id == currentVisualStyle();
        }
    }
};

} // namespace

class RibbonTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void elementsFromTheTables_data();
    void elementsFromTheTables();
    void tooltipsComeFromTheCommandDescriptions();
    void clickingSendsTheCommand();
    void enableAndCheckRulesFollowTheProvider();
    void keyTipsReachEveryCommand_data();
    void keyTipsReachEveryCommand();
    void keyTipsOpenMenusAndLeaveOnEscape();
    void narrowRibbonFoldsPanels();
    void noContextMenu();
    void menuButtonIsNotLeftLit();
    void styleSwitchIsStoredAndRestored();
    void fiveDistinctLooks();

private:
    void saveWindowPictures(const QString& dir);
    QTemporaryDir home_;
};

void RibbonTest::initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
    applyVisualStyle(kLookDefault);
}

void RibbonTest::elementsFromTheTables_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("keyTip");
    QTest::addColumn<bool>("isButton");
    const struct {
        int id;
        const char* text;
        const char* keyTip;
        bool isButton;
    } rows[] = {
        {ID_CATCH_START, "开始", "K", true},
        {ID_CATCH_STOP, "停止", "T", true},
        {ID_CATCH_OPTIONS, "选项", "O", true},
        {ID_PREVENT_CACHE, "阻止客服端缓存资源", "P", false},
        {ID_HTTPS_DECRYPT, "解密 HTTPS", "H", false},
        {ID_HTTPS_OPEN_BROWSER, "打开浏览器", "B", false},
        {ID_HTTPS_PASS_THROUGH, "不解密的主机…", "N", false},
        {ID_HTTPS_INSTALL_CA, "安装根证书…", "I", false},
        {ID_HTTPS_REMOVE_CA, "移除根证书", "R", false},
        {ID_HTTPS_EXPORT_CA, "导出根证书…", "E", false},
        {ID_RESOURCES_LIST_VIEW_MODE, "列表", "L", true},
        {ID_RESOURCES_LIST_VIEW_BY_ORDER, "按顺序查看", "", false},
        {ID_RESOURCES_LIST_VIEW_BY_TYPE, "按类型查看", "", false},
        {ID_RESOURCES_LIST_VIEW_BY_DIRECTORY, "按目录查看", "", false},
        {ID_RESOURCES_LIST_VIEW_BY_REFERRER, "按引用查看", "", false},
        {ID_RESOURCES_CLEAR, "清空", "Q", true},
        {ID_RESOURCES_EXPORT, "导出", "D", true},
        {ID_RESOURCES_MERGE_EXPORT, "合并导出", "B", true},
        {ID_RESOURCES_EXPORT_HAR, "导出HAR", "R", true},
        {ID_VIEW_WINDOWS, "窗口", "C", true},
        {ID_VIEW_ADDRESS_PARAMETER, "地址参数", "", false},
        {ID_VIEW_REQUEST_HEADER, "请求头", "", false},
        {ID_VIEW_REQUEST_DATA, "请求数据", "", false},
        {ID_VIEW_RESPONSE_HEADER, "响应头", "", false},
        {ID_VIEW_RESPONSE_DATA, "响应数据", "", false},
        {ID_VIEW_RESOURCE_PREVIEW, "预览", "", false},
        {ID_VIEW_APPLOOK_OFF_2007_BLUE, "Office 2007 (蓝色)", "", false},
        {ID_VIEW_APPLOOK_OFF_2007_BLACK, "Office 2007 (黑色)", "", false},
        {ID_VIEW_APPLOOK_OFF_2007_SILVER, "Office 2007 (银色)", "", false},
        {ID_VIEW_APPLOOK_OFF_2007_AQUA, "Office 2007 (墨绿)", "", false},
        {ID_VIEW_APPLOOK_WINDOWS_7, "Windows 7", "", false},
        {ID_CHECK_UPDATE, "", "G", true},
        {ID_ONLINE_HELP, "", "\\", true},
        {ID_APP_ABOUT, "关于Tidewell", "H", false},
    };
    for (const auto& row : rows) {
        QTest::addRow("%d", row.id) << row.id << QString::fromUtf8(row.text)
                                    << QString::fromUtf8(row.keyTip) << row.isButton;
    }
}

void RibbonTest::elementsFromTheTables() {
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(QString, keyTip);
    QFETCH(bool, isButton);
    Frame frame;
    QAction* action = frame.ribbon->action(id);
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QCOMPARE(frame.ribbon->keyTip(id), keyTip);
    QCOMPARE(frame.ribbon->button(id) != nullptr, isButton);
    QVERIFY(frame.ribbon->commandIds().contains(id));
}

void RibbonTest::tooltipsComeFromTheCommandDescriptions() {
    Frame frame;
    const QString start = frame.ribbon->action(ID_CATCH_START)->toolTip();
    QVERIFY2(start.contains("开始捕捉") && start.contains("<b>开始</b>"), qPrintable(start));
    const QString update = frame.ribbon->button(ID_CHECK_UPDATE)->toolTip();
    QVERIFY2(update.contains("检查更新") && update.contains("检查程序是否有更新"),
             qPrintable(update));
    QVERIFY(frame.ribbon->applicationButton()->toolTip().contains("关于Tidewell"));

    // Every element and menu the tables list, nothing more: the style menu lists the five looks
    // in order, the windows menu the seven panes.
    QCOMPARE(frame.ribbon->menu(0)->actions().size(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(frame.ribbon->menu(0)->actions().at(i), frame.ribbon->action(kLookFirst + i));
    const QList<QAction*> panes = frame.ribbon->menu(ID_VIEW_WINDOWS)->actions();
    const int paneOrder[] = {ID_VIEW_ADDRESS_PARAMETER, ID_VIEW_REQUEST_HEADER,
                             ID_VIEW_REQUEST_DATA,      ID_VIEW_RESPONSE_HEADER,
                             ID_VIEW_RESPONSE_DATA,     ID_VIEW_RESOURCE_PREVIEW,
                             ID_VIEW_WEBSOCKET_MESSAGES};
    QCOMPARE(panes.size(), 7);
    for (int i = 0; i < 7; ++i)
        QCOMPARE(panes.at(i), frame.ribbon->action(paneOrder[i]));
    // 35, and the three language choices of the options menu.
    QCOMPARE(frame.ribbon->commandIds().size(), 38);
}

void RibbonTest::clickingSendsTheCommand() {
    Frame frame;
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy sent(frame.ribbon, &Ribbon::commandTriggered);
    for (int id : {ID_CATCH_START, ID_RESOURCES_CLEAR, ID_RESOURCES_EXPORT, ID_CHECK_UPDATE}) {
        QTest::mouseClick(frame.ribbon->button(id), Qt::LeftButton);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.takeFirst().at(0).toInt(), id);
    }
    QTest::mouseClick(frame.ribbon->applicationButton(), Qt::LeftButton);
    QCOMPARE(sent.takeFirst().at(0).toInt(), int(ID_APP_ABOUT));

    // A menu item sends its own id; the menu button that opened it sends nothing.
    QMenu* windows = frame.ribbon->menu(ID_VIEW_WINDOWS);
    windows->popup(frame.ribbon->mapToGlobal(QPoint(0, frame.ribbon->height())));
    QVERIFY(QTest::qWaitForWindowExposed(windows));
    QAction* preview = frame.ribbon->action(ID_VIEW_RESOURCE_PREVIEW);
    QTest::mouseClick(windows, Qt::LeftButton, {}, windows->actionGeometry(preview).center());
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.takeFirst().at(0).toInt(), int(ID_VIEW_RESOURCE_PREVIEW));
    QVERIFY(!windows->isVisible());
}

void RibbonTest::enableAndCheckRulesFollowTheProvider() {
    Frame frame;
    auto state = std::make_shared<State>();
    frame.ribbon->setStateProvider([state](int id, bool& e, bool& c) { (*state)(id, e, c); });
    QSignalSpy sent(frame.ribbon, &Ribbon::commandTriggered);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));

    QAbstractButton* start = frame.ribbon->button(ID_CATCH_START);
    QAbstractButton* stop = frame.ribbon->button(ID_CATCH_STOP);
    QVERIFY(start->isEnabled());
    QVERIFY(!stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    QCOMPARE(sent.size(), 0);

    // The ribbon follows the state on its own while shown.
    state->capturing = true;
    QTRY_VERIFY(!start->isEnabled());
    QVERIFY(stop->isEnabled());
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(sent.size(), 0);

    // Marks are brought up to date before a menu opens.
    state->preventCache = true;
    state->arrangement = ID_RESOURCES_LIST_VIEW_BY_TYPE;
    QMenu* options = frame.ribbon->menu(ID_CATCH_OPTIONS);
    QMenu* arrangement = frame.ribbon->menu(ID_RESOURCES_LIST_VIEW_MODE);
    arrangement->popup(QPoint(0, 0));
    QVERIFY(frame.ribbon->action(ID_RESOURCES_LIST_VIEW_BY_TYPE)->isChecked());
    QVERIFY(!frame.ribbon->action(ID_RESOURCES_LIST_VIEW_BY_ORDER)->isChecked());
    arrangement->hide();
    options->popup(QPoint(0, 0));
    QVERIFY(frame.ribbon->action(ID_PREVENT_CACHE)->isChecked());
    options->hide();

    // The looks carry one radio mark, on the current one; the panes never a mark.
    applyVisualStyle(kLookOffice2007Silver);
    frame.ribbon->menu(0)->popup(QPoint(0, 0));
    for (int id = kLookFirst; id <= kLookLast; ++id) {
        QAction* look = frame.ribbon->action(id);
        QVERIFY(look->actionGroup() && look->actionGroup()->isExclusive());
        QCOMPARE(look->isChecked(), id == kLookOffice2007Silver);
    }
    frame.ribbon->menu(0)->hide();
    QVERIFY(!frame.ribbon->action(ID_VIEW_RESOURCE_PREVIEW)->isCheckable());
    applyVisualStyle(kLookDefault);
}

void RibbonTest::menuButtonIsNotLeftLit() {
    Frame frame;
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    // The pointer entered the button, the menu took it, and an item far below was chosen: no
    // leave may ever reach the button, yet it must not stay lit.
    QAbstractButton* list = frame.ribbon->button(ID_RESOURCES_LIST_VIEW_MODE);
    QMenu* menu = frame.ribbon->menu(ID_RESOURCES_LIST_VIEW_MODE);
    list->setAttribute(Qt::WA_UnderMouse, true);
    menu->popup(list->mapToGlobal(QPoint(0, list->height())));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QCursor::setPos(frame.mapToGlobal(QPoint(frame.width() - 5, frame.height() - 5)));
    menu->hide();
    QTRY_VERIFY(!list->underMouse());

    // While the pointer is still over it, the button stays lit.
    list->setAttribute(Qt::WA_UnderMouse, true);
    menu->popup(list->mapToGlobal(QPoint(0, list->height())));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QCursor::setPos(list->mapToGlobal(list->rect().center()));
    menu->hide();
    QCoreApplication::processEvents();
    QVERIFY(list->underMouse());
}

void RibbonTest::keyTipsReachEveryCommand_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("id");
    QTest::newRow("start") << "K" << int(ID_CATCH_START);
    QTest::newRow("clear") << "Q" << int(ID_RESOURCES_CLEAR);
    QTest::newRow("export") << "D" << int(ID_RESOURCES_EXPORT);
    QTest::newRow("merge export") << "B" << int(ID_RESOURCES_MERGE_EXPORT);
    QTest::newRow("export HAR") << "R" << int(ID_RESOURCES_EXPORT_HAR);
    QTest::newRow("update") << "G" << int(ID_CHECK_UPDATE);
    QTest::newRow("help") << "\\" << int(ID_ONLINE_HELP);
    QTest::newRow("about") << "H" << int(ID_APP_ABOUT);
    QTest::newRow("lower case") << "q" << int(ID_RESOURCES_CLEAR);
    QTest::newRow("prevent cache") << "OP" << int(ID_PREVENT_CACHE);
    // Menus without tips of their items: the arrows and Enter choose.
    QTest::newRow("arrangement") << "L\x02\x0d" << int(ID_RESOURCES_LIST_VIEW_BY_TYPE);
    QTest::newRow("look") << "S\x02\x02\x02\x0d" << int(ID_VIEW_APPLOOK_OFF_2007_AQUA);
    QTest::newRow("pane") << "C\x0d" << int(ID_VIEW_ADDRESS_PARAMETER);
}

void RibbonTest::keyTipsReachEveryCommand() {
    QFETCH(QString, keys);
    QFETCH(int, id);
    Frame frame;
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy sent(frame.ribbon, &Ribbon::commandTriggered);

    QTest::keyClick(&frame, Qt::Key_Alt);
    QVERIFY(frame.ribbon->keyTipsShown());
    for (QChar key : keys) {
        QWidget* target = QApplication::activePopupWidget();
        if (!target)
            target = &frame;
        if (key == QChar(0x02))
            QTest::keyClick(target, Qt::Key_Down);
        else if (key == QChar(0x0d))
            QTest::keyClick(target, Qt::Key_Return);
        else
            QTest::keyClick(target, key.toLatin1());
    }
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).at(0).toInt(), id);
    QVERIFY(!frame.ribbon->keyTipsShown());
    QVERIFY(!QApplication::activePopupWidget());
    if (id == ID_VIEW_APPLOOK_OFF_2007_AQUA)
        applyVisualStyle(kLookDefault);
}

void RibbonTest::keyTipsOpenMenusAndLeaveOnEscape() {
    Frame frame;
    State state;
    frame.ribbon->setStateProvider(state);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QSignalSpy sent(frame.ribbon, &Ribbon::commandTriggered);

    // Alt again and Escape both leave; keys typed meanwhile reach no command.
    QTest::keyClick(&frame, Qt::Key_Alt);
    QVERIFY(frame.ribbon->keyTipsShown());
    QTest::keyClick(&frame, Qt::Key_Alt);
    QVERIFY(!frame.ribbon->keyTipsShown());
    QTest::keyClick(&frame, Qt::Key_Alt);
    QTest::keyClick(&frame, 'Z');
    QVERIFY(frame.ribbon->keyTipsShown());
    QTest::keyClick(&frame, Qt::Key_Escape);
    QVERIFY(!frame.ribbon->keyTipsShown());
    QTest::keyClick(&frame, 'K');
    QCOMPARE(sent.size(), 0);

    // Alt held with another key is a shortcut, not the key tips.
    QTest::keyPress(&frame, Qt::Key_Alt);
    QTest::keyClick(&frame, Qt::Key_F, Qt::AltModifier);
    QTest::keyRelease(&frame, Qt::Key_Alt);
    QVERIFY(!frame.ribbon->keyTipsShown());

    // While the tips are up, a window shortcut on the same letter stays quiet.
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Q), &frame);
    QSignalSpy fired(shortcut, &QShortcut::activated);
    QTest::keyClick(&frame, Qt::Key_Alt);
    QTest::keyClick(&frame, 'Q');
    QCOMPARE(fired.size(), 0);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.takeFirst().at(0).toInt(), int(ID_RESOURCES_CLEAR));
    delete shortcut;

    // A disabled element's tip does nothing.
    QTest::keyClick(&frame, Qt::Key_Alt);
    QTest::keyClick(&frame, 'T');
    QCOMPARE(sent.size(), 0);
    QTest::keyClick(&frame, Qt::Key_Escape);

    // The options menu opens from its tip and shows its item's tip; Escape closes it.
    QTest::keyClick(&frame, Qt::Key_Alt);
    QTest::keyClick(&frame, 'O');
    QMenu* options = frame.ribbon->menu(ID_CATCH_OPTIONS);
    QVERIFY(options->isVisible());
    QVERIFY(frame.ribbon->keyTipsShown());
    QTest::keyClick(options, Qt::Key_Escape);
    QVERIFY(!options->isVisible());
    QVERIFY(!frame.ribbon->keyTipsShown());
    QCOMPARE(sent.size(), 0);
}

void RibbonTest::narrowRibbonFoldsPanels() {
    Frame frame;
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    for (int p = 0; p < 3; ++p)
        QVERIFY(!frame.ribbon->isPanelCollapsed(p));
    QVERIFY(frame.ribbon->button(ID_CATCH_START)->isVisible());

    // The last panels fold first; one whose single button is no wider than a folded one
    // ("视图") stays as it is.
    frame.resize(frame.ribbon->sizeHint().width() - 20, frame.height());
    QTRY_VERIFY(frame.ribbon->isPanelCollapsed(1));
    QVERIFY(!frame.ribbon->isPanelCollapsed(0));
    QVERIFY(!frame.ribbon->isPanelCollapsed(2));
    QVERIFY(!frame.ribbon->button(ID_RESOURCES_CLEAR)->isVisible());
    frame.resize(150, frame.height());
    QTRY_VERIFY(frame.ribbon->isPanelCollapsed(0));
    QVERIFY(!frame.ribbon->button(ID_CATCH_START)->isVisible());

    // A folded panel is reached by its own tip, its commands by theirs.
    QSignalSpy sent(frame.ribbon, &Ribbon::commandTriggered);
    QTest::keyClick(&frame, Qt::Key_Alt);
    QTest::keyClick(&frame, 'D');
    QMenu* folded = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(folded);
    QVERIFY(folded->actions().contains(frame.ribbon->action(ID_CATCH_STOP)));
    QTest::keyClick(folded, 'K');
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).at(0).toInt(), int(ID_CATCH_START));
    QVERIFY(!QApplication::activePopupWidget());

    // Wide again, every element is back in place.
    frame.resize(frame.ribbon->sizeHint().width() + 10, frame.height());
    QTRY_VERIFY(!frame.ribbon->isPanelCollapsed(0));
    QVERIFY(!frame.ribbon->isPanelCollapsed(2));
    QVERIFY(frame.ribbon->button(ID_CATCH_START)->isVisible());
}

void RibbonTest::noContextMenu() {
    Frame frame;
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QWindow* window = frame.windowHandle();
    auto rightClick = [&](QWidget* widget, QPoint at) {
        const QPoint inWindow = widget->mapTo(&frame, at);
        QTest::mousePress(window, Qt::RightButton, {}, inWindow);
        QTest::mouseRelease(window, Qt::RightButton, {}, inWindow);
    };
    // The frame below the ribbon does get one (so the clicks do arrive)...
    rightClick(&frame, QPoint(frame.width() / 2, frame.height() - 10));
    QCOMPARE(frame.contextMenus, 1);
    // ...the ribbon, its buttons and its tab row pass none on and open none.
    rightClick(frame.ribbon, QPoint(frame.ribbon->width() / 2, 12));
    rightClick(frame.ribbon, QPoint(frame.ribbon->width() - 20, frame.ribbon->height() - 8));
    rightClick(frame.ribbon->button(ID_CATCH_START), QPoint(10, 10));
    rightClick(frame.ribbon->button(ID_VIEW_WINDOWS), QPoint(10, 10));
    rightClick(frame.ribbon->applicationButton(), QPoint(10, 10));
    QCOMPARE(frame.contextMenus, 1);
    QVERIFY(!QApplication::activePopupWidget());
}

void RibbonTest::styleSwitchIsStoredAndRestored() {
    ProfileSettings profile;
    QCOMPARE(savedVisualStyle(profile), int(kLookDefault));

    applyVisualStyle(kLookDefault);
    const QColor blueWindow = QApplication::palette().color(QPalette::Window);
    QVERIFY(switchVisualStyle(kLookWindows7, profile));
    QCOMPARE(currentVisualStyle(), int(kLookWindows7));
    QCOMPARE(profile.readInt("", kApplicationLookValue, 0), int(kLookWindows7));
    QVERIFY(QApplication::palette().color(QPalette::Window) != blueWindow);

    // The next start comes back in the stored look.
    applyVisualStyle(kLookDefault);
    QCOMPARE(restoreVisualStyle(profile), int(kLookWindows7));
    QCOMPARE(currentVisualStyle(), int(kLookWindows7));

    // An unknown id changes nothing and is not stored; an unknown stored id means the default.
    QVERIFY(!switchVisualStyle(205, profile));
    QCOMPARE(currentVisualStyle(), int(kLookWindows7));
    QCOMPARE(profile.readInt("", kApplicationLookValue, 0), int(kLookWindows7));
    profile.writeInt("", kApplicationLookValue, 300);
    QCOMPARE(restoreVisualStyle(profile), int(kLookDefault));
    QCOMPARE(currentVisualStyle(), int(kLookDefault));

    // Chosen from the open style menu, the whole application restyles under the menu's feet.
    Frame frame;
    connect(frame.ribbon, &Ribbon::commandTriggered, frame.ribbon,
            [&profile](int id) { switchVisualStyle(id, profile); });
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QMenu* looks = frame.ribbon->menu(0);
    for (int id : {int(kLookOffice2007Aqua), int(kLookOffice2007Black)}) {
        looks->popup(frame.ribbon->mapToGlobal(QPoint(0, frame.ribbon->height())));
        QVERIFY(QTest::qWaitForWindowExposed(looks));
        QTest::mouseClick(looks, Qt::LeftButton, {},
                          looks->actionGeometry(frame.ribbon->action(id)).center());
        QCOMPARE(currentVisualStyle(), id);
        QCOMPARE(profile.readInt("", kApplicationLookValue, 0), id);
    }
    QVERIFY(applyVisualStyle(kLookDefault));
}

void RibbonTest::fiveDistinctLooks() {
    Frame frame;
    State state;
    state.preventCache = true;
    frame.ribbon->setStateProvider(state);
    frame.resize(760, 200);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const QByteArray shots = qgetenv("TIDEWELL_RIBBON_SHOTS");
    std::set<QRgb> windows;
    QList<QImage> pictures;
    for (int id = kLookFirst; id <= kLookLast; ++id) {
        QVERIFY(applyVisualStyle(id));
        windows.insert(QApplication::palette().color(QPalette::Window).rgb());
        const QImage picture = frame.ribbon->grab().toImage();
        if (!shots.isEmpty() && id == kLookFirst) {
            frame.resize(260, frame.height());
            QTRY_VERIFY(frame.ribbon->isPanelCollapsed(0));
            frame.ribbon->grab().save(QString::fromLocal8Bit(shots) + "/ribbon-folded.png");
            frame.resize(760, frame.height());
            QTRY_VERIFY(!frame.ribbon->isPanelCollapsed(0));
        }
        for (const QImage& other : std::as_const(pictures))
            QVERIFY(picture != other);
        pictures << picture;
        // Lists and panes stay readable: dark text on a light base.
        const QPalette palette = QApplication::palette();
        QVERIFY(palette.color(QPalette::Base).lightness() -
                    palette.color(QPalette::Text).lightness() >
                150);
        QVERIFY(palette.color(QPalette::Highlight).lightness() -
                    palette.color(QPalette::HighlightedText).lightness() <
                -60);
        if (!shots.isEmpty()) {
            // Pictures to look at: the ribbon, its key tips, and its menus.
            const QString dir = QString::fromLocal8Bit(shots);
            picture.save(dir + QStringLiteral("/ribbon-%1.png").arg(id));
            QWidget* hovered = frame.ribbon->button(ID_RESOURCES_EXPORT);
            QTest::mouseMove(frame.windowHandle(), hovered->mapTo(&frame, QPoint(20, 20)));
            QTest::mousePress(
                frame.windowHandle(), Qt::LeftButton, {},
                frame.ribbon->button(ID_RESOURCES_CLEAR)->mapTo(&frame, QPoint(8, 8)));
            frame.ribbon->grab().save(dir + QStringLiteral("/ribbon-%1-hover.png").arg(id));
            QTest::mouseRelease(frame.windowHandle(), Qt::LeftButton, {}, QPoint(700, 190));
            QTest::mouseMove(frame.windowHandle(), QPoint(700, 190));
            frame.ribbon->showKeyTips(true);
            frame.ribbon->grab().save(dir + QStringLiteral("/ribbon-%1-keytips.png").arg(id));
            frame.ribbon->showKeyTips(false);
            for (int menu : {0, int(ID_RESOURCES_LIST_VIEW_MODE), int(ID_CATCH_OPTIONS)}) {
                frame.ribbon->menu(menu)->popup(QPoint(0, 0));
                frame.ribbon->menu(menu)->grab().save(
                    dir + QStringLiteral("/ribbon-%1-menu-%2.png").arg(id).arg(menu));
                frame.ribbon->menu(menu)->hide();
            }
        }
    }
    QCOMPARE(windows.size(), std::size_t(5));
    if (!shots.isEmpty())
        saveWindowPictures(QString::fromLocal8Bit(shots));
    applyVisualStyle(kLookDefault);
}

// The ribbon on a main window with a list, panes and a status bar, in every look.
void RibbonTest::saveWindowPictures(const QString& dir) {
    QMainWindow window;
    window.setMenuWidget(Ribbon::createMainRibbon(&window));
    auto* list = new QTreeWidget(&window);
    list->setHeaderLabels({"资源名", "类型", "大小", "状态"});
    for (int i = 0; i < 8; ++i) {
        auto* row = new QTreeWidgetItem(
            list, {QStringLiteral("resource-%1.js").arg(i), "text/javascript", "12 KB", "完成"});
        row->setSelected(i == 2);
    }
    window.setCentralWidget(list);
    QDockWidget* first = nullptr;
    for (const char* title : {"地址参数", "请求头", "请求数据", "响应头", "响应数据"}) {
        auto* pane = new QDockWidget(QString::fromUtf8(title), &window);
        pane->setWidget(new QTextEdit(&window));
        window.addDockWidget(Qt::BottomDockWidgetArea, pane);
        if (first)
            window.tabifyDockWidget(first, pane);
        else
            first = pane;
    }
    auto* preview = new QDockWidget("预览", &window);
    preview->setWidget(new QLabel("预览", &window));
    window.addDockWidget(Qt::BottomDockWidgetArea, preview);
    window.splitDockWidget(first, preview, Qt::Horizontal);
    first->raise();
    window.statusBar()->addWidget(new QLabel("空闲"), 1);
    window.resize(900, 560);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int id = kLookFirst; id <= kLookLast; ++id) {
        applyVisualStyle(id);
        window.grab().save(dir + QStringLiteral("/window-%1.png").arg(id));
    }
}

QTEST_MAIN(RibbonTest)
#include "ribbon_test.moc"
