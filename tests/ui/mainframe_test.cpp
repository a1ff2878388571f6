// The main frame with a real document: pane layout and pane commands, the
// layout kept across runs, the status bar, capturing through the commands
// (and what it does to the desktop's proxy settings), and the questions.
#include "StubService.h"
#include "engine/HttpMessageHeader.h"
#include "engine/HttpProxy.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "support/StoredCaptures.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"
#include "ui/browser/ResourceListView.h"
#include "ui/panes/BinaryView.h"
#include "ui/panes/DataView.h"
#include "ui/panes/DockablePane.h"
#include "ui/panes/HeaderListPane.h"
#include "ui/panes/ResourcePreviewView.h"
#include "ui/shell/AutoUpdate.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/ProfileSettings.h"
#include "ui/shell/Ribbon.h"
#include "ui/shell/ShellDocumentUi.h"
#include "ui/shell/UiEventDelivery.h"
#include "ui/shell/VisualStyle.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// The application around one frame: its document (cache folder prepared,
// earlier captures loaded) and the frame showing it.
struct Program {
    Program() {
        document = std::make_unique<Document>(ui, delivery, profile);
        frame = std::make_unique<MainFrame>(document.get());
        ui.setWindow(frame.get());
        if (!document->newDocument())
            qFatal("no cache folder");
    }
    ~Program() {
        if (frame)
            frame->closeDocument(false);
        ui.setWindow(nullptr);
        frame.reset();
    }
    void show() {
        frame->resize(1100, 750);
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    }
    // One finished exchange, listed as the capture filter lists it.
    HttpResource* addCapture() {
        auto* resource = new HttpResource(document.get());
        HttpRequestHeader request;
        HttpResponseHeader response;
        const std::string requestBlock =
            "GET http://127.0.0.1/a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        const std::string responseBlock = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
        if (!resource->begin(document->takeSequenceNumber()) ||
            !parseRequestHeader(requestBlock.data(), int(requestBlock.size()), request) ||
            !resource->writeRequestHeader(request) ||
            !parseResponseHeader(responseBlock.data(), int(responseBlock.size()), response) ||
            !resource->writeResponseHeader(response) || !resource->writeData("ok", 2) ||
            !resource->finish())
            qFatal("cannot build a capture");
        resource->receivedSize = 2;
        document->addResource(resource);
        document->notify(DocumentEvent::ResourceAdded, resource, true);
        return resource;
    }

    UiEventDelivery delivery;
    ShellDocumentUi ui;
    ProfileSettings profile;
    std::unique_ptr<Document> document;
    std::unique_ptr<MainFrame> frame;
};

// Answers the next message box with `button` and keeps its text.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button) {
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer_.stop();
            text = box->text();
            buttons = box->standardButtons();
            box->button(button)->click();
        });
        timer_.start(5);
    }
    QString text;
    QMessageBox::StandardButtons buttons;

private:
    QTimer timer_;
};

QTabBar* paneTabs(QMainWindow& frame) {
    for (QTabBar* bar : frame.findChildren<QTabBar*>()) {
        if (bar->isVisible() && bar->count() > 1)
            return bar;
    }
    return nullptr;
}

QStringList tabTexts(QTabBar* bar) {
    QStringList texts;
    for (int i = 0; bar && i < bar->count(); ++i)
        texts << bar->tabText(i);
    return texts;
}

QString frontTab(QMainWindow& frame) {
    QTabBar* bar = paneTabs(frame);
    return bar ? bar->tabText(bar->currentIndex()) : QString();
}

