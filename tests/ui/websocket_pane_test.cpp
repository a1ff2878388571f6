// The WebSocket messages pane and the timings the list and the response head
// pane show, for exchanges captured through the document's filter.
#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "support/DocumentStandIns.h"
#include "support/WebSocketPeer.h"
#include "tests/ui/FixtureStep.h"
#include "ui/browser/ResourceListAdaptor.h"
#include "ui/panes/ResponseHeaderView.h"
#include "ui/panes/TimingText.h"
#include "ui/panes/WebSocketMessagesView.h"
#include "ui/shell/ProfileSettings.h"
#include "ui/shell/UiEventDelivery.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

class QuietUi : public ScriptedDocumentUi {
public:
    void showMessage(const std::string& text) override { qWarning("message: %s", text.c_str()); }
};

QStringList rowOf(const QTreeWidget& list, int row) {
    QStringList out;
    const QTreeWidgetItem* item = list.topLevelItem(row);
    for (int column = 0; item && column < list.columnCount(); ++column)
        out << item->text(column);
    return out;
}

} // namespace

class WebSocketPaneTest : public QObject {
    Q_OBJECT

    QTemporaryDir configHome;
    QTemporaryDir dataHome;
    QuietUi ui;
    UiEventDelivery delivery;
    ProfileSettings settings;
    std::unique_ptr<Document> document;

    // A WebSocket upgrade captured through the filter: `fromClient` and
    // `fromServer` are the bytes each side sent after the 101, handed over
    // in that order, client first.
    HttpResource* webSocket(const std::vector<std::string>& fromClient,
                            const std::vector<std::string>& fromServer, bool end = true) {
        HttpSnagger& filter = document->filter;
        const std::string request = "GET http://example.com/feed HTTP/1.1\r\nHost: example.com\r\n"
                                    "Upgrade: websocket\r\nConnection: Upgrade\r\n";
        HttpRequestHeader requestHead;
        FIXTURE_STEP(parseRequestHeader(request.data(), std::int32_t(request.size()), requestHead));
        const int handle = filter.beginRequest(0, requestHead);
        ExchangeTimings timings;
        timings.start = 1700000000000000;
        timings.dns = 1500;
        timings.connect = 3000;
        timings.connected = 5000;
        timings.sent = 5200;
        timings.firstByte = 45000;
        filter.exchangeTimings(handle, timings);
        const std::string response =
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n";
        HttpResponseHeader responseHead;
        FIXTURE_STEP(
            parseResponseHeader(response.data(), std::int32_t(response.size()), responseHead));
        FIXTURE_STEP(filter.beginResponse(handle, responseHead));
        FIXTURE_STEP(filter.followsUpgrade(handle));
        for (std::size_t i = 0; i < std::max(fromClient.size(), fromServer.size()); ++i) {
            if (i < fromClient.size())
                filter.upgradeData(handle, true, fromClient[i].data(), int(fromClient[i].size()));
            if (i < fromServer.size())
                filter.upgradeData(handle, false, fromServer[i].data(), int(fromServer[i].size()));
        }
        HttpResource* resource = document->resources.tail;
        if (end) {
            filter.tunnelData(handle, 0, 0, TunnelEnd::ClientClosed);
            timings.end = 2500000;
            filter.exchangeTimings(handle, timings);
            filter.endExchange(handle, 0);
        }
        return resource;
    }

    void show(DockablePane& pane, HttpResource* resource) {
        DocumentNotice notice;
        notice.event = DocumentEvent::CurrentChanged;
        notice.resource = resource;
        pane.documentEvent(notice);
    }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void messagesListedWithTheirPayloads();
    void keptMessagesAreBoundedAndThePaneSaysSo();
    void rowAndHeadPaneShowTheTimings();
    void durationTexts();
};

void WebSocketPaneTest::initTestCase() {
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
    qputenv("GSETTINGS_BACKEND", "keyfile");
    document = std::make_unique<Document>(ui, delivery, settings);
    FIXTURE_STEP(document->newDocument());
}

void WebSocketPaneTest::cleanupTestCase() {
    document->closeCaptures(false);
    document.reset();
}

