// The HTTPS entries of the capture options menu: decrypting on and off, the
// browser set up for this capture, the hosts never decrypted, and the root
// certificate's install, removal and export.
#pragma once

#include "tls/BrowserLauncher.h"
#include "tls/HttpsInterception.h"

#include <QObject>
#include <QPointer>

#include <memory>

class Document;
class QWidget;

class HttpsCommands : public QObject {
    Q_OBJECT
public:
    // Reads the options the user left; decrypting stays off (and the root
    // unmade) until the user asks for it, or when the root cannot be read.
    HttpsCommands(Document* document, QWidget* window);
    ~HttpsCommands() override;

    // True when `id` is one of the HTTPS commands (carried out then).
    bool onCommand(int id);
    // False when `id` is none of them.
    bool commandState(int id, bool& enabled, bool& checked) const;

    // Shared with the proxy, which may use it on its threads after this
    // object has gone.
    const std::shared_ptr<HttpsInterception>& interception() const { return interception_; }

    void toggleDecrypt();
    void openBrowser();
    void editPassThrough();
    void installRoot();
    void removeRoot();
    void exportRoot();

private:
    // Loads (first use: makes) the root; shows why when it cannot.
    bool prepareRoot();
    void watchStart(BrowserLauncher::Browser browser, pid_t watcher);
    void saveOptions();
    void showText(const QString& text);

    Document* document_;
    QPointer<QWidget> window_;
    std::shared_ptr<HttpsInterception> interception_;
};
