#include "ui/shell/WebSnagger.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "resources/Version.h"
#include "store/Document.h"
#include "sysproxy/LanguageSetting.h"
#include "sysproxy/ProxyGuardian.h"
#include "sysproxy/SettingsFile.h"
#include "sysproxy/SystemProxy.h"
#include "ui/panes/Image.h"
#include "ui/panes/TextRender.h"
#include "ui/shell/AboutDialog.h"
#include "ui/shell/AutoUpdate.h"
#include "ui/shell/DataFiles.h"
#include "ui/shell/InstanceLock.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/MessageBoxes.h"
#include "ui/shell/TestHooks.h"
#include "ui/shell/TestProbe.h"
#include "ui/shell/ToolkitTexts.h"
#include "ui/shell/UiEventDelivery.h"

#include <QApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QScreen>
#include <QSocketNotifier>
#include <QUrl>
#include <QUuid>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

WebSnagger* theApp = nullptr;

// Termination signals are turned into an event of the user-interface thread
// through this pipe: a signal handler may do nothing more than write to it.
int signalPipe[2] = {-1, -1};

void onTerminationSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// Without a display Qt ends the process with SIGABRT and advice to reinstall:
// the user is told what is missing and what works without one instead.
void sayGraphicalSessionNeeded() {
    std::fprintf(stderr, "tidewell: %s\n", loadString(IDS_NEEDS_GRAPHICAL_SESSION));
}

bool hasGraphicalSession(const QStringList& arguments) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return arguments.contains(QLatin1String("-platform"));
}

// A display that is named but cannot be reached fails inside the toolkit's
// start, as a fatal message.
QtMessageHandler toolkitMessages = nullptr;

void onToolkitStartMessage(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type != QtFatalMsg) {
        // Which display could not be reached, and why: worth keeping.
        if (toolkitMessages)
            toolkitMessages(type, context, message);
        return;
    }
    sayGraphicalSessionNeeded();
    std::fflush(stderr);
    ::_exit(1);
}

} // namespace

WebSnagger::WebSnagger(int& argc, char** argv) : argc_(argc), argv_(argv) {
    theApp = this;
    for (int i = 1; i < argc; ++i)
        arguments_ << QString::fromLocal8Bit(argv[i]);
}

WebSnagger::~WebSnagger() {
    if (theApp == this)
        theApp = nullptr;
}

WebSnagger* WebSnagger::instance() {
    return theApp;
}

int WebSnagger::run() {
    int code = 0;
    if (initInstance()) {
        code = application_->exec();
        closeDocument(false);
    } else {
        code = exitCode_;
    }
    // The frame and the document go before the application's own exit steps.
    if (mainWindow_) {
        documentUi.setWindow(nullptr);
        delete mainWindow_;
    }
    document_.reset();
    exitInstance();
    return code;
}

bool WebSnagger::initInstance() {
    productVersion = QString::fromUtf8(programVersion());
    if (!takeOptions())
        return false;
    std::string id;
    if (SettingsFile().readString(kUserKey, kUserIdValue, id))
        userId = QString::fromStdString(id);

    // The whole command line, compared exactly: " install" or "INSTALL" is
    // not the word.
    const QString commandLine = arguments_.join(QLatin1Char(' '));
    if (commandLine == QLatin1String("install")) {
        createUserId();
        return false;
    }
    if (commandLine == QLatin1String("uninstall")) {
        AutoUpdate::sendUninstallNotification(productVersion.toStdString(), userId.toStdString());
        return false;
    }

    if (!hasGraphicalSession(arguments_)) {
        sayGraphicalSessionNeeded();
        exitCode_ = 1;
        return false;
    }

    // Forked before the toolkit starts any thread.
    ProxyGuardian::start();
    createApplication();

    instanceMutex = new InstanceLock(QString::fromLatin1(kInstanceName), this);
    if (!instanceMutex->acquire())
        return handOverToRunningInstance();
    connect(instanceMutex, &InstanceLock::commandReceived, this, [this](int command) {
        traceEvent(QByteArray("command: " + QByteArray::number(command)).constData());
        if (command == kShowCommand)
            showMainWindow();
    });
    watchTerminationSignals();

    imageLibrary_ = std::make_unique<FreeImageLibrary>();
    // Sockets need no library start here; what remains of it is that a peer
    // closing mid-send must fail the send, not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    // A capture command that runs now set the flag, not a crash: its
    // settings and flag stay its own.
    if (!SystemProxy::heldByRunningCapture()) {
        recoverProxySettings();
        backUpProxySettings();
        ownsCrashFlag_ = true;
    }
    if (terminating_)
        return false;

    TextRender::createShared();

    if (!createMainWindow() || terminating_)
        return false;
    // A folder on a read-only file system is still browsed and exported.
    if (!document_->newDocument(Document::FolderUse::WriteOrRead)) {
        exitCode_ = 1;
        return false;
    }
    // Desktops without a window manager ignore "maximised": fill the screen
    // by hand as well.
    if (const QScreen* screen = mainWindow_->screen())
        mainWindow_->setGeometry(screen->availableGeometry());
    mainWindow_->showMaximized();
    TestProbe::startIfRequested(mainWindow_);
    traceEvent("ready");
    return true;
}

int WebSnagger::exitInstance() {
    TextRender::deleteShared();
    imageLibrary_.reset();
    // Only the running instance owns the crash flag: a second instance, or
    // "install" next to a running one, must not clear it.
    const bool running = instanceMutex && instanceMutex->held();
    delete instanceMutex;
    instanceMutex = nullptr;
    if (running && ownsCrashFlag_)
        SystemProxy::clearCrashFlag();
    if (signalNotifier_) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        delete signalNotifier_;
        signalNotifier_ = nullptr;
    }
    application_.reset();
    return 0;
}

