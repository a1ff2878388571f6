// The About box and its link controls, offscreen.
#include "ui/shell/AboutDialog.h"
#include "ui/shell/LinkCtrl.h"

#include <QDesktopServices>
#include <QtTest>

namespace {

// Stands in for the browser: records what would have been opened.
class Browser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

QColor textColour(const QWidget* widget) {
    return widget->palette().color(QPalette::WindowText);
}

} // namespace

class AboutTest : public QObject {
    Q_OBJECT
private slots:
    void init() { qputenv("TIDEWELL_AUTO_ANSWER", "ok"); }
    void linksCarryTheVersion_data();
    void linksCarryTheVersion();
    void hoverUnderlinesAndLeavingRestores();
    void successfulClickMarksVisited();
    void failedOpenKeepsTheLinkUnvisited();
    void errorMessages_data();
    void errorMessages();
    void linkSizesToItsText();
};

void AboutTest::linksCarryTheVersion_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("page");
    QTest::newRow("home") << 1004 << "官网"
                          << "/index.php?p=tidewell&v=9.8.7&l=zh-CN";
    QTest::newRow("feedback") << 1005 << "意见反馈"
                              << "/feedback.php?p=tidewell&v=9.8.7&l=zh-CN";
    QTest::newRow("third party") << 1007 << "第三方代码"
                                 << "/third_party.php?p=tidewell&v=9.8.7&l=zh-CN";
}

void AboutTest::linksCarryTheVersion() {
    QFETCH(int, id);
    QFETCH(QString, text);
    QFETCH(QString, page);
    AboutDialog dialog("9.8.7");
    QCOMPARE(dialog.windowTitle(), QString("关于Tidewell"));
    QCOMPARE(dialog.findChild<QLabel*>("1000")->text(), QString("9.8.7"));
    auto* link = dialog.findChild<LinkCtrl*>(QString::number(id));
    QVERIFY(link);
    QCOMPARE(link->text(), text);
    const QUrl address(link->toolTip());
    QCOMPARE(address.scheme(), QString("http"));
    QVERIFY(!address.host().isEmpty());
    QCOMPARE(address.path() + "?" + address.query(QUrl::FullyEncoded), page);
    QCOMPARE(link->address(), link->toolTip());
}

void AboutTest::hoverUnderlinesAndLeavingRestores() {
    QWidget window;
    window.resize(300, 100);
    LinkCtrl link("link", &window);
    link.setAddress("http://127.0.0.1:9/page");
    link.move(20, 20);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(textColour(&link), QColor(0, 0, 238));
    QVERIFY(!link.font().underline());

    QCursor::setPos(link.mapToGlobal(QPoint(3, 3)));
    QTest::mouseMove(&link, QPoint(3, 3));
    QVERIFY(link.hovering);
    QVERIFY(link.font().underline());
    QCOMPARE(textColour(&link), QColor(255, 0, 0));
    QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);

    QCursor::setPos(window.mapToGlobal(QPoint(250, 90)));
    QTRY_VERIFY(!link.hovering);
    QVERIFY(!link.font().underline());
    QCOMPARE(textColour(&link), QColor(0, 0, 238));
}

void AboutTest::successfulClickMarksVisited() {
    Browser browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    LinkCtrl link("feedback");
    link.setAddress("http://127.0.0.1:9/feedback.php?v=1");
    link.show();
    QVERIFY(QTest::qWaitForWindowExposed(&link));
    QTest::mouseClick(&link, Qt::LeftButton, {}, QPoint(2, 2));
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(browser.opened, QList<QUrl>{QUrl("http://127.0.0.1:9/feedback.php?v=1")});
    QVERIFY(link.visited);
    QVERIFY(!link.hovering);
    QCOMPARE(textColour(&link), QColor(85, 26, 139));
}

void AboutTest::failedOpenKeepsTheLinkUnvisited() {
    // A scheme nothing handles: opening fails, the message is shown (answered
    // by the test hook) and the link stays unvisited.
    LinkCtrl link("x");
    link.setAddress("tidewell-nothing-opens-this:page");
    QCOMPARE(link.open(), 31);
    QVERIFY(!link.visited);
    QCOMPARE(textColour(&link), QColor(0, 0, 238));
}

void AboutTest::errorMessages_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("text");
    QTest::newRow("no association")
        << 31 << "There is no application associated\nwith the given filename extension.";
    QTest::newRow("sharing violation") << 26 << "A sharing violation occurred. ";
    QTest::newRow("out of memory") << 0 << "The operating system is out\nof memory or resources.";
    QTest::newRow("unknown") << 9 << "Unknown Error (9) occurred.";
}

void AboutTest::errorMessages() {
    QFETCH(int, result);
    QFETCH(QString, text);
    QCOMPARE(LinkCtrl::errorMessage(result), "Unable to open hyperlink:\n\n" + text);
}

void AboutTest::linkSizesToItsText() {
    QWidget window;
    // Empty text: the address becomes the text.
    LinkCtrl empty(QString(), &window);
    empty.setAddress("http://127.0.0.1:9/");
    empty.attach();
    QCOMPARE(empty.text(), QString("http://127.0.0.1:9/"));

    LinkCtrl shortLink("ab", &window);
    LinkCtrl longLink("a much longer link text", &window);
    for (LinkCtrl* link : {&shortLink, &longLink}) {
        link->setGeometry(40, 30, 5, 5);
        link->setAddress("http://127.0.0.1:9/");
    }
    QCOMPARE(longLink.x(), 40);
    QCOMPARE(longLink.y(), 30);
    QVERIFY(longLink.width() > shortLink.width());
    QFont underlined = longLink.font();
    underlined.setUnderline(true);
    QVERIFY(longLink.width() >= QFontMetrics(underlined).horizontalAdvance(longLink.text()));
}

QTEST_MAIN(AboutTest)
#include "about_test.moc"
