// The real dialogs of an export: the file dialogs and the program's message boxes.
#pragma once

#include "ui/browser/Export.h"

#include <QString>

class QWidget;

class ExportDialogs : public ExportUi {
public:
    // Dialogs and boxes are modal to `parent` (the list view).
    explicit ExportDialogs(QWidget* parent);
    ~ExportDialogs() override;

    bool chooseFolder(std::string& folder) override;
    bool chooseSaveFile(const std::string& defaultName, std::string& path) override;
    Answer ask(const std::string& text, Icon icon, bool withCancel) override;
    Answer choose(const std::string& text, const std::string& first,
                  const std::string& second) override;
    void showStatus(const std::string& text) override;
    void showMessage(const std::string& text) override;
    void setBusy(bool busy) override;

    // Where the next export goes unless the user picks another folder: the
    // home folder at first, then the folder last exported into.
    static QString lastFolder();

private:
    QWidget* parent_;
    int busy_ = 0;
};