bool sameSettings(const ProxySettings& a, const ProxySettings& b) {
    return a.proxyEnable == b.proxyEnable && a.proxyServer == b.proxyServer &&
           a.proxyOverride == b.proxyOverride && a.proxyMode == b.proxyMode &&
           a.autoConfigUrl == b.autoConfigUrl && a.unusedPorts == b.unusedPorts;
}

} // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void panesAreCreatedInOrderAndDockedAtTheBottom();
    void paneCommandsShowAndActivate();
    void layoutIsKeptForTheNextRun();
    void statusBarFollowsCapturing();
    void failedStartIsShownAndStaysIdle();
    void capturingRedirectsAndRestoresTheDesktopSettings_data();
    void capturingRedirectsAndRestoresTheDesktopSettings();
    void listCommandsKeysAndPanes();
    void smallWindowKeepsTheListAndPanesTheirSize();
    void chosenWhileLoadingShownOnceComplete();
    void ribbonCommandsReachTheirHandlers();
    void ribbonExportWritesTheCheckedResources();
    void clearAsksFirst();
    void exitQuestion_data();
    void exitQuestion();
    void secondInstanceBringsTheWindowUp();
    void keysComeBackAfterADialog();
    void availableUpdateIsOffered();
};

void MainFrameTest::init() {
    // Each test starts from the first-run layout and an empty cache.
    SettingsFile().deleteKey(ProfileSettings::sectionKey(MainFrame::kLayoutSection));
    std::string folder;
    if (CacheFolder::findCacheFolder(folder))
        QDir(QString::fromStdString(folder)).removeRecursively();
}

void MainFrameTest::panesAreCreatedInOrderAndDockedAtTheBottom() {
    Program program;
    MainFrame& frame = *program.frame;
    program.show();

    QStringList titles;
    for (DockablePane* pane : frame.panes())
        titles << pane->windowTitle();
    QCOMPARE(titles, QStringList({"地址参数", "请求头", "请求数据", "响应头", "响应数据", "预览",
                                  "WebSocket 消息"}));
    const int ids[] = {32807, 32802, 32803, 32804, 32805, 32806, 32808};
    for (std::size_t i = 0; i < frame.panes().size(); ++i) {
        QCOMPARE(frame.pane(ids[i]), frame.panes()[i]);
        QVERIFY(!frame.panes()[i]->objectName().isEmpty());
        QCOMPARE(frame.dockWidgetArea(frame.panes()[i]), Qt::BottomDockWidgetArea);
        QVERIFY(frame.panes()[i]->isVisible());
    }

    QCOMPARE(tabTexts(paneTabs(frame)), QStringList({"地址参数", "请求头", "请求数据", "响应头",
                                                     "响应数据", "WebSocket 消息"}));
    QCOMPARE(frontTab(frame), QString("地址参数"));
    DockablePane* preview = frame.pane(ID_VIEW_RESOURCE_PREVIEW);
    DockablePane* address = frame.pane(ID_VIEW_ADDRESS_PARAMETER);
    QVERIFY(frame.tabifiedDockWidgets(preview).isEmpty());
    QVERIFY(preview->geometry().left() > address->geometry().right());
    QCOMPARE(preview->geometry().top(), address->geometry().top());
    // The list sits above the panes.
    QVERIFY(frame.centralWidget()->geometry().bottom() < address->geometry().top());
    QCOMPARE(frame.objectName(), QString("Merovex.HttpSnagger.MainFrame"));
}

void MainFrameTest::paneCommandsShowAndActivate() {
    Program program;
    MainFrame& frame = *program.frame;
    program.show();

    // A tab behind others comes to the front.
    QVERIFY(frame.onCommand(ID_VIEW_RESPONSE_DATA));
    QCOMPARE(frontTab(frame), QString("响应数据"));

    // A closed pane comes back where it was docked.
    DockablePane* preview = frame.pane(ID_VIEW_RESOURCE_PREVIEW);
    DockablePane* address = frame.pane(ID_VIEW_ADDRESS_PARAMETER);
    preview->close();
    QVERIFY(preview->isHidden());
    QVERIFY(frame.onCommand(ID_VIEW_RESOURCE_PREVIEW));
    QVERIFY(preview->isVisible());
    QCOMPARE(frame.dockWidgetArea(preview), Qt::BottomDockWidgetArea);
    QVERIFY(!preview->isFloating());
    QTRY_VERIFY(preview->geometry().left() > address->geometry().right());

    // A closed tab comes back into its group; a visible one stays visible.
    DockablePane* requestHeader = frame.pane(ID_VIEW_REQUEST_HEADER);
    requestHeader->close();
    QTRY_VERIFY(!tabTexts(paneTabs(frame)).contains("请求头"));
    QVERIFY(frame.onCommand(ID_VIEW_REQUEST_HEADER));
    QTRY_VERIFY(tabTexts(paneTabs(frame)).contains("请求头"));
    QCOMPARE(frontTab(frame), QString("请求头"));
    QVERIFY(frame.onCommand(ID_VIEW_REQUEST_HEADER));
    QVERIFY(requestHeader->isVisible());

    // The menu button itself does nothing; pane commands are never checked.
    QVERIFY(frame.onCommand(ID_VIEW_WINDOWS));
    bool enabled = false;
    bool checked = true;
    frame.commandState(ID_VIEW_REQUEST_HEADER, enabled, checked);
    QVERIFY(enabled);
    QVERIFY(!checked);
}

