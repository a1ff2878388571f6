// The real program, run offscreen in a private home: the command-line words,
// one instance per user, and crash recovery of the proxy settings.
#include "resources/StringTable.h"
#include "resources/Version.h"
#include "sysproxy/ProxySettings.h"
#include "sysproxy/SettingsFile.h"
#include "sysproxy/SystemProxy.h"

#include "StubService.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(TIDEWELL_BINARY_DIR "/ui/tidewell");
// Hang guard for every wait; no run of the program takes near this long.
constexpr int kPatienceMs = 30000;

// A port of Tidewell's range that nothing can listen on while this lives: bound, never
// listening, so a connection to it is refused. Settings pointing at it look like those a
// killed capture left, whatever else runs on the machine.
class DeadListenerPort {
public:
    DeadListenerPort() {
        for (int port = SystemProxy::kFirstPort;
             port < SystemProxy::kFirstPort + SystemProxy::kPortCount; ++port) {
            fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(std::uint16_t(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                port_ = port;
                return;
            }
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~DeadListenerPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A private home, settings, data and runtime folder for the program and for
// the desktop settings tool.
class Sandbox {
public:
    Sandbox() {
        for (const char* name : {"home", "config", "data", "runtime"})
            QDir(dir.path()).mkpath(name);
        QFile::setPermissions(dir.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.filePath("home"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));
        env.insert("GSETTINGS_BACKEND", "keyfile");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TIDEWELL_UPDATE_SERVER", ""); // no update check
        env.insert("TIDEWELL_TEST_TRACE", "1");
        env.insert("TIDEWELL_AUTO_ANSWER", "no");
    }

    SettingsFile settings() const {
        return SettingsFile(dir.filePath("config/Merovex/Tidewell.conf").toStdString());
    }
    std::uint32_t crashFlag() const {
        std::uint32_t flag = 0xFFFF;
        settings().readDword(ProxySettings::kBackupKey, "", flag);
        return flag;
    }
    QString userId() const {
        std::string id;
        settings().readString("Software\\Merovex", "UserID", id);
        return QString::fromStdString(id);
    }

    // The desktop settings tool in the same private settings.
    QString gsettings(const QStringList& arguments) const {
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start("gsettings", arguments);
        if (!tool.waitForFinished(kPatienceMs) || tool.exitCode() != 0)
            qWarning() << "gsettings" << arguments << tool.readAllStandardError();
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
};

// One run of the program; its trace lines arrive on standard error.
class Run {
public:
    Run(const Sandbox& sandbox, const QStringList& arguments = {},
        const QString& answer = QString())
        : Run(sandbox.env, arguments, answer) {}
    Run(QProcessEnvironment env, const QStringList& arguments, const QString& answer = QString()) {
        if (!answer.isEmpty())
            env.insert("TIDEWELL_AUTO_ANSWER", answer);
        process.setProcessEnvironment(env);
        process.setReadChannel(QProcess::StandardError);
        process.start(kProgram, arguments);
    }
    ~Run() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kPatienceMs);
        }
    }

    // Waits until standard error holds `line` (or the program ended).
    bool waitFor(const QByteArray& line) {
        QDeadlineTimer deadline(kPatienceMs);
        for (;;) {
            output += process.readAllStandardError();
            if (output.contains(line + '\n'))
                return true;
            if (process.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        }
    }
    bool finish() {
        const bool done = process.waitForFinished(kPatienceMs);
        output += process.readAllStandardError();
        return done && process.exitStatus() == QProcess::NormalExit;
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process.processId()), number); }

    QProcess process;
    QByteArray output;
};

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(QFile::exists(kProgram), qPrintable(kProgram)); }
    void secondStartHandsOverToTheFirst();
    void installWritesTheUserIdOnce();
    void wordsRunWithoutADisplay();
    void onlyTheExactWordInstalls_data();
    void onlyTheExactWordInstalls();
    void killedRunOffersTheRestore_data();
    void killedRunOffersTheRestore();
};

void ApplicationTest::secondStartHandsOverToTheFirst() {
    Sandbox sandbox;
    Run first(sandbox);
    QVERIFY2(first.waitFor("tidewell-ready"), first.output);
    QCOMPARE(sandbox.crashFlag(), 1u);

    Run second(sandbox);
    QVERIFY(second.finish());
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(!second.output.contains("tidewell-ready"));
    QVERIFY2(first.waitFor("tidewell-command: 317"), first.output);
    // The second process must not have cleared the running instance's flag.
    QCOMPARE(sandbox.crashFlag(), 1u);

    first.process.terminate();
    QVERIFY(first.finish());
    QCOMPARE(first.process.exitCode(), 0);
    QCOMPARE(sandbox.crashFlag(), 0u);
}

