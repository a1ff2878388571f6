// The update check and the uninstall notification against a stub web service
// on loopback.
#include "ui/shell/AutoUpdate.h"
#include "ui/shell/UpdateNotifier.h"

#include <QSignalSpy>
#include <QtTest>

#include "StubService.h"

#include <chrono>
#include <future>

class UpdateCheckTest : public QObject {
    Q_OBJECT
private slots:
    void answersDecideTheOffer_data();
    void answersDecideTheOffer();
    void requestCarriesVersionAndEmptyUser();
    void closingWhileTheServerStallsReturnsAtOnce();
    void refusedOrSwitchedOffIsSilent();
    void uninstallNotificationIsSent();
};

void UpdateCheckTest::answersDecideTheOffer_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("offered");
    QTest::newRow("404 with the field")
        << QByteArray("HTTP/1.0 404 Not Found\r\nupdate-url: http://example.test/new\r\n\r\n")
        << "http://example.test/new";
    QTest::newRow("200 without the field")
        << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nUpdate-URL: no") << "";
    QTest::newRow("head not ended within 1023 bytes")
        << QByteArray("HTTP/1.0 200 OK\r\nX-Pad: " + QByteArray(1000, 'a') +
                      "\r\nUpdate-URL: http://example.test/late\r\n\r\n")
        << "";
    QTest::newRow("not HTTP") << QByteArray("garbage\r\n\r\n") << "";
    QTest::newRow("closed without answer") << QByteArray() << "";
}

void UpdateCheckTest::answersDecideTheOffer() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, offered);
    StubService stub(reply.toStdString());
    qputenv(AutoUpdate::kServerVariable, stub.server());
    UpdateNotifier notifier;
    QSignalSpy spy(&notifier, &UpdateNotifier::updateAvailable);
    QVERIFY(notifier.start("1.2", "0123"));
    if (offered.isEmpty()) {
        notifier.wait();
        QCoreApplication::processEvents();
        QCOMPARE(spy.count(), 0);
        QVERIFY(!notifier.available());
    } else {
        QVERIFY(spy.wait(10000));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(notifier.updateUrl(), offered);
    }
}

void UpdateCheckTest::requestCarriesVersionAndEmptyUser() {
    StubService stub("HTTP/1.0 204 No Content\r\n\r\n");
    qputenv(AutoUpdate::kServerVariable, stub.server());
    AutoUpdate check;
    QVERIFY(check.start(nullptr, "1.2.3", ""));
    QCOMPARE(QByteArray::fromStdString(stub.request()),
             "GET /check_update.php?p=tidewell&v=1.2.3&l=zh-CN&u= HTTP/1.0\r\n"
             "User-Agent: Merovex Update 1.0\r\n"
             "Connection: close\r\n"
             "Host: " +
                 stub.server() + "\r\n\r\n");
}

void UpdateCheckTest::closingWhileTheServerStallsReturnsAtOnce() {
    StubService stub("", true);
    qputenv(AutoUpdate::kServerVariable, stub.server());
    bool notified = false;
    auto check = std::make_unique<AutoUpdate>();
    QVERIFY(check->start([&] { notified = true; }, "1", "u"));
    stub.request(); // the check now waits for an answer that never comes
    // A hang guard, not a speed goal: the destructor must not wait for the server.
    auto closed = std::async(std::launch::async, [&] { check.reset(); });
    QVERIFY(closed.wait_for(std::chrono::seconds(20)) == std::future_status::ready);
    QVERIFY(!notified);
}

void UpdateCheckTest::refusedOrSwitchedOffIsSilent() {
    // A port that was just free: nobody listens there.
    int port;
    {
        StubService stub("");
        port = stub.server().split(':').last().toInt();
    }
    for (const QByteArray& server : {"127.0.0.1:" + QByteArray::number(port), QByteArray()}) {
        qputenv(AutoUpdate::kServerVariable, server);
        bool notified = false;
        {
            AutoUpdate check;
            QVERIFY(check.start([&] { notified = true; }, "1", "u"));
        }
        QVERIFY(!notified);
    }
}

void UpdateCheckTest::uninstallNotificationIsSent() {
    StubService stub("HTTP/1.0 200 OK\r\n\r\nthanks");
    qputenv(AutoUpdate::kServerVariable, stub.server());
    AutoUpdate::sendUninstallNotification("2.0", "abc");
    QCOMPARE(QByteArray::fromStdString(stub.request()),
             "GET /uninstall.php?p=tidewell&v=2.0&l=zh-CN&u=abc HTTP/1.0\r\n"
             "User-Agent: Tidewell\r\n"
             "Connection: close\r\n"
             "Host: " +
                 stub.server() + "\r\n\r\n");
}

QTEST_GUILESS_MAIN(UpdateCheckTest)
#include "update_check_test.moc"