void MainFrameTest::layoutIsKeptForTheNextRun() {
    QSize previewSize;
    int bottomHeight = 0;
    {
        Program first;
        first.show();
        MainFrame& frame = *first.frame;
        frame.pane(ID_VIEW_RESPONSE_DATA)->close();
        frame.addDockWidget(Qt::LeftDockWidgetArea, frame.pane(ID_VIEW_RESOURCE_PREVIEW));
        frame.onCommand(ID_VIEW_RESPONSE_HEADER);
        frame.resizeDocks({frame.pane(ID_VIEW_RESOURCE_PREVIEW)}, {260}, Qt::Horizontal);
        frame.resizeDocks({frame.pane(ID_VIEW_ADDRESS_PARAMETER)}, {210}, Qt::Vertical);
        QTRY_COMPARE(frame.pane(ID_VIEW_RESOURCE_PREVIEW)->width(), 260);
        previewSize = frame.pane(ID_VIEW_RESOURCE_PREVIEW)->size();
        bottomHeight = frame.pane(ID_VIEW_RESPONSE_HEADER)->height();
    }
    Program second;
    second.show();
    MainFrame& frame = *second.frame;
    // The panes come back at the sizes they were left at, not squeezed into the size
    // the window had before it was shown.
    QTRY_COMPARE(frame.pane(ID_VIEW_RESOURCE_PREVIEW)->size(), previewSize);
    QCOMPARE(frame.pane(ID_VIEW_RESPONSE_HEADER)->height(), bottomHeight);
    QVERIFY(frame.pane(ID_VIEW_RESPONSE_DATA)->isHidden());
    QCOMPARE(frame.dockWidgetArea(frame.pane(ID_VIEW_RESOURCE_PREVIEW)), Qt::LeftDockWidgetArea);
    QCOMPARE(tabTexts(paneTabs(frame)),
             QStringList({"地址参数", "请求头", "请求数据", "响应头", "WebSocket 消息"}));
    QCOMPARE(frontTab(frame), QString("响应头"));

    // A layout that cannot be read leaves the first-run one.
    second.frame.reset();
    SettingsFile().writeBinary(ProfileSettings::sectionKey(MainFrame::kLayoutSection),
                               MainFrame::kLayoutValue, "not a layout");
    MainFrame third(nullptr);
    third.resize(1100, 750);
    third.show();
    QVERIFY(QTest::qWaitForWindowExposed(&third));
    QCOMPARE(third.dockWidgetArea(third.pane(ID_VIEW_RESOURCE_PREVIEW)), Qt::BottomDockWidgetArea);
    QCOMPARE(tabTexts(paneTabs(third)).size(), 6);
}

