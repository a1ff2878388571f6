// The three list panes: what they show for the current resource of a real
// document, the parameter splitting, the copy commands, the column widths
// kept in the profile, and which right clicks reach the docking menu.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "support/DocumentStandIns.h"
#include "support/OriginServer.h"
#include "tests/ui/FixtureStep.h"
#include "ui/panes/AddressParameterView.h"
#include "ui/panes/RequestHeaderView.h"
#include "ui/panes/ResponseHeaderView.h"
#include "ui/shell/ProfileSettings.h"
#include "ui/shell/UiEventDelivery.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <memory>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// Name and value of every row, flattened.
QStringList rowsOf(const HeaderListPane& pane) {
    QStringList out;
    for (int row = 0; row < pane.list()->topLevelItemCount(); ++row)
        out << pane.list()->topLevelItem(row)->text(0) << pane.list()->topLevelItem(row)->text(1);
    return out;
}

// A message shown here means a step went wrong: print it beside the failure.
class QuietUi : public ScriptedDocumentUi {
public:
    void showMessage(const std::string& text) override { qWarning("message: %s", text.c_str()); }
};

// Tool tips and shortcuts need the pane shown and holding the focus.
bool showActive(QWidget& pane) {
    pane.resize(400, 300);
    pane.show();
    pane.activateWindow();
    return QTest::qWaitForWindowActive(&pane);
}

} // namespace

class HeaderPanesTest : public QObject {
    Q_OBJECT

    QTemporaryDir configHome;
    QTemporaryDir dataHome;
    QuietUi ui;
    UiEventDelivery delivery;
    ProfileSettings settings;
    std::unique_ptr<Document> document;

