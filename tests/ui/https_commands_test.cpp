// The HTTPS entries of the options menu: the decrypt switch making the root
// on first use and keeping its state, trust install and removal through the
// user's databases, the pass-through dialog, export, and the browser launch.
#include "resources/CommandIds.h"
#include "resources/StringTable.h"
#include "store/Document.h"
#include "sysproxy/SettingsFile.h"
#include "tls/CertificateAuthority.h"
#include "tls/HttpsOptions.h"
#include "tls/Subprocess.h"
#include "tls/TrustStore.h"
#include "ui/shell/HttpsCommands.h"

#include "support/DocumentStandIns.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

std::string readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

// Runs `step` on the next modal dialog that opens.
class NextDialog {
public:
    explicit NextDialog(std::function<void(QDialog*)> step) : step_(std::move(step)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            timer_.stop();
            step_(dialog);
            done = true;
        });
        timer_.start(5);
    }
    bool done = false;

private:
    std::function<void(QDialog*)> step_;
    QTimer timer_;
};

} // namespace

class HttpsCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void decryptMakesTheRootOnFirstUseAndIsKept();
    void installAndRemoveGoThroughTheUsersDatabases();
    void passThroughAndExportUseTheirDialogs();
    void browserStartsCapturingDecrypted();

private:
    std::unique_ptr<QTemporaryDir> home_;
};

void HttpsCommandsTest::init() {
    home_ = std::make_unique<QTemporaryDir>();
    qputenv("HOME", home_->path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home_->path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home_->path() + "/data").toUtf8());
    // Questions are answered without being shown: no to the browser offer.
    qputenv("TIDEWELL_AUTO_ANSWER", "no");
}

void HttpsCommandsTest::decryptMakesTheRootOnFirstUseAndIsKept() {
    const QString certificate = home_->path() + "/data/Merovex/Tidewell/CA/root-ca.pem";
    {
        HttpsCommands commands(nullptr, nullptr);
        bool enabled = false;
        bool checked = true;
        QVERIFY(commands.commandState(ID_HTTPS_DECRYPT, enabled, checked));
        QVERIFY(enabled && !checked);
        QVERIFY(!QFile::exists(certificate)); // nothing made before it is wanted
        QVERIFY(commands.onCommand(ID_HTTPS_DECRYPT));
        QVERIFY(QFile::exists(certificate));
        QVERIFY(commands.interception()->decrypt());
        QVERIFY(commands.interception()->shouldDecrypt("example.test", 443));
    }
    QVERIFY(HttpsOptions::load(SettingsFile()).decrypt);
    // The next run starts as this one ended, with the same root.
    HttpsCommands again(nullptr, nullptr);
    QVERIFY(again.interception()->decrypt());
    QCOMPARE(again.interception()->root().certificatePem(), readFile(certificate));
    again.onCommand(ID_HTTPS_DECRYPT);
    QVERIFY(!again.interception()->shouldDecrypt("example.test", 443));
    QVERIFY(!HttpsOptions::load(SettingsFile()).decrypt);
}

void HttpsCommandsTest::installAndRemoveGoThroughTheUsersDatabases() {
    const std::string database = home_->path().toStdString() + "/.pki/nssdb";
    QVERIFY(QDir().mkpath(QString::fromStdString(database)));
    std::string output;
    QCOMPARE(runProgram({"certutil", "-N", "--empty-password", "-d", "sql:" + database}, output),
             0);
    runProgram({"certutil", "-L", "-d", "sql:" + database}, output);
    const std::string before = output;

    HttpsCommands commands(nullptr, nullptr);
    SettingsFile settings;
    TrustStore store(settings);
    // Cancelled at the question: nothing changes.
    qputenv("TIDEWELL_AUTO_ANSWER", "cancel");
    commands.onCommand(ID_HTTPS_INSTALL_CA);
    QVERIFY(store.installed().empty());
    qputenv("TIDEWELL_AUTO_ANSWER", "ok");
    commands.onCommand(ID_HTTPS_INSTALL_CA);
    QCOMPARE(store.installed().size(), std::size_t(1));
    runProgram({"certutil", "-L", "-d", "sql:" + database}, output);
    QVERIFY(output.find(TrustStore::nickname(commands.interception()->root())) !=
            std::string::npos);

    commands.onCommand(ID_HTTPS_REMOVE_CA);
    QVERIFY(store.installed().empty());
    runProgram({"certutil", "-L", "-d", "sql:" + database}, output);
    QCOMPARE(output, before);
}