void MainFrameTest::statusBarFollowsCapturing() {
    Program program;
    MainFrame& frame = *program.frame;
    QCOMPARE(frame.statusElement()->text(), QString("空闲"));
    QCOMPARE(frame.statusElement()->property("elementId").toInt(), 120);

    QVERIFY(frame.onCommand(ID_CATCH_START));
    QVERIFY(program.document->isCapturing());
    const QString status = frame.statusElement()->text();
    const auto match =
        QRegularExpression("^HTTP代理建立在IP:127\\.0\\.0\\.1,端口:(\\d+)。$").match(status);
    QVERIFY2(match.hasMatch(), qPrintable(status));
    const int port = match.captured(1).toInt();
    QCOMPARE(port, program.document->proxy.port());
    // The port shown is the one listening.
    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    QVERIFY(client.waitForConnected(5000));
    client.abort();

    // A command's prompt does not cover the address.
    QStatusTipEvent prompt(QStringLiteral("开始捕捉"));
    QApplication::sendEvent(&frame, &prompt);
    QVERIFY(frame.statusBar()->currentMessage().isEmpty());

    QVERIFY(frame.onCommand(ID_CATCH_STOP));
    QVERIFY(!program.document->isCapturing());
    QCOMPARE(frame.statusElement()->text(), QString("空闲"));
}

void MainFrameTest::failedStartIsShownAndStaysIdle() {
    // Every port the proxy may take is held by someone else. The block is
    // looked for below the ephemeral range, where client sockets of tests
    // running alongside cannot take ports from under it.
    std::vector<std::unique_ptr<QTcpServer>> holders;
    int first = 0;
    for (int base = 20000; base < 32000 && !first; base += HttpProxy::kPortSearchLength) {
        holders.clear();
        for (int port = base; port < base + HttpProxy::kPortSearchLength; ++port) {
            auto holder = std::make_unique<QTcpServer>();
            if (!holder->listen(QHostAddress::LocalHost, quint16(port)))
                break;
            holders.push_back(std::move(holder));
        }
        if (int(holders.size()) == HttpProxy::kPortSearchLength)
            first = base;
    }
    QVERIFY(first);
    ProxySettings before;
    QVERIFY(before.read(ProxySettings::kSystemKey));

    Program program;
    program.document->proxy.configuredPort = first;
    BoxAnswerer ok(QMessageBox::Ok);
    QVERIFY(program.frame->onCommand(ID_CATCH_START));
    QCOMPARE(ok.text, QString::fromStdString(errorText(kErrorNoFreePort)));
    QCOMPARE(ok.buttons, QMessageBox::Ok);
    QVERIFY(!program.document->isCapturing());
    QCOMPARE(program.frame->statusElement()->text(), QString("空闲"));
    QVERIFY(program.frame->ribbon()->action(ID_CATCH_START)->isEnabled());
    ProxySettings after;
    QVERIFY(after.read(ProxySettings::kSystemKey));
    QVERIFY(sameSettings(after, before));
}

void MainFrameTest::capturingRedirectsAndRestoresTheDesktopSettings_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("bypass");
    QTest::addColumn<QString>("autoConfig");
    QTest::newRow("no proxy") << "none"
                              << ""
                              << "localhost"
                              << "";
    QTest::newRow("upstream proxy") << "manual"
                                    << "http=127.0.0.1:3128;https=127.0.0.1:3129"
                                    << "localhost;*.local"
                                    << "";
    QTest::newRow("automatic") << "auto"
                               << ""
                               << ""
                               << "http://127.0.0.1:9/proxy.pac";
}