// Each message one row, oldest first; choosing one shows its payload: JSON
// laid out, binary as a hex dump, a close frame's code and reason.
void WebSocketPaneTest::messagesListedWithTheirPayloads() {
    const std::string json = R"({"op":"subscribe","ids":[1,2]})";
    const std::string binary("\x00\x01\x02\xff", 4);
    HttpResource* resource = webSocket(
        {WebSocketPeer::frame(0x81, json, 0x11223344), WebSocketPeer::frame(0x82, binary, 7),
         WebSocketPeer::frame(0x88, std::string("\x03\xe8", 2) + "bye", 9)},
        {WebSocketPeer::frame(0x81, "plain words"), "", WebSocketPeer::frame(0x88, "")});
    QVERIFY(resource);

    WebSocketMessagesView pane;
    show(pane, resource);
    QTreeWidget& list = *pane.list();
    QCOMPARE(list.topLevelItemCount(), 5);
    const QString up = text(IDS_WS_FROM_CLIENT);
    const QString down = text(IDS_WS_FROM_SERVER);
    struct Row {
        QString direction, type, size;
    };
    const Row rows[] = {{up, "text", "30 B"},
                        {down, "text", "11 B"},
                        {up, "binary", "4 B"},
                        {up, "close", "5 B"},
                        {down, "close", "0 B"}};
    for (int i = 0; i < 5; ++i) {
        const QStringList cells = rowOf(list, i);
        QCOMPARE(cells.value(0), rows[i].direction);
        QCOMPARE(cells.value(2), rows[i].type);
        QCOMPARE(cells.value(3), rows[i].size);
    }
    QVERIFY(rowOf(list, 0).value(4).contains(QStringLiteral("subscribe")));
    QVERIFY(pane.note()->isHidden());

    list.setCurrentItem(list.topLevelItem(0));
    QCOMPARE(pane.payloadView()->toPlainText(),
             QStringLiteral("{\n    \"ids\": [\n        1,\n        2\n    ],\n"
                            "    \"op\": \"subscribe\"\n}\n"));
    list.setCurrentItem(list.topLevelItem(1));
    QCOMPARE(pane.payloadView()->toPlainText(), QStringLiteral("plain words"));
    list.setCurrentItem(list.topLevelItem(2));
    QVERIFY2(pane.payloadView()->toPlainText().startsWith(QStringLiteral("00000000  00 01 02 FF")),
             qPrintable(pane.payloadView()->toPlainText()));
    list.setCurrentItem(list.topLevelItem(3));
    QVERIFY(pane.payloadView()->toPlainText().contains(QStringLiteral("1000")));
    QVERIFY(pane.payloadView()->toPlainText().contains(QStringLiteral("bye")));
    list.setCurrentItem(list.topLevelItem(4));
    QCOMPARE(pane.payloadView()->toPlainText(), text(IDS_WS_CLOSE_NO_CODE));

    // Another row clears the pane; a row that is no WebSocket lists nothing.
    show(pane, nullptr);
    QCOMPARE(list.topLevelItemCount(), 0);
    QVERIFY(pane.payloadView()->toPlainText().isEmpty());
}

// Past the bound only counts are kept: the pane lists what was kept and says
// that the rest went uncounted; a connection still open says so too.
void WebSocketPaneTest::keptMessagesAreBoundedAndThePaneSaysSo() {
    std::string many;
    for (std::uint64_t i = 0; i <= WebSocketCapture::kMaxMessages; ++i)
        many += WebSocketPeer::frame(0x81, "x", 5);
    HttpResource* resource = webSocket({many}, {});
    WebSocketMessagesView pane;
    show(pane, resource);
    QCOMPARE(pane.list()->topLevelItemCount(), int(WebSocketCapture::kMaxMessages));
    QVERIFY(!pane.note()->isHidden());
    QVERIFY(pane.note()->text().contains(QString::number(WebSocketCapture::kMaxMessages)));

    HttpResource* open = webSocket({WebSocketPeer::frame(0x81, "hello", 5)}, {}, false);
    show(pane, open);
    QCOMPARE(pane.list()->topLevelItemCount(), 1);
    QCOMPARE(pane.note()->text(), text(IDS_WS_STILL_OPEN));
}

// The list says 101 with how the connection ended and how long it lasted;
// the response head pane gives the phases.
void WebSocketPaneTest::rowAndHeadPaneShowTheTimings() {
    HttpResource* resource = webSocket({}, {});
    QCOMPARE(statusText(*resource), "101 " + std::string(loadString(IDS_TUNNEL_CLIENT_CLOSED)));
    QCOMPARE(durationText(resource->duration), std::string("2.50 s"));

    ResponseHeaderView pane;
    show(pane, resource);
    const QString line = pane.timingsLabel()->text();
    for (const QString& part : {QStringLiteral("2.50 s"), QStringLiteral("DNS 1 ms"),
                                QStringLiteral("3 ms"), QStringLiteral("39 ms")})
        QVERIFY2(line.contains(part), qPrintable(line));
    // No TLS handshake was made: no phase for it.
    QVERIFY2(!line.contains(QStringLiteral("TLS")), qPrintable(line));
}

void WebSocketPaneTest::durationTexts() {
    const struct {
        std::int64_t micros;
        const char* text;
    } cases[] = {
        {-1, ""},           {0, "0 ms"},         {999, "0 ms"},        {1000, "1 ms"},
        {999999, "999 ms"}, {1000000, "1.00 s"}, {12345678, "12.3 s"}, {125000000, "125 s"}};
    for (const auto& c : cases)
        QCOMPARE(durationText(c.micros), std::string(c.text));
}

QTEST_MAIN(WebSocketPaneTest)
#include "websocket_pane_test.moc"
