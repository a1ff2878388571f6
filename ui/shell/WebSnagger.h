// The application object: start-up and exit in their fixed order, the
// command-line words, one instance per user, crash recovery of the proxy
// settings, and the application's own commands.
#pragma once

#include "resources/CommandIds.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/ProfileSettings.h"
#include "ui/shell/ShellDocumentUi.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class Document;
class FreeImageLibrary;
class InstanceLock;
class QApplication;
class QSocketNotifier;
class UiEventDelivery;

// One per process. The Qt application is created only once the run needs a
// user interface, so that "install" and "uninstall" work without a display.
class WebSnagger : public QObject {
    Q_OBJECT
public:
    // What a second instance sends: show the main window.
    static constexpr int kShowCommand = 317;

    static constexpr const char* kInstanceName = "{92362083-DC3C-4ADE-AE3D-C83B28ABFDC3}";
    static constexpr const char* kMainWindowName = "Merovex.HttpSnagger.MainFrame";
    static constexpr const char* kUserKey = "Software\\Merovex";
    static constexpr const char* kUserIdValue = "UserID";

    WebSnagger(int& argc, char** argv);
    ~WebSnagger() override;

    static WebSnagger* instance();

    // initInstance, the event loop when it returned true, then exitInstance.
    int run();
    // False ends the process (after exitInstance).
    bool initInstance();
    int exitInstance();

    // Application commands; true when `id` is one of them.
    bool onCommand(int id);
    void appAbout();
    void checkUpdate();
    void onlineHelp();

    // Before the main window closes: the document's keep-the-captures
    // question (false when the user cancels). With ask false, as on a
    // termination signal: stops capturing and keeps the captures.
    bool closeDocument(bool ask);

    QApplication* application() const { return application_.get(); }
    MainFrame* mainWindow() const { return mainWindow_; }
    Document* document() const { return document_.get(); }

    // The program's version, sent as v= in every web address.
    QString productVersion;
    // The per-user installation id, sent as u=; empty when there is none.
    QString userId;
    // Holds the single-instance lock while this process is the running one.
    InstanceLock* instanceMutex = nullptr;

    ShellDocumentUi documentUi;
    ProfileSettings profile;

private:
    // --version and --lang, taken out of the arguments; false ends the run
    // with exitCode_.
    bool takeOptions();
    void createUserId();
    void createApplication();
    bool handOverToRunningInstance();
    void watchTerminationSignals();
    void terminationSignal();
    void recoverProxySettings();
    void backUpProxySettings();
    bool createMainWindow();
    void showMainWindow();
    void openWebPage(unsigned stringId, bool withUser);

    int& argc_;
    char** argv_;
    QStringList arguments_;
    std::unique_ptr<QApplication> application_;
    std::unique_ptr<UiEventDelivery> delivery_;
    std::unique_ptr<Document> document_;
    QPointer<MainFrame> mainWindow_;
    QSocketNotifier* signalNotifier_ = nullptr;
    std::unique_ptr<FreeImageLibrary> imageLibrary_;
    bool terminating_ = false;
    int exitCode_ = 0;
    // False while a capture command runs and owns the crash flag.
    bool ownsCrashFlag_ = false;
};