bool WebSnagger::takeOptions() {
    // Our own options go before the command-line words are looked at, so
    // that "--lang en install" still installs.
    const Language* flag = nullptr;
    Language asked = Language::English;
    QString badValue;
    bool badLanguage = false;
    for (int i = 0; i < arguments_.size();) {
        const QString& argument = arguments_[i];
        if (argument == QLatin1String("--version")) {
            std::printf("tidewell %s\n", programVersion());
            exitCode_ = 0;
            return false;
        }
        if (argument == QLatin1String("--lang") || argument.startsWith(QLatin1String("--lang="))) {
            const bool joined = argument.size() > 6;
            const QString value = joined                      ? argument.mid(7)
                                  : i + 1 < arguments_.size() ? arguments_[i + 1]
                                                              : QString();
            if (parseLanguageName(value.toStdString(), asked)) {
                flag = &asked;
            } else {
                badLanguage = true;
                badValue = value;
            }
            arguments_.remove(i, joined || i + 1 >= arguments_.size() ? 1 : 2);
            continue;
        }
        ++i;
    }
    LanguageSetting::apply(flag);
    if (badLanguage) {
        std::fprintf(stderr, "tidewell: %s\n",
                     formatString(IDS_LANG_TAKES, qPrintable(badValue)).c_str());
        exitCode_ = 2;
        return false;
    }
    return true;
}

void WebSnagger::createUserId() {
    if (!userId.isEmpty())
        return;
    // 32 lower-case hexadecimal digits of a random GUID.
    const QString id = QUuid::createUuid().toString(QUuid::Id128).toLower();
    if (SettingsFile().writeString(kUserKey, kUserIdValue, id.toStdString()))
        userId = id;
}

void WebSnagger::createApplication() {
    toolkitMessages = qInstallMessageHandler(onToolkitStartMessage);
    application_ = std::make_unique<QApplication>(argc_, argv_);
    qInstallMessageHandler(toolkitMessages);
    QApplication::setOrganizationName(QStringLiteral("Merovex"));
    QApplication::setApplicationName(QStringLiteral("Tidewell"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tidewell"));
    QApplication::setApplicationVersion(productVersion);
    QGuiApplication::setDesktopFileName(QStringLiteral("tidewell"));
    loadProgramResources();
    if (!installToolkitTexts(*application_, currentLanguage()))
        std::fprintf(
            stderr, "%s",
            formatString(IDS_TOOLKIT_TEXTS_MISSING, qPrintable(toolkitTextsFile())).c_str());
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/tidewell/icons/tidewell-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    // Chinese texts, and Chinese in captured pages whatever the language:
    // without the simplified-Chinese face first among the fallbacks, Qt
    // picks the Japanese glyph shapes.
    QFont font = QApplication::font();
    font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK SC")});
    QApplication::setFont(font);
}

bool WebSnagger::handOverToRunningInstance() {
    // The running instance shows its window; this process ends without a
    // message either way.
    instanceMutex->sendCommand(kShowCommand);
    return false;
}

void WebSnagger::watchTerminationSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    signalNotifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &WebSnagger::terminationSignal);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // The terminal it was started from closing.
    sigaction(SIGHUP, &action, nullptr);
}

void WebSnagger::terminationSignal() {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (terminating_)
        return;
    terminating_ = true;
    traceEvent("terminating");
    // No questions: stop capturing (which gives the user's proxy settings
    // back) and keep what was captured.
    closeDocument(false);
    QCoreApplication::exit(0);
}

void WebSnagger::recoverProxySettings() {
    if (!SystemProxy::crashFlag())
        return;
    if (showMessageBox(nullptr, QMessageBox::Information, text(168),
                       QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    if (!SystemProxy::restoreBackup())
        documentUi.showError(lastError());
}

void WebSnagger::backUpProxySettings() {
    // Settings a crash left pointing at a Tidewell listener are not backed
    // up: the backup keeps the user's own.
    SystemProxy::backUp();
}

bool WebSnagger::createMainWindow() {
    delivery_ = std::make_unique<UiEventDelivery>();
    document_ = std::make_unique<Document>(documentUi, *delivery_, profile);

    auto* frame = new MainFrame(document_.get());
    frame->applicationCommands = [this](int id) { return onCommand(id); };
    mainWindow_ = frame;
    documentUi.setWindow(frame);
    frame->startUpdateCheck(productVersion, userId);
    return true;
}

bool WebSnagger::closeDocument(bool ask) {
    return !mainWindow_ || mainWindow_->closeDocument(ask);
}

void WebSnagger::showMainWindow() {
    if (mainWindow_)
        mainWindow_->onCommand(kShowCommand);
}

bool WebSnagger::onCommand(int id) {
    switch (id) {
    case ID_APP_ABOUT:
        appAbout();
        return true;
    case ID_CHECK_UPDATE:
        checkUpdate();
        return true;
    case ID_ONLINE_HELP:
        onlineHelp();
        return true;
    default:
        return false;
    }
}

void WebSnagger::appAbout() {
    AboutDialog dialog(productVersion, mainWindow_);
    dialog.exec();
}

void WebSnagger::checkUpdate() {
    openWebPage(171, true);
}

void WebSnagger::onlineHelp() {
    openWebPage(170, false);
}

void WebSnagger::openWebPage(unsigned stringId, bool withUser) {
    const std::string address = AutoUpdate::formatAddress(
        stringId, productVersion.toStdString(), withUser ? userId.toStdString() : std::string());
    // A failure to open is not reported.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}