void MainFrameTest::capturingRedirectsAndRestoresTheDesktopSettings() {
    QFETCH(QString, mode);
    QFETCH(QString, server);
    QFETCH(QString, bypass);
    QFETCH(QString, autoConfig);
    ProxySettings user;
    user.proxyMode = mode.toStdString();
    user.proxyEnable = mode == "manual";
    user.proxyServer = server.toStdString();
    user.proxyOverride = bypass.toStdString();
    user.autoConfigUrl = autoConfig.toStdString();
    user.parseProxyServer();
    QVERIFY(user.apply());
    ProxySettings before;
    QVERIFY(before.read(ProxySettings::kSystemKey));

    Program program;
    MainFrame& frame = *program.frame;
    bool enabled = false;
    bool checked = false;
    frame.commandState(ID_CATCH_START, enabled, checked);
    QVERIFY(enabled);
    frame.commandState(ID_CATCH_STOP, enabled, checked);
    QVERIFY(!enabled);

    // As the user does it: through the ribbon's buttons.
    QVERIFY(frame.ribbon()->action(ID_CATCH_START)->isEnabled());
    QVERIFY(!frame.ribbon()->action(ID_CATCH_STOP)->isEnabled());
    frame.ribbon()->action(ID_CATCH_START)->trigger();
    QVERIFY(program.document->isCapturing());
    QVERIFY(!frame.ribbon()->action(ID_CATCH_START)->isEnabled());
    QVERIFY(frame.ribbon()->action(ID_CATCH_STOP)->isEnabled());
    ProxySettings during;
    QVERIFY(during.read(ProxySettings::kSystemKey));
    QVERIFY(during.proxyEnable);
    std::string local;
    QVERIFY(during.upstreamServer(local));
    QCOMPARE(QString::fromStdString(local),
             QString("127.0.0.1:%1").arg(program.document->proxy.port()));
    frame.commandState(ID_CATCH_START, enabled, checked);
    QVERIFY(!enabled);
    frame.commandState(ID_CATCH_STOP, enabled, checked);
    QVERIFY(enabled);

    frame.ribbon()->action(ID_CATCH_STOP)->trigger();
    QVERIFY(!program.document->isCapturing());
    ProxySettings after;
    QVERIFY(after.read(ProxySettings::kSystemKey));
    QVERIFY(sameSettings(after, before));

    // Closing while capturing gives the settings back as well.
    QVERIFY(frame.onCommand(ID_CATCH_START));
    QVERIFY(frame.closeDocument(false));
    QVERIFY(!program.document->isCapturing());
    QVERIFY(after.read(ProxySettings::kSystemKey));
    QVERIFY(sameSettings(after, before));
}

