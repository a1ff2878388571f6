// The application's one top-level window: the ribbon, the status bar, the
// resource list in the middle and the six detail panes docked around it. It
// routes every command to the view, the document, itself or the application,
// in that order, and tells the ribbon which commands are enabled or checked.
#pragma once

#include "resources/CommandIds.h"
#include "resources/Language.h"
#include "ui/shell/ProfileSettings.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class Document;
class DockablePane;
class HttpsCommands;
class QLabel;
class Ribbon;
class ResourceListView;
class UpdateNotifier;

class MainFrame : public QMainWindow {
    Q_OBJECT

public:
    // The frame accepts the whole range of style commands; the five looks
    // are 215 to 219.
    static constexpr int ID_VIEW_APPLOOK_FIRST = 205;
    // Posted by a second instance: show the window.
    static constexpr int kShowCommand = 317;

    // The status bar's one element.
    static constexpr int kStatusElementId = 120;

    // Where the dock layout is kept between runs.
    static constexpr const char* kLayoutSection = "Workspace";
    static constexpr const char* kLayoutValue = "MainFrame";
    static constexpr int kLayoutVersion = 1;

    // The frame works without a document too (the panes then show nothing
    // and the document's commands do nothing).
    explicit MainFrame(Document* document, QWidget* parent = nullptr);
    // Keeps the dock layout for the next run.
    ~MainFrame() override;

    // Carries out a command; false when nobody handles it.
    bool onCommand(int id);
    // What the ribbon shows for a command.
    void commandState(int id, bool& enabled, bool& checked) const;

    // Application-level commands (About, the web pages) are handed here.
    std::function<bool(int id)> applicationCommands;

    // Starts the background update check; an available update is offered
    // with a question once the check reports it.
    void startUpdateCheck(const QString& productVersion, const QString& userId);
    UpdateNotifier* updateNotifier() const { return updateNotifier_; }

    // The document's exit step: with ask, the keep-the-captures question
    // (false when the user cancels); without, capturing stops and the
    // captures are kept. Runs once; later calls return true.
    bool closeDocument(bool ask);

    // The status bar's element 120, redrawn at once.
    void setStatusText(const QString& text);
    QLabel* statusElement() const { return statusElement_; }

    // The pane with that control id (32802..32807), or null.
    DockablePane* pane(int id) const;
    // In creation order.
    const std::vector<DockablePane*>& panes() const { return panes_; }
    ResourceListView* listView() const { return listView_; }
    Ribbon* ribbon() const { return ribbon_; }
    HttpsCommands* httpsCommands() const { return https_; }

    // Shows the pane of that command id where it was docked and activates it.
    void showPane(int id);
    // Shows the window in front of the others (command 317).
    void showFrame();

    // Docks the panes in the first-run arrangement.
    void applyDefaultLayout();
    bool restoreLayout();
    void saveLayout();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createRibbon();
    void createStatusBar();
    void createPanes();
    void createShortcuts();
    bool documentCommand(int id);
    bool frameCommand(int id);
    // Keeps the language chosen in the options menu for the next start.
    void setLanguageChoice(LanguageChoice choice);

    Document* document_ = nullptr;
    Ribbon* ribbon_ = nullptr;
    QLabel* statusElement_ = nullptr;
    ResourceListView* listView_ = nullptr;
    std::vector<DockablePane*> panes_;
    std::vector<int> paneIds_;
    UpdateNotifier* updateNotifier_ = nullptr;
    HttpsCommands* https_ = nullptr;
    ProfileSettings profile_;
    LanguageChoice languageChoice_ = LanguageChoice::System;
    bool documentClosed_ = false;
    bool defaultSizesPending_ = false;
    // A saved layout is laid down again once the window has its final size: dock sizes
    // restored into a window of another size are squeezed or stretched.
    QByteArray pendingLayout_;
};
