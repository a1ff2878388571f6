// The document's questions and messages as the application's message boxes,
// and its status text on the main window's status bar.
#pragma once

#include "store/DocumentUi.h"

#include <QPointer>

#include <QMainWindow>

class ShellDocumentUi : public DocumentUi {
public:
    // The window the boxes belong to and whose status bar shows the text;
    // none is fine (boxes then have no parent).
    void setWindow(QMainWindow* window) { window_ = window; }

    bool askOkCancel(const std::string& text) override;
    Answer askYesNoCancel(const std::string& text) override;
    void showMessage(const std::string& text) override;
    void setStatusText(const std::string& text) override;

private:
    QPointer<QMainWindow> window_;
};