    // A resource captured from these heads (no bodies) and listed in the
    // document; without a response head it is one still waiting for it.
    HttpResource* add(const std::string& request, const std::string& response) {
        auto resource = std::make_unique<HttpResource>(document.get());
        HttpRequestHeader requestHead;
        FIXTURE_STEP(parseRequestHeader(request.data(), std::int32_t(request.size()), requestHead));
        FIXTURE_STEP(resource->begin(document->takeSequenceNumber()));
        FIXTURE_STEP(resource->writeRequestHeader(requestHead));
        if (!response.empty()) {
            HttpResponseHeader responseHead;
            FIXTURE_STEP(
                parseResponseHeader(response.data(), std::int32_t(response.size()), responseHead));
            FIXTURE_STEP(resource->writeResponseHeader(responseHead));
            FIXTURE_STEP(resource->finish());
        }
        document->addResource(resource.get());
        return resource.release();
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void panesShowTheCapturedExchange();
    void failedResponseReadLeavesOnlyThatListEmpty();
    void parameterRows_data();
    void parameterRows();
    void copyCommands();
    void cutCellsShowTheirWholeText();
    void columnWidthsPersist();
    void rightClickInsideNeverReachesTheDockingMenu();
    void hugeHeadsStayUsable();
};

void HeaderPanesTest::initTestCase() {
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    document = std::make_unique<Document>(ui, delivery, settings);
    FIXTURE_STEP(document->newDocument());
}

void HeaderPanesTest::cleanupTestCase() {
    document->closeCaptures(false);
    document.reset();
}

void HeaderPanesTest::panesShowTheCapturedExchange() {
    const std::string body = "<html><body>结果</body></html>";
    OriginServer origin(OriginServer::reply("HTTP/1.1 200 OK\r\nServer: origin/1.0\r\n"
                                            "Content-Type: text/html; charset=utf-8\r\n"
                                            "Content-Length: " +
                                                std::to_string(body.size()) +
                                                "\r\nSet-Cookie: sid=7f3a; Path=/; HttpOnly\r\n"
                                                "Cache-Control: private, max-age=60\r\n\r\n" +
                                                body,
                                            false));
    document->proxy.manageSystemSettings = false;
    document->proxy.configuredPort = 0;
    QVERIFY2(document->startCapture(), errorText(lastError()).c_str());
    const QString url = QStringLiteral("http://127.0.0.1:%1/search?q=%E4%B8%AD%E6%96%87&"
                                       "lang=zh-CN&page=2")
                            .arg(origin.port());
    QProcess curl;
    curl.start("curl", {"--silent", "--show-error", "--max-time", "30", "--noproxy", "", "--proxy",
                        QStringLiteral("http://127.0.0.1:%1").arg(document->proxy.port()),
                        "--output", "/dev/null", "-A", "Mozilla/5.0 (X11; Linux x86_64)", "-H",
                        "Accept: text/html,application/xhtml+xml;q=0.9,*/*;q=0.8", "-H",
                        "Accept-Language: zh-CN,zh;q=0.9", "-H", "Cookie: theme=dark", url});
    QVERIFY(curl.waitForFinished(60000));
    QCOMPARE(curl.exitCode(), 0);
    document->stopCapture(); // the exchange has ended
    HttpResource* captured = nullptr;
    {
        CaptureLocker lock(captureLock());
        captured = document->resources.tail;
    }
    QVERIFY(captured);

    QMainWindow window;
    auto* request = new RequestHeaderView(&window);
    auto* response = new ResponseHeaderView(&window);
    auto* parameters = new AddressParameterView(&window);
    window.addDockWidget(Qt::LeftDockWidgetArea, request);
    window.addDockWidget(Qt::RightDockWidgetArea, response);
    window.addDockWidget(Qt::BottomDockWidgetArea, parameters);
    window.setCentralWidget(new QWidget);
    window.resize(1000, 600);
    for (DockablePane* pane : std::initializer_list<DockablePane*>{request, response, parameters})
        pane->attach(document.get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    document->setCurrentResource(captured);

    const QStringList requestRows = rowsOf(*request);
    QCOMPARE(requestRows.value(0), text(IDS_ROW_REQUEST));
    QVERIFY2(requestRows.value(1).startsWith("GET ") &&
                 requestRows.value(1).endsWith(
                     "/search?q=%E4%B8%AD%E6%96%87&lang=zh-CN&page=2 HTTP/1.1"),
             qPrintable(requestRows.value(1)));
    const QStringList sent{"Host", QStringLiteral("127.0.0.1:%1").arg(origin.port()), "User-Agent",
                           "Mozilla/5.0 (X11; Linux x86_64)"};
    QCOMPARE(requestRows.mid(2, 4), sent);
    QVERIFY(requestRows.contains("Accept-Language") && requestRows.contains("zh-CN,zh;q=0.9") &&
            requestRows.contains("theme=dark"));

    const QStringList responseRows{text(IDS_ROW_RESPONSE),
                                   "HTTP/1.1 200 OK",
                                   "Server",
                                   "origin/1.0",
                                   "Content-Type",
                                   "text/html; charset=utf-8",
                                   "Content-Length",
                                   QString::number(body.size()),
                                   "Set-Cookie",
                                   "sid=7f3a; Path=/; HttpOnly",
                                   "Cache-Control",
                                   "private, max-age=60"};
    QCOMPARE(rowsOf(*response), responseRows);
    const QStringList parameterRows{"q", "中文", "lang", "zh-CN", "page", "2"};
    QCOMPARE(rowsOf(*parameters), parameterRows);

    const QString shots = QStringLiteral("/work/wt/shots");
    if (QDir(shots).exists()) {
        request->grab().save(shots + "/panes-request-header.png");
        response->grab().save(shots + "/panes-response-header.png");
        parameters->grab().save(shots + "/panes-address-parameter.png");
        window.grab().save(shots + "/panes-window.png");
    }

    // No current resource: every list is empty.
    document->setCurrentResource(nullptr);
    QVERIFY(rowsOf(*request).isEmpty());
    QVERIFY(rowsOf(*response).isEmpty());
    QVERIFY(rowsOf(*parameters).isEmpty());
}

void HeaderPanesTest::failedResponseReadLeavesOnlyThatListEmpty() {
    RequestHeaderView request;
    ResponseHeaderView response;
    AddressParameterView parameters;
    request.attach(document.get());
    response.attach(document.get());
    parameters.attach(document.get());
    // A response shown before: the failed read must not leave it standing.
    document->setCurrentResource(
        add("GET /a HTTP/1.1\r\nHost: h\r\n", "HTTP/1.1 404 Not Found\r\nX: y\r\n"));
    QCOMPARE(rowsOf(response).value(1), "HTTP/1.1 404 Not Found");

    document->setCurrentResource(add("POST /form?id=3 HTTP/1.0\r\nHost: h\r\n", ""));
    const QStringList requestRows{text(IDS_ROW_REQUEST), "POST /form?id=3 HTTP/1.0", "Host", "h"};
    QCOMPARE(rowsOf(request), requestRows);
    QVERIFY(rowsOf(response).isEmpty());
    QCOMPARE(rowsOf(parameters), QStringList({"id", "3"}));
}

void HeaderPanesTest::parameterRows_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("decoded, fragment last")
        << "/p?x=1&y=%E4%B8%AD#top" << QStringList{"x", "1", "y", "中", "#", "top"};
    QTest::newRow("part without equals") << "/p?flag" << QStringList{"flag", ""};
    QTest::newRow("joined with the next part") << "/p?a&b=1" << QStringList{"a&b", "1"};
    QTest::newRow("trailing part without value")
        << "/p?x=1&y#f" << QStringList{"x", "1", "y", "", "#", "f"};
    QTest::newRow("ending in equals") << "/p?x=" << QStringList{"x", ""};
    QTest::newRow("empty query") << "/p?" << QStringList{};
    QTest::newRow("empty fragment") << "/p#" << QStringList{"#", ""};
    QTest::newRow("no query") << "/p" << QStringList{};
    QTest::newRow("plus and equals in value")
        << "/p?a=b=c+d&=e%" << QStringList{"a", "b=c+d", "", "e%"};
}

void HeaderPanesTest::parameterRows() {
    QFETCH(QString, target);
    QFETCH(QStringList, rows);
    AddressParameterView pane;
    pane.attach(document.get());
    document->setCurrentResource(
        add("GET " + target.toStdString() + " HTTP/1.1\r\nHost: h\r\n", "HTTP/1.1 200 OK\r\n"));
    QCOMPARE(rowsOf(pane), rows);
}

void HeaderPanesTest::cutCellsShowTheirWholeText() {
    RequestHeaderView pane;
    pane.attach(document.get());
    QVERIFY(showActive(pane));
    document->setCurrentResource(add("GET http://h/ HTTP/1.1\r\nHost: h\r\n"
                                     "X-A-Rather-Long-Field-Name: 1\r\n",
                                     "HTTP/1.1 200 OK\r\n"));
    QTreeWidget* list = pane.list();
    QTreeWidgetItem* longName = list->topLevelItem(2);
    QCOMPARE(longName->text(0), QString("X-A-Rather-Long-Field-Name"));
    auto hover = [list](QTreeWidgetItem* item, int column) {
        const QPoint pos = list->visualItemRect(item).topLeft() +
                           QPoint(list->header()->sectionPosition(column) + 5, 3);
        QHelpEvent help(QEvent::ToolTip, pos, list->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(list->viewport(), &help);
    };
    hover(longName, 0);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString("X-A-Rather-Long-Field-Name"));
    hover(list->topLevelItem(1), 0); // "Host" fits
    QTRY_VERIFY(!QToolTip::isVisible());
}

void HeaderPanesTest::copyCommands() {
    RequestHeaderView pane;
    pane.attach(document.get());
    QVERIFY(showActive(pane));
    QClipboard* clipboard = QGuiApplication::clipboard();

    auto enabled = [&pane] {
        std::unique_ptr<QMenu> menu(pane.createContextMenu(nullptr));
        QList<bool> out;
        for (QAction* action : menu->actions())
            out << action->isEnabled();
        return out;
    };
    clipboard->setText("before");
    QCOMPARE(enabled(), QList<bool>({false, false}));
    QVERIFY(pane.runCommand(ID_COPY_HEADER)); // nothing to copy: the clipboard stays
    QCOMPARE(clipboard->text(), "before");

    document->setCurrentResource(
        add("GET /a HTTP/1.1\r\nHost: example.test\r\nAccept: */*\r\n", "HTTP/1.1 200 OK\r\n"));
    QCOMPARE(enabled(), QList<bool>({false, true}));
    QVERIFY(pane.runCommand(ID_COPY_FIELD_VALUE)); // no selection: nothing happens
    QCOMPARE(clipboard->text(), "before");
    QVERIFY(pane.runCommand(ID_COPY_HEADER));
    QCOMPARE(clipboard->text().toUtf8(),
             QByteArray("GET /a HTTP/1.1\r\nHost:example.test\r\nAccept:*/*\r\n\r\n"));

    // Several rows selected: the first in list order counts.
    pane.list()->topLevelItem(2)->setSelected(true);
    pane.list()->topLevelItem(1)->setSelected(true);
    QCOMPARE(enabled(), QList<bool>({true, true}));
    QVERIFY(pane.runCommand(ID_COPY_FIELD_VALUE));
    QCOMPARE(clipboard->text(), "example.test");

    // Ctrl+C in the list copies the selected value.
    pane.list()->clearSelection();
    pane.list()->topLevelItem(2)->setSelected(true);
    pane.list()->setFocus();
    QTest::keyClick(pane.list(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), "*/*");

    // The menu shown by a right click runs the chosen item.
    clipboard->setText("before");
    QTimer::singleShot(0, this, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 2);
        QCOMPARE(menu->actions()[0]->text(), "复制字段值(&C)");
        QCOMPARE(menu->actions()[1]->text(), "复制头(&A)");
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions()[1]).center());
    });
    QWidget* viewport = pane.list()->viewport();
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(20, 10),
                            viewport->mapToGlobal(QPoint(20, 10)));
    QApplication::sendEvent(viewport, &click);
    QCOMPARE(clipboard->text().toUtf8(),
             QByteArray("GET /a HTTP/1.1\r\nHost:example.test\r\nAccept:*/*\r\n\r\n"));
}

