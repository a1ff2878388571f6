// The update check as seen by the main frame: a queued signal when an update
// is available, and the question that offers it.
#pragma once

#include "ui/shell/AutoUpdate.h"

#include <QObject>
#include <QString>

class QWidget;

class UpdateNotifier : public QObject {
    Q_OBJECT
public:
    explicit UpdateNotifier(QObject* parent = nullptr);
    // Cancels and joins the check before the object goes, so no signal is
    // queued for a destroyed receiver.
    ~UpdateNotifier() override;

    // Starts the check with the application's version and user id.
    bool start(const QString& productVersion, const QString& userId);
    // The handler of updateAvailable: when an update is available, asks
    // string 172 (Yes/No) and on Yes opens its address in the browser.
    // A failed open is not reported.
    void offerUpdate(QWidget* parent);

    // Waits for the check to end by itself.
    void wait() { check_.wait(); }
    bool available() const { return check_.available; }
    QString updateUrl() const;

signals:
    // Delivered on this object's thread after the check found "Update-URL".
    void updateAvailable();

private:
    AutoUpdate check_;
};