void HttpsCommandsTest::passThroughAndExportUseTheirDialogs() {
    HttpsCommands commands(nullptr, nullptr);
    NextDialog edit([](QDialog* dialog) {
        auto* input = qobject_cast<QInputDialog*>(dialog);
        QVERIFY(input);
        input->setTextValue("*.bank.example\npinned.test");
        input->accept();
    });
    commands.onCommand(ID_HTTPS_PASS_THROUGH);
    QVERIFY(edit.done);
    QVERIFY(commands.interception()->passThrough().matches("www.bank.example"));
    QCOMPARE(HttpsOptions::load(SettingsFile()).passThrough,
             std::string("*.bank.example\npinned.test\n"));

    const QString target = home_->path() + "/exported.pem";
    NextDialog save([&](QDialog* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files);
        QCOMPARE(QFileInfo(files->selectedFiles().value(0)).fileName(),
                 QString("tidewell-root-ca.pem"));
        files->selectFile(target);
        static_cast<QDialog*>(files)->accept();
    });
    commands.onCommand(ID_HTTPS_EXPORT_CA);
    QVERIFY(save.done);
    QCOMPARE(readFile(target), commands.interception()->root().certificatePem());
    QVERIFY(readFile(target).find("PRIVATE") == std::string::npos);
}

void HttpsCommandsTest::browserStartsCapturingDecrypted() {
    // A stand-in Chromium, the only browser on the path.
    QTemporaryDir bin;
    const QString seen = home_->path() + "/seen";
    QFile fake(bin.path() + "/chromium");
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write(
        ("#!/bin/sh\nfor a; do echo \"$a\"; done > '" + seen + "'\n: > '" + seen + ".done'\n")
            .toUtf8());
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ":/usr/bin:/bin");
    // Asked which browser when Firefox is installed too: Chromium.
    qputenv("TIDEWELL_AUTO_ANSWER", "yes");

    ScriptedDocumentUi ui;
    QueueDelivery delivery;
    NoSettings settings;
    Document document(ui, delivery, settings);
    QVERIFY(document.newDocument());
    document.proxy.configuredPort = 0;
    document.proxy.manageSystemSettings = false;
    HttpsCommands commands(&document, nullptr);
    QCOMPARE(document.proxy.https.get(), commands.interception().get());
    commands.onCommand(ID_HTTPS_OPEN_BROWSER);
    qputenv("PATH", oldPath);
    QVERIFY(document.isCapturing());
    QVERIFY(commands.interception()->decrypt());
    QTRY_VERIFY(QFile::exists(seen + ".done"));
    const QString args = QString::fromStdString(readFile(seen));
    QVERIFY2(
        args.contains(QString("--proxy-server=http://127.0.0.1:%1\n").arg(document.proxy.port())),
        qPrintable(args));
    QVERIFY(!args.contains("--ignore-certificate-errors"));

    // A browser that quits at once is told about, not taken for started.
    QVERIFY(fake.open(QIODevice::WriteOnly | QIODevice::Truncate));
    fake.write("#!/bin/sh\nexit 1\n");
    fake.close();
    QTemporaryDir logs;
    const QString errors = logs.path() + "/stderr";
    const int savedStderr = ::dup(STDERR_FILENO);
    const int file = ::open(errors.toLocal8Bit().constData(), O_WRONLY | O_CREAT, 0600);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    qputenv("PATH", bin.path().toUtf8() + ":/usr/bin:/bin");
    commands.onCommand(ID_HTTPS_OPEN_BROWSER);
    qputenv("PATH", oldPath);
    char expected[256];
    std::snprintf(expected, sizeof expected, loadString(IDS_BROWSER_EXITED), "Chromium", 1);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(errors).find(std::string("tidewell-question: ") + expected) !=
                                 std::string::npos,
                             10000);
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    document.stopCapture();
}

QTEST_MAIN(HttpsCommandsTest)
#include "https_commands_test.moc"