void HeaderPanesTest::columnWidthsPersist() {
    // A profile of its own, so that no earlier pane's saved widths count.
    QTemporaryDir profileHome;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", profileHome.path().toUtf8());
    ProfileSettings profile;
    profile.writeInt(RequestHeaderView::kWidthSection, "Field", 0);
    profile.writeInt(RequestHeaderView::kWidthSection, "Value", -7);
    profile.writeInt(AddressParameterView::kWidthSection, "Field", 150);
    {
        RequestHeaderView request;
        ResponseHeaderView response;
        AddressParameterView parameters;
        QCOMPARE(request.list()->columnWidth(0), 1);
        QCOMPARE(response.list()->columnWidth(0), 100);
        QCOMPARE(parameters.list()->columnWidth(0), 150);
        QCOMPARE(request.list()->headerItem()->text(0), "字段");
        QCOMPARE(request.list()->headerItem()->text(1), "值");
        // Shown in a wide pane the value column takes the room the name column leaves, also
        // when the user widens the name column.
        response.resize(800, 300);
        response.show();
        QVERIFY(QTest::qWaitForWindowExposed(&response));
        QTreeWidget* list = response.list();
        QTRY_COMPARE(list->columnWidth(1), list->viewport()->width() - 100);
        list->header()->resizeSection(0, 123);
        QTRY_COMPARE(list->columnWidth(1), list->viewport()->width() - 123);
    }
    QCOMPARE(profile.readInt(RequestHeaderView::kWidthSection, "Field", -1), 1);
    QCOMPARE(profile.readInt(ResponseHeaderView::kWidthSection, "Field", -1), 123);
    QCOMPARE(profile.readInt(AddressParameterView::kWidthSection, "Field", -1), 150);
    qputenv("XDG_CONFIG_HOME", saved);
}