void MainFrameTest::listCommandsKeysAndPanes() {
    Program program;
    MainFrame& frame = *program.frame;
    program.show();
    ResourceListView& view = *frame.listView();
    QCOMPARE(frame.centralWidget(), &view);

    // The view's own commands reach it first, and it tells their state.
    QVERIFY(frame.onCommand(ID_RESOURCES_LIST_VIEW_BY_TYPE));
    QCOMPARE(view.mode(), ByType);
    bool enabled = false;
    bool checked = false;
    frame.commandState(ID_RESOURCES_LIST_VIEW_BY_TYPE, enabled, checked);
    QVERIFY(enabled && checked);
    frame.commandState(ID_RESOURCES_LIST_VIEW_BY_ORDER, enabled, checked);
    QVERIFY(!checked);
    QVERIFY(frame.onCommand(ID_RESOURCES_LIST_VIEW_BY_ORDER));

    // Picking a row shows it in the panes; Ctrl+C copies its address.
    HttpResource* resource = program.addCapture();
    QTRY_VERIFY(resource->listItem);
    auto row = static_cast<ListTreeItem>(resource->listItem);
    view.tree()->SelectItem(row, false);
    view.tree()->setCaret(row);
    QCOMPARE(program.document->currentResource, resource);
    auto* requestHeader = static_cast<HeaderListPane*>(frame.pane(ID_VIEW_REQUEST_HEADER));
    QVERIFY(requestHeader->list()->topLevelItemCount() > 0);

    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    view.tree()->setFocus();
    QApplication::clipboard()->clear();
    QTest::keyClick(view.tree(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("http://127.0.0.1/a.txt"));

    // Ctrl+A takes every row, for the selection's export commands.
    HttpResource* second = program.addCapture();
    QTRY_VERIFY(second->listItem);
    QTest::keyClick(view.tree(), Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(view.tree()->selection().size(), std::size_t(2));
    QCOMPARE(view.contextMenuId(), int(ResourceListView::kSelectionMenu));

    // Ctrl+F, also from a pane, puts the keys in the filter above the list.
    frame.pane(ID_VIEW_REQUEST_HEADER)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(view.filterField()->hasFocus());
    QVERIFY(view.filterField()->geometry().bottom() < view.list()->geometry().top());
}

// A window of 760 x 620: the list keeps room for its rows and the panes take what is left;
// smaller still, the panes give way. A pane closed and opened again comes back at its size.
void MainFrameTest::smallWindowKeepsTheListAndPanesTheirSize() {
    Program program;
    MainFrame& frame = *program.frame;
    frame.resize(760, 620);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    ResourceListView* view = frame.listView();
    DockablePane* address = frame.pane(ID_VIEW_ADDRESS_PARAMETER);
    DockablePane* preview = frame.pane(ID_VIEW_RESOURCE_PREVIEW);
    const int listFloor = view->minimumSizeHint().height();
    QTRY_VERIFY2(view->height() >= listFloor,
                 qPrintable(QStringLiteral("%1 < %2").arg(view->height()).arg(listFloor)));
    QVERIFY(view->tree()->clientPageRows() >= 6);
    QVERIFY2(address->height() >= 120, qPrintable(QString::number(address->height())));
    for (int height : {560, 500}) {
        frame.resize(760, height);
        QTRY_COMPARE(frame.height(), std::max(height, frame.minimumSizeHint().height()));
        QTRY_VERIFY(view->height() >= listFloor);
        QVERIFY(address->isVisible() && address->height() > 0);
    }

    frame.resize(1100, 750);
    QTRY_COMPARE(address->width() + preview->width() > 1000, true);
    // (The main window places docks to a few pixels of what is asked.)
    frame.resizeDocks({preview}, {330}, Qt::Horizontal);
    frame.resizeDocks({address}, {260}, Qt::Vertical);
    QTRY_COMPARE(preview->height(), 260);
    QTRY_VERIFY(qAbs(preview->width() - 330) <= 12);
    const QSize before = preview->size();
    const int addressHeight = address->height();
    preview->close();
    QTRY_VERIFY(address->width() > 800);
    QVERIFY(frame.onCommand(ID_VIEW_RESOURCE_PREVIEW));
    QTRY_COMPARE(preview->size(), before);
    // The same for the whole group at the bottom.
    for (DockablePane* pane : frame.panes())
        pane->close();
    QTRY_VERIFY(view->height() > 500);
    QVERIFY(frame.onCommand(ID_VIEW_ADDRESS_PARAMETER));
    QTRY_COMPARE(address->height(), addressHeight);
}

// The panes hear of the current resource when it is chosen; one chosen while still loading is
// shown again once its exchange is over, instead of "not ready" for good.
void MainFrameTest::chosenWhileLoadingShownOnceComplete() {
    Program program;
    MainFrame& frame = *program.frame;
    program.show();
    Document& document = *program.document;
    auto* resource = new HttpResource(&document);
    const std::string requestBlock =
        "GET http://127.0.0.1/slow.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string responseBlock =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n";
    HttpRequestHeader request;
    HttpResponseHeader response;
    QVERIFY(resource->begin(document.takeSequenceNumber()));
    QVERIFY(parseRequestHeader(requestBlock.data(), int(requestBlock.size()), request));
    QVERIFY(resource->writeRequestHeader(request));
    QVERIFY(parseResponseHeader(responseBlock.data(), int(responseBlock.size()), response));
    QVERIFY(resource->writeResponseHeader(response));
    QVERIFY(resource->writeData("hello", 5));
    resource->receivedSize = 5;
    {
        CaptureLocker lock(captureLock());
        document.addResource(resource);
        document.notify(DocumentEvent::ResourceAdded, resource, true);
    }
    QTRY_VERIFY(resource->listItem);
    ResourceListView& view = *frame.listView();
    view.tree()->SelectItem(static_cast<ListTreeItem>(resource->listItem), false);
    auto* preview = static_cast<ResourcePreviewView*>(frame.pane(ID_VIEW_RESOURCE_PREVIEW));
    QCOMPARE(preview->message(), text(IDS_PREVIEW_NOT_READY));
    auto* body = static_cast<DataView*>(frame.pane(ID_VIEW_RESPONSE_DATA));
    QCOMPARE(body->binaryView()->totalLength(), 5);

    {
        CaptureLocker lock(captureLock());
        QVERIFY(resource->writeData("world", 5));
        resource->receivedSize = 10;
        QVERIFY(resource->finish());
        document.notify(DocumentEvent::ResourceChanged, resource, true);
    }
    QTRY_VERIFY(preview->viewer());
    QVERIFY(preview->message().isEmpty());
    QCOMPARE(body->binaryView()->totalLength(), 10);
}

void MainFrameTest::ribbonCommandsReachTheirHandlers() {
    Program program;
    MainFrame& frame = *program.frame;
    QCOMPARE(frame.ribbon()->objectName(), QString("Ribbon"));
    Ribbon& ribbon = *frame.ribbon();

    // Looks: a radio mark on the chosen one, kept for the next start.
    for (int look : {ID_VIEW_APPLOOK_WINDOWS_7, ID_VIEW_APPLOOK_OFF_2007_SILVER}) {
        ribbon.action(look)->trigger();
        QCOMPARE(currentVisualStyle(), look);
        QCOMPARE(program.profile.readInt("", "ApplicationLook", 0), look);
        for (int other = ID_VIEW_APPLOOK_OFF_2007_BLUE; other <= ID_VIEW_APPLOOK_WINDOWS_7; ++other)
            QCOMPARE(ribbon.action(other)->isChecked(), other == look);
    }
    ribbon.action(ID_VIEW_APPLOOK_OFF_2007_BLUE)->trigger();

    // Cache prevention is checked while on.
    const bool before = program.document->preventCache();
    ribbon.action(ID_PREVENT_CACHE)->trigger();
    QCOMPARE(program.document->preventCache(), !before);
    QCOMPARE(ribbon.action(ID_PREVENT_CACHE)->isChecked(), !before);
    ribbon.action(ID_PREVENT_CACHE)->trigger();

    // The application's commands go to the application, the button to About.
    QList<int> handed;
    frame.applicationCommands = [&handed](int id) {
        handed << id;
        return true;
    };
    ribbon.action(ID_ONLINE_HELP)->trigger();
    ribbon.action(ID_CHECK_UPDATE)->trigger();
    ribbon.applicationButton()->click();
    QCOMPARE(handed, QList<int>({ID_ONLINE_HELP, ID_CHECK_UPDATE, ID_APP_ABOUT}));
    // A pane command from the ribbon's menu.
    frame.pane(ID_VIEW_RESPONSE_DATA)->close();
    ribbon.action(ID_VIEW_RESPONSE_DATA)->trigger();
    QVERIFY(!frame.pane(ID_VIEW_RESPONSE_DATA)->isHidden());
}

void MainFrameTest::ribbonExportWritesTheCheckedResources() {
    Program program;
    program.show();
    HttpResource* resource = program.addCapture();
    QTRY_VERIFY(resource->listItem);
    ResourceListView& view = *program.frame->listView();
    view.tree()->SetCheckState(static_cast<ListTreeItem>(resource->listItem), Checked);

    QTemporaryDir folder;
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        chooser.stop();
        dialog->setDirectory(folder.path());
        dialog->selectFile(folder.path());
        static_cast<QDialog*>(dialog)->accept();
    });
    chooser.start(5);
    program.frame->ribbon()->action(ID_RESOURCES_EXPORT)->trigger();
    QVERIFY(!chooser.isActive());
    QFile exported(folder.filePath("a.txt"));
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QCOMPARE(exported.readAll(), QByteArray("ok"));
}