void ApplicationTest::installWritesTheUserIdOnce() {
    Sandbox sandbox;
    Run install(sandbox, {"install"});
    QVERIFY(install.finish());
    QCOMPARE(install.process.exitCode(), 0);
    const QString id = sandbox.userId();
    QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(id).hasMatch(), qPrintable(id));
    QVERIFY(!install.output.contains("tidewell-ready"));

    Run again(sandbox, {"install"});
    QVERIFY(again.finish());
    QCOMPARE(sandbox.userId(), id);
}

void ApplicationTest::wordsRunWithoutADisplay() {
    Sandbox sandbox;
    StubService vendor("HTTP/1.0 200 OK\r\n\r\n");
    QProcessEnvironment env = sandbox.env;
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    env.insert("TIDEWELL_UPDATE_SERVER", vendor.server());

    Run install(env, {"install"});
    QVERIFY(install.finish());
    QCOMPARE(install.process.exitCode(), 0);
    const QString id = sandbox.userId();
    QVERIFY(!id.isEmpty());

    Run uninstall(env, {"uninstall"});
    QVERIFY2(uninstall.finish(), uninstall.output);
    QCOMPARE(uninstall.process.exitCode(), 0);
    const std::string request = vendor.request();
    QVERIFY2(QByteArray::fromStdString(request).startsWith(
                 "GET /uninstall.php?p=tidewell&v=" + QByteArray(programVersion()) + "&l=zh-CN&u=" +
                 id.toLatin1() +
                 " HTTP/1.0\r\nUser-Agent: Tidewell\r\n"),
             request.c_str());
    // Neither word touches the crash flag.
    QCOMPARE(sandbox.crashFlag(), 0xFFFFu);
}

void ApplicationTest::onlyTheExactWordInstalls_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("leading blank") << QStringList{" install"};
    QTest::newRow("capitals") << QStringList{"INSTALL"};
    QTest::newRow("more words") << QStringList{"install", "now"};
}

void ApplicationTest::onlyTheExactWordInstalls() {
    QFETCH(QStringList, arguments);
    Sandbox sandbox;
    Run run(sandbox, arguments);
    QVERIFY2(run.waitFor("tidewell-ready"), run.output);
    QVERIFY(sandbox.userId().isEmpty());
    run.signal(SIGINT);
    QVERIFY(run.finish());
    QCOMPARE(sandbox.crashFlag(), 0u);
}

void ApplicationTest::killedRunOffersTheRestore_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("restores");
    QTest::newRow("yes restores") << "yes" << true;
    QTest::newRow("no keeps") << "no" << false;
}

void ApplicationTest::killedRunOffersTheRestore() {
    QFETCH(QString, answer);
    QFETCH(bool, restores);
    const DeadListenerPort dead;
    QVERIFY(dead.port() > 0);
    const QString deadPort = QString::number(dead.port());
    const QString portAfter = restores ? QStringLiteral("3128") : deadPort;
    Sandbox sandbox;
    const QString proxy = "org.gnome.system.proxy", http = "org.gnome.system.proxy.http";
    sandbox.gsettings({"set", http, "host", "127.0.0.1"});
    sandbox.gsettings({"set", http, "port", "3128"});
    sandbox.gsettings({"set", proxy, "ignore-hosts", "['localhost', '*.internal']"});
    sandbox.gsettings({"set", proxy, "mode", "manual"});

    {
        Run killed(sandbox);
        QVERIFY2(killed.waitFor("tidewell-ready"), killed.output);
        QVERIFY(!killed.output.contains("tidewell-question"));
        // What capturing does to the settings, then a crash.
        sandbox.gsettings({"set", http, "port", deadPort});
        sandbox.gsettings({"set", proxy, "ignore-hosts", "@as []"});
        killed.process.kill();
        QVERIFY(killed.process.waitForFinished(kPatienceMs));
    }
    QCOMPARE(sandbox.crashFlag(), 1u);

    // The killed run left its socket file behind; it must not block this one.
    Run next(sandbox, {}, answer);
    QVERIFY2(next.waitFor("tidewell-ready"), next.output);
    QVERIFY2(next.output.contains(QByteArray("tidewell-question: ") + loadString(168)),
             next.output);
    QCOMPARE(sandbox.gsettings({"get", http, "port"}), portAfter);
    QCOMPARE(sandbox.gsettings({"get", http, "host"}), QString("'127.0.0.1'"));
    QCOMPARE(sandbox.gsettings({"get", proxy, "mode"}), QString("'manual'"));
    QCOMPARE(sandbox.gsettings({"get", proxy, "ignore-hosts"}),
             answer == "yes" ? QString("['localhost', '*.internal']") : QString("@as []"));
    next.process.terminate();
    QVERIFY(next.finish());
    QCOMPARE(sandbox.crashFlag(), 0u);
}

QTEST_GUILESS_MAIN(ApplicationTest)
#include "application_test.moc"