void HeaderPanesTest::rightClickInsideNeverReachesTheDockingMenu() {
    // Stands in for the main window's docking menu: records the right clicks
    // that reach the window and keeps its menu from opening.
    class DockingMenuWatch : public QObject {
    public:
        int seen = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() != QEvent::ContextMenu)
                return false;
            ++seen;
            return true;
        }
    } watch;
    QMainWindow window;
    auto* header = new RequestHeaderView(&window);
    auto* parameters = new AddressParameterView(&window);
    window.addDockWidget(Qt::LeftDockWidgetArea, header);
    window.addDockWidget(Qt::RightDockWidgetArea, parameters);
    window.setCentralWidget(new QWidget);
    window.resize(800, 400);
    window.installEventFilter(&watch);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto rightClick = [](QWidget* target, QPoint pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &event);
    };
    // The parameter list has no menu of its own: the pane keeps the click.
    rightClick(parameters->list()->viewport(), QPoint(30, 30));
    QCOMPARE(watch.seen, 0);
    // The header list opens its own menu (closed again at once).
    QTimer::singleShot(0, this, [] {
        QVERIFY(QApplication::activePopupWidget());
        QApplication::activePopupWidget()->close();
    });
    rightClick(header->list()->viewport(), QPoint(30, 30));
    QCOMPARE(watch.seen, 0);
    // The caption above the list still offers the docking menu.
    const QPoint caption(10, header->list()->geometry().top() / 2);
    QVERIFY(header->offersDockingMenuAt(header->mapToGlobal(caption)));
    rightClick(header, caption);
    QCOMPARE(watch.seen, 1);
}

