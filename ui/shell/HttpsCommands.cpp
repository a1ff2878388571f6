#include "ui/shell/HttpsCommands.h"

#include "engine/PathErrorText.h"
#include "resources/CommandIds.h"
#include "resources/StringTable.h"
#include "store/Document.h"
#include "sysproxy/SettingsFile.h"
#include "tls/BrowserLauncher.h"
#include "tls/HttpsOptions.h"
#include "tls/TlsError.h"
#include "tls/TrustStore.h"
#include "tls/UserFiles.h"
#include "ui/shell/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QTimer>

#include <sys/wait.h>
#include <thread>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

// The string-table templates are printf's.
template <typename... Texts> QString format(unsigned id, const Texts&... texts) {
    return QString::asprintf(loadString(id), texts.toUtf8().constData()...);
}

QString fromLocal(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString describe(const NssDatabase& db) {
    QString line = db.profile.empty() && db.browser == "Chromium"
                       ? format(IDS_HTTPS_CHROMIUM_DATABASE, fromLocal(db.folder))
                       : format(IDS_HTTPS_FIREFOX_DATABASE, QString::fromStdString(db.profile),
                                fromLocal(db.folder));
    if (!db.exists)
        line += text(IDS_HTTPS_NEW_DATABASE);
    return line;
}

QString lines(const std::vector<std::string>& report) {
    QString out;
    for (const std::string& line : report)
        out += fromLocal(line) + QLatin1Char('\n');
    return out;
}

// The browser's watcher is our child until it ends; nobody else reaps it.
void reapLater(pid_t watcher) {
    std::thread([watcher] {
        int status = 0;
        while (::waitpid(watcher, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

HttpsCommands::HttpsCommands(Document* document, QWidget* window)
    : QObject(window), document_(document), window_(window),
      interception_(std::make_shared<HttpsInterception>()) {
    const HttpsOptions options = HttpsOptions::load(SettingsFile());
    interception_->setPassThrough(options.passThrough);
    if (options.decrypt && interception_->prepare())
        interception_->setDecrypt(true);
    if (document_)
        document_->proxy.https = interception_;
}

HttpsCommands::~HttpsCommands() = default;

bool HttpsCommands::onCommand(int id) {
    switch (id) {
    case ID_HTTPS_DECRYPT:
        toggleDecrypt();
        return true;
    case ID_HTTPS_OPEN_BROWSER:
        openBrowser();
        return true;
    case ID_HTTPS_PASS_THROUGH:
        editPassThrough();
        return true;
    case ID_HTTPS_INSTALL_CA:
        installRoot();
        return true;
    case ID_HTTPS_REMOVE_CA:
        removeRoot();
        return true;
    case ID_HTTPS_EXPORT_CA:
        exportRoot();
        return true;
    default:
        return false;
    }
}

bool HttpsCommands::commandState(int id, bool& enabled, bool& checked) const {
    switch (id) {
    case ID_HTTPS_DECRYPT:
        enabled = true;
        checked = interception_->decrypt();
        return true;
    case ID_HTTPS_OPEN_BROWSER:
    case ID_HTTPS_PASS_THROUGH:
    case ID_HTTPS_INSTALL_CA:
    case ID_HTTPS_REMOVE_CA:
    case ID_HTTPS_EXPORT_CA:
        enabled = true;
        checked = false;
        return true;
    default:
        return false;
    }
}

bool HttpsCommands::prepareRoot() {
    if (interception_->prepare())
        return true;
    const std::uint32_t error = lastError();
    const std::string folder = interception_->folder();
    showText(QString::fromStdString(folder.empty()
                                        ? errorText(error)
                                        : pathErrorText(IDS_ROOT_FOLDER_UNUSABLE, folder, error)));
    return false;
}

void HttpsCommands::saveOptions() {
    HttpsOptions options;
    options.decrypt = interception_->decrypt();
    options.passThrough = interception_->passThrough().text();
    SettingsFile settings;
    options.save(settings);
}

void HttpsCommands::showText(const QString& message) {
    showMessageBox(window_, QMessageBox::NoIcon, message, QMessageBox::Ok);
}

void HttpsCommands::toggleDecrypt() {
    if (interception_->decrypt()) {
        interception_->setDecrypt(false);
        saveOptions();
        return;
    }
    if (!prepareRoot())
        return;
    interception_->setDecrypt(true);
    saveOptions();
    // The quickest way to a browser that accepts our certificates, offered
    // before anything that touches the user's trust stores.
    if (showMessageBox(window_, QMessageBox::Question, text(IDS_HTTPS_OFFER_BROWSER),
                       QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        openBrowser();
}

void HttpsCommands::openBrowser() {
    if (!prepareRoot())
        return;
    using Browser = BrowserLauncher::Browser;
    const bool chromium = !BrowserLauncher::executable(Browser::Chromium).empty();
    const bool firefox = !BrowserLauncher::executable(Browser::Firefox).empty();
    if (!chromium && !firefox) {
        showText(QString::fromStdString(errorText(kErrorNoBrowser)));
        return;
    }
    Browser browser = chromium ? Browser::Chromium : Browser::Firefox;
    if (chromium && firefox) {
        switch (showMessageBox(window_, QMessageBox::Question, text(IDS_HTTPS_CHOOSE_BROWSER),
                               QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                               {{QMessageBox::Yes, QStringLiteral("Chromium")},
                                {QMessageBox::No, QStringLiteral("Firefox")}})) {
        case QMessageBox::Yes:
            break;
        case QMessageBox::No:
            browser = Browser::Firefox;
            break;
        default:
            return;
        }
    }
    // The browser is there to be captured, decrypted.
    if (!interception_->decrypt()) {
        interception_->setDecrypt(true);
        saveOptions();
    }
    if (!document_ || (!document_->isCapturing() && !document_->startCapture()))
        return;
    BrowserLauncher::Launched launched;
    WaitCursor busy;
    if (!BrowserLauncher::launch(browser, document_->proxy.address(), document_->proxy.port(),
                                 interception_->root(), interception_->certificateFile(), {}, {},
                                 true, launched)) {
        showText(QString::fromStdString(errorText(lastError())));
        return;
    }
    watchStart(browser, launched.watcher);
}

// A browser that quits at once (Chromium as root, a broken install) is told
// about; one that runs is left to the user, and reaped when it ends.
void HttpsCommands::watchStart(BrowserLauncher::Browser browser, pid_t watcher) {
    auto* timer = new QTimer(this);
    QElapsedTimer running;
    running.start();
    connect(timer, &QTimer::timeout, this, [this, timer, running, browser, watcher] {
        int status = 0;
        const pid_t ended = ::waitpid(watcher, &status, WNOHANG);
        const bool started = running.elapsed() >= BrowserLauncher::kStartWindowMs;
        if (ended == 0 && !started)
            return;
        timer->stop();
        timer->deleteLater();
        if (ended == 0)
            reapLater(watcher);
        else if (ended == watcher && BrowserLauncher::failed(status))
            showText(QString::fromStdString(BrowserLauncher::failureText(browser, status)));
    });
    timer->start(50);
}

void HttpsCommands::editPassThrough() {
    bool accepted = false;
    const QString current = QString::fromStdString(interception_->passThrough().text());
    const QString edited =
        QInputDialog::getMultiLineText(window_, text(IDS_HTTPS_PASS_THROUGH_TITLE),
                                       text(IDS_HTTPS_PASS_THROUGH_HELP), current, &accepted);
    if (!accepted)
        return;
    interception_->setPassThrough(edited.toStdString());
    saveOptions();
}

void HttpsCommands::installRoot() {
    if (!prepareRoot())
        return;
    SettingsFile settings;
    TrustStore store(settings);
    std::vector<NssDatabase> plan;
    std::vector<std::string> notes;
    {
        WaitCursor busy;
        plan = store.planInstall(interception_->root(), &notes);
    }
    // Databases that hold the root under a name of the user's, and profiles
    // that lead elsewhere, are named, never changed.
    const QString leftAlone =
        notes.empty() ? QString()
                      : QStringLiteral("\n\n") + format(IDS_HTTPS_LEFT_ALONE, lines(notes));
    if (plan.empty()) {
        showText(text(IDS_HTTPS_NOTHING_TO_INSTALL) + leftAlone);
        return;
    }
    QString listed;
    for (const NssDatabase& db : plan)
        listed += describe(db) + QLatin1Char('\n');
    const QString question = format(IDS_HTTPS_INSTALL_QUESTION, listed,
                                    QString::fromStdString(interception_->root().subjectText()),
                                    QString::fromStdString(interception_->root().fingerprint())) +
                             leftAlone;
    if (showMessageBox(window_, QMessageBox::Question, question,
                       QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    std::vector<std::string> report;
    bool done;
    {
        WaitCursor busy;
        done = store.install(interception_->root(), interception_->certificateFile(), plan, report);
    }
    showText(format(done ? IDS_HTTPS_INSTALLED : IDS_HTTPS_NOT_CHANGED, lines(report)));
}

void HttpsCommands::removeRoot() {
    SettingsFile settings;
    TrustStore store(settings);
    if (store.installed().empty()) {
        showText(text(IDS_HTTPS_NOTHING_TO_REMOVE));
        return;
    }
    std::vector<std::string> report;
    bool done;
    {
        WaitCursor busy;
        done = store.remove(report);
    }
    showText(format(done ? IDS_HTTPS_REMOVED : IDS_HTTPS_NOT_CHANGED, lines(report)));
}

void HttpsCommands::exportRoot() {
    if (!prepareRoot())
        return;
    QFileDialog dialog(window_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(text(IDS_HTTPS_CERTIFICATE_FILTER));
    dialog.setDirectory(QDir::homePath());
    dialog.selectFile(QStringLiteral("tidewell-root-ca.pem"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const std::string path = QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
    // The certificate is public; its key never leaves the data folder.
    if (!writeWholeFile(path, interception_->root().certificatePem(), 0644))
        showText(QString::fromStdString(pathErrorText(IDS_FILE_NOT_WRITTEN, path, lastError())));
}