void MainFrameTest::clearAsksFirst() {
    Program program;
    program.addCapture();
    program.addCapture();
    {
        BoxAnswerer cancel(QMessageBox::Cancel);
        QVERIFY(program.frame->onCommand(ID_RESOURCES_CLEAR));
        QCOMPARE(cancel.text, text(121));
        QCOMPARE(cancel.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    }
    QVERIFY(program.document->resources.head);
    {
        BoxAnswerer ok(QMessageBox::Ok);
        QVERIFY(program.frame->onCommand(ID_RESOURCES_CLEAR));
        QCOMPARE(ok.text, text(121));
    }
    QVERIFY(!program.document->resources.head);
}

void MainFrameTest::exitQuestion_data() {
    QTest::addColumn<bool>("newCapture");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("fileKept");
    // A finished capture is in its file at once; cancelling leaves it there.
    QTest::newRow("cancel") << true << int(QMessageBox::Cancel) << false << true;
    QTest::newRow("no, from the keyboard") << true << int(QMessageBox::No) << true << false;
    QTest::newRow("yes") << true << int(QMessageBox::Yes) << true << true;
    QTest::newRow("nothing new") << false << int(QMessageBox::NoButton) << true << false;
}

void MainFrameTest::exitQuestion() {
    QFETCH(bool, newCapture);
    QFETCH(int, answer);
    QFETCH(bool, closes);
    QFETCH(bool, fileKept);
    Program program;
    program.show();
    std::uint32_t id = 0;
    if (newCapture)
        id = program.addCapture()->id;
    QVERIFY(program.frame->onCommand(ID_CATCH_START));

    BoxAnswerer answerer(static_cast<QMessageBox::StandardButton>(answer));
    if (QString(QTest::currentDataTag()).endsWith("keyboard")) {
        program.frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(program.frame.get()));
        QTest::keyClick(program.frame.get(), Qt::Key_Q, Qt::ControlModifier);
    } else {
        QCOMPARE(program.frame->close(), closes);
    }
    QCOMPARE(answerer.text, newCapture ? text(164) : QString());
    if (newCapture)
        QCOMPARE(answerer.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(program.frame->isVisible(), !closes);
    // Cancel leaves the program running and capturing.
    QCOMPARE(program.document->isCapturing(), !closes);
    QCOMPARE(program.document->resources.head != nullptr, newCapture && !closes);
    if (newCapture)
        QCOMPARE(isStored(program.document->cacheFolder, id), fileKept);
}

void MainFrameTest::secondInstanceBringsTheWindowUp() {
    Program program;
    MainFrame& frame = *program.frame;
    QVERIFY(frame.onCommand(MainFrame::kShowCommand));
    QVERIFY(frame.isVisible());
    frame.showMinimized();
    QVERIFY(frame.onCommand(MainFrame::kShowCommand));
    QVERIFY(frame.isVisible());
    QVERIFY(!(frame.windowState() & Qt::WindowMinimized));
}

void MainFrameTest::keysComeBackAfterADialog() {
    Program program;
    program.show();
    MainFrame& frame = *program.frame;
    QDialog question(&frame);
    question.setModal(true);
    question.show();
    QVERIFY(QTest::qWaitForWindowExposed(&question));
    // Without a window manager, nothing is active once the dialog is gone.
    question.hide();
    QApplication::setActiveWindow(nullptr);
    QTRY_COMPARE(QApplication::activeWindow(), &frame);

    // A window that is no dialog leaves the activation alone.
    QWidget tool(&frame, Qt::Tool);
    tool.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tool));
    tool.hide();
    QApplication::setActiveWindow(nullptr);
    QCoreApplication::processEvents();
    QVERIFY(!QApplication::activeWindow());
}

void MainFrameTest::availableUpdateIsOffered() {
    StubService service("HTTP/1.0 200 OK\r\nUpdate-URL: http://127.0.0.1:9/new\r\n\r\n");
    qputenv(AutoUpdate::kServerVariable, service.server());
    Program program;
    BoxAnswerer no(QMessageBox::No);
    program.frame->startUpdateCheck(QStringLiteral("1.2"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(no.text, text(172), 10000);
    QCOMPARE(no.buttons, QMessageBox::Yes | QMessageBox::No);
    qunsetenv(AutoUpdate::kServerVariable);
}

int main(int argc, char** argv) {
    // Never the user's own settings, proxy or cache.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QByteArray root = home.path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    qputenv("XDG_RUNTIME_DIR", root + "/run");
    QDir().mkpath(home.path() + "/run");
    QFile::setPermissions(home.path() + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qunsetenv("TIDEWELL_AUTO_ANSWER");
    QApplication application(argc, argv);
    MainFrameTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "mainframe_test.moc"