// Heads near the largest the proxy accepts: every row is there, the cells
// show a cut (laying out a megabyte per cell on each paint made the panes
// crawl), and copying still gives the whole text.
void HeaderPanesTest::hugeHeadsStayUsable() {
    std::string query;
    while (query.size() < 800000)
        query += "k" + std::to_string(query.size()) + "=v&";
    std::string request = "GET /p?" + query + " HTTP/1.1\r\nHost: h\r\n";
    for (int i = 0; i < 10000; ++i)
        request += "X-Field-" + std::to_string(i) + ": v\r\n";
    const std::string big(900000, 'a');
    HttpResource* resource = add(request, "HTTP/1.1 200 OK\r\nX-Big: " + big + "\r\n");

    RequestHeaderView requestPane;
    ResponseHeaderView responsePane;
    AddressParameterView parameters;
    for (DockablePane* pane :
         std::initializer_list<DockablePane*>{&requestPane, &responsePane, &parameters})
        pane->attach(document.get());
    document->setCurrentResource(resource);
    QCOMPARE(requestPane.list()->topLevelItemCount(), 10002);
    QCOMPARE(parameters.list()->topLevelItemCount(),
             int(std::count(query.begin(), query.end(), '&')));
    QCOMPARE(responsePane.list()->topLevelItemCount(), 2);

    const QTreeWidgetItem* line = requestPane.list()->topLevelItem(0);
    QCOMPARE(line->text(1).size(), HeaderListPane::kShownLength + 1);
    QVERIFY(line->text(1).endsWith(QChar(0x2026)));
    const QString whole = HeaderListPane::cellText(line, 1);
    QVERIFY(whole.contains(QString::fromStdString(query)) && whole.endsWith(" HTTP/1.1"));
    QTreeWidgetItem* value = responsePane.list()->topLevelItem(1);
    QVERIFY(value->text(1).size() <= HeaderListPane::kShownLength + 1);
    value->setSelected(true);
    QVERIFY(responsePane.runCommand(ID_COPY_FIELD_VALUE));
    QCOMPARE(QGuiApplication::clipboard()->text().toStdString(), big);
    document->setCurrentResource(nullptr);
}

QTEST_MAIN(HeaderPanesTest)
#include "header_panes_test.moc"
