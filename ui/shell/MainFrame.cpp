#include "ui/shell/MainFrame.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/Document.h"
#include "sysproxy/LanguageSetting.h"
#include "sysproxy/SettingsFile.h"
#include "ui/browser/ExportCommands.h"
#include "ui/browser/ResourceListView.h"
#include "ui/panes/AddressParameterView.h"
#include "ui/panes/DataView.h"
#include "ui/panes/DockablePane.h"
#include "ui/panes/RequestHeaderView.h"
#include "ui/panes/ResourcePreviewView.h"
#include "ui/panes/ResponseHeaderView.h"
#include "ui/panes/WebSocketMessagesView.h"
#include "ui/shell/HttpsCommands.h"
#include "ui/shell/MessageBoxes.h"
#include "ui/shell/ProfileSettings.h"
#include "ui/shell/Ribbon.h"
#include "ui/shell/UpdateNotifier.h"
#include "ui/shell/VisualStyle.h"
#include "ui/shell/WebSnagger.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

template <typename Pane> DockablePane* makePane(const QString& title, QWidget* parent) {
    auto* pane = new Pane(parent);
    pane->setWindowTitle(title);
    return pane;
}

// The six panes in creation order: caption string, control id, the name by
// which layouts and tests find it.
struct PaneKind {
    unsigned caption;
    int id;
    const char* name;
    DockablePane* (*create)(const QString& title, QWidget* parent);
};

const PaneKind kPaneKinds[] = {
    {163, ID_VIEW_ADDRESS_PARAMETER, "AddressParameterView", makePane<AddressParameterView>},
    {122, ID_VIEW_REQUEST_HEADER, "RequestHeaderView", makePane<RequestHeaderView>},
    {123, ID_VIEW_REQUEST_DATA, "RequestDataView", makePane<RequestDataView>},
    {124, ID_VIEW_RESPONSE_HEADER, "ResponseHeaderView", makePane<ResponseHeaderView>},
    {125, ID_VIEW_RESPONSE_DATA, "ResponseDataView", makePane<ResponseDataView>},
    {126, ID_VIEW_RESOURCE_PREVIEW, "ResourcePreviewView", makePane<ResourcePreviewView>},
    {IDS_PANE_WEBSOCKET_MESSAGES, ID_VIEW_WEBSOCKET_MESSAGES, "WebSocketMessagesView",
     makePane<WebSocketMessagesView>},
};

// The panes' first size: 300 by 300, as they are created.
constexpr int kPaneExtent = 300;

// The language entries of the options menu, in their order.
constexpr std::pair<int, LanguageChoice> kLanguageCommands[] = {
    {ID_LANGUAGE_SYSTEM, LanguageChoice::System},
    {ID_LANGUAGE_ENGLISH, LanguageChoice::English},
    {ID_LANGUAGE_CHINESE, LanguageChoice::Chinese},
};

} // namespace

MainFrame::MainFrame(Document* document, QWidget* parent)
    : QMainWindow(parent), document_(document) {
    // A second instance finds the running one under this name.
    setObjectName(QString::fromLatin1(WebSnagger::kMainWindowName));
    setWindowTitle(QApplication::applicationDisplayName().isEmpty()
                       ? QStringLiteral("Tidewell")
                       : QApplication::applicationDisplayName());
    setDockOptions(QMainWindow::AllowTabbedDocks | QMainWindow::AllowNestedDocks |
                   QMainWindow::AnimatedDocks);

    languageChoice_ = LanguageSetting::read(SettingsFile());
    https_ = new HttpsCommands(document_, this);
    // The view comes first: the ribbon asks it for its commands' states as
    // soon as it exists.
    listView_ = new ResourceListView(this);
    if (listView_->objectName().isEmpty())
        listView_->setObjectName(QStringLiteral("ResourceListView"));
    setCentralWidget(listView_);
    // The list's export commands run with the file dialogs and questions.
    ExportCommands::attach(*listView_);
    if (document_)
        listView_->attach(document_);

    createRibbon();
    createStatusBar();
    createPanes();
    applyDefaultLayout();
    restoreLayout();
    // The look the user chose last time (the first run gets the blue one).
    restoreVisualStyle(profile_);
    createShortcuts();
    // Sees the program's dialogs close (below).
    qApp->installEventFilter(this);

    updateNotifier_ = new UpdateNotifier(this);
    connect(updateNotifier_, &UpdateNotifier::updateAvailable, this,
            [this] { updateNotifier_->offerUpdate(this); });
}

MainFrame::~MainFrame() {
    // The update check goes first: its thread must not outlive the frame.
    delete updateNotifier_;
    updateNotifier_ = nullptr;
    saveLayout();
}

void MainFrame::createRibbon() {
    ribbon_ = Ribbon::createMainRibbon(this);
    ribbon_->setObjectName(QStringLiteral("Ribbon"));
    connect(ribbon_, &Ribbon::commandTriggered, this, [this](int id) { onCommand(id); });
    ribbon_->setStateProvider(
        [this](int id, bool& enabled, bool& checked) { commandState(id, enabled, checked); });
    setMenuWidget(ribbon_);
}

void MainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    statusElement_ = new QLabel(text(107), bar);
    statusElement_->setObjectName(QStringLiteral("StatusText"));
    statusElement_->setProperty("elementId", kStatusElementId);
    statusElement_->setContentsMargins(4, 0, 4, 0);
    bar->addWidget(statusElement_, 1);
}

void MainFrame::createPanes() {
    for (const PaneKind& kind : kPaneKinds) {
        DockablePane* pane = kind.create(text(kind.caption), this);
        if (pane->objectName().isEmpty())
            pane->setObjectName(QString::fromLatin1(kind.name));
        pane->setProperty("controlId", kind.id);
        pane->setAllowedAreas(Qt::AllDockWidgetAreas);
        pane->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                          QDockWidget::DockWidgetFloatable);
        pane->resize(kPaneExtent, kPaneExtent);
        if (document_)
            pane->attach(document_);
        connect(listView_, &ResourceListView::currentResourceCompleted, pane,
                &DockablePane::resourceCompleted);
        panes_.push_back(pane);
        paneIds_.push_back(kind.id);
    }
}

void MainFrame::applyDefaultLayout() {
    DockablePane* address = pane(ID_VIEW_ADDRESS_PARAMETER);
    DockablePane* preview = pane(ID_VIEW_RESOURCE_PREVIEW);
    for (DockablePane* each : panes_) {
        each->setFloating(false);
        removeDockWidget(each);
    }
    addDockWidget(Qt::BottomDockWidgetArea, address);
    splitDockWidget(address, preview, Qt::Horizontal);
    for (int id : {ID_VIEW_REQUEST_HEADER, ID_VIEW_REQUEST_DATA, ID_VIEW_RESPONSE_HEADER,
                   ID_VIEW_RESPONSE_DATA, ID_VIEW_WEBSOCKET_MESSAGES})
        tabifyDockWidget(address, pane(id));
    for (DockablePane* each : panes_)
        each->show();
    // Tabs join without becoming the one shown: the first keeps the front.
    address->raise();
    // The sizes only hold once the window has its own.
    defaultSizesPending_ = true;
}

void MainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!pendingLayout_.isEmpty()) {
        restoreState(pendingLayout_, kLayoutVersion);
        pendingLayout_.clear();
    }
    if (defaultSizesPending_) {
        defaultSizesPending_ = false;
        resizeDocks({pane(ID_VIEW_ADDRESS_PARAMETER)}, {kPaneExtent}, Qt::Vertical);
        // A third of a wide screen: pictures and text need the room more
        // than the parameter lists.
        resizeDocks({pane(ID_VIEW_RESOURCE_PREVIEW)}, {std::max(kPaneExtent, width() / 3)},
                    Qt::Horizontal);
    }
}

bool MainFrame::restoreLayout() {
    std::string state;
    if (!SettingsFile().readBinary(ProfileSettings::sectionKey(kLayoutSection), kLayoutValue,
                                   state))
        return false;
    const QByteArray layout = QByteArray::fromStdString(state);
    if (!restoreState(layout, kLayoutVersion))
        return false;
    defaultSizesPending_ = false;
    if (!isVisible())
        pendingLayout_ = layout;
    return true;
}

void MainFrame::saveLayout() {
    const QByteArray state = saveState(kLayoutVersion);
    SettingsFile().writeBinary(ProfileSettings::sectionKey(kLayoutSection), kLayoutValue,
                               state.toStdString());
}

void MainFrame::createShortcuts() {
    // What a desktop user reaches for without looking: copy and select all
    // in the list, quit and help.
    auto* copy = new QShortcut(QKeySequence::Copy, listView_, nullptr, nullptr,
                               Qt::WidgetWithChildrenShortcut);
    connect(copy, &QShortcut::activated, this,
            [this] { listView_->contextCommand(ID_COPY_ADDRESS); });
    auto* selectAll = new QShortcut(QKeySequence::SelectAll, listView_, nullptr, nullptr,
                                    Qt::WidgetWithChildrenShortcut);
    connect(selectAll, &QShortcut::activated, this, [this] {
        ListTreeCtrl* tree = listView_->tree();
        if (ListTreeItem first = tree->itemAtRow(0))
            tree->SelectRange(first, tree->lastVisible(), false);
    });
    // The filter above the list, from anywhere in the window.
    auto* find = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(find, &QShortcut::activated, listView_, &ResourceListView::focusFilter);
    // Spelled out: some desktops' standard bindings leave Quit empty.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { onCommand(ID_ONLINE_HELP); });
}

DockablePane* MainFrame::pane(int id) const {
    for (std::size_t i = 0; i < panes_.size(); ++i) {
        if (paneIds_[i] == id)
            return panes_[i];
    }
    return nullptr;
}

bool MainFrame::onCommand(int id) {
    // The view first, then the document, the frame and the application.
    const bool handled = listView_->onCommand(id) || documentCommand(id) || https_->onCommand(id) ||
                         frameCommand(id) || (applicationCommands && applicationCommands(id));
    // The ribbon shows the outcome (start and stop swap) at once.
    ribbon_->refreshStates();
    return handled;
}

bool MainFrame::documentCommand(int id) {
    switch (id) {
    case ID_CATCH_START:
        if (document_ && !document_->isCapturing())
            document_->startCapture();
        return true;
    case ID_CATCH_STOP:
        if (document_ && document_->isCapturing())
            document_->stopCapture();
        return true;
    case ID_RESOURCES_CLEAR:
        if (document_)
            document_->clearAll();
        return true;
    case ID_PREVENT_CACHE:
        if (document_)
            document_->togglePreventCache();
        return true;
    case ID_CATCH_OPTIONS:
        return true;
    default:
        return false;
    }
}

bool MainFrame::frameCommand(int id) {
    if (id == kShowCommand) {
        showFrame();
        return true;
    }
    if (id >= ID_VIEW_WINDOWS && id <= ID_VIEW_WEBSOCKET_MESSAGES) {
        showPane(id);
        return true;
    }
    if (id >= MainFrame::ID_VIEW_APPLOOK_FIRST && id <= ID_VIEW_APPLOOK_WINDOWS_7) {
        // Ids of the range that name no look change nothing.
        switchVisualStyle(id, profile_);
        return true;
    }
    for (const auto& [command, choice] : kLanguageCommands) {
        if (id == command) {
            setLanguageChoice(choice);
            return true;
        }
    }
    return false;
}

void MainFrame::setLanguageChoice(LanguageChoice choice) {
    if (choice == languageChoice_)
        return;
    SettingsFile settings;
    if (!LanguageSetting::write(settings, choice)) {
        showMessageBox(this, QMessageBox::Warning, QString::fromStdString(errorText(lastError())));
        return;
    }
    languageChoice_ = choice;
    // Every window of the program was built in the language it started with; the new one is
    // said in the language chosen, which the user can read.
    const Language next = ::chooseLanguage(nullptr, choice);
    if (next != currentLanguage())
        showMessageBox(this, QMessageBox::Information,
                       QString::fromUtf8(loadString(IDS_LANGUAGE_NEXT_START, next)));
}

void MainFrame::commandState(int id, bool& enabled, bool& checked) const {
    enabled = true;
    checked = false;
    if (listView_->commandState(id, &enabled, &checked) ||
        https_->commandState(id, enabled, checked))
        return;
    switch (id) {
    case ID_CATCH_START:
        enabled = !document_ || !document_->isCapturing();
        return;
    case ID_CATCH_STOP:
        enabled = document_ && document_->isCapturing();
        return;
    case ID_PREVENT_CACHE:
        checked = document_ && document_->preventCache();
        return;
    default:
        if (id >= MainFrame::ID_VIEW_APPLOOK_FIRST && id <= ID_VIEW_APPLOOK_WINDOWS_7)
            checked = id == currentVisualStyle();
        for (const auto& [command, choice] : kLanguageCommands) {
            if (id == command)
                checked = choice == languageChoice_;
        }
        return;
    }
}

void MainFrame::showPane(int id) {
    DockablePane* target = pane(id);
    if (!target)
        return;
    const bool reopening = target->isHidden();
    target->show();
    // In a tab group this brings its tab to the front.
    target->raise();
    // Left alone, a reopened pane gets what its neighbours spare, narrower each time.
    const QSize last = target->closedSize();
    if (reopening && last.isValid() && !target->isFloating()) {
        resizeDocks({target}, {last.width()}, Qt::Horizontal);
        resizeDocks({target}, {last.height()}, Qt::Vertical);
    }
    target->setFocus(Qt::OtherFocusReason);
}

void MainFrame::showFrame() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainFrame::setStatusText(const QString& text) {
    statusElement_->setText(text);
    statusElement_->repaint();
}

void MainFrame::startUpdateCheck(const QString& productVersion, const QString& userId) {
    updateNotifier_->start(productVersion, userId);
}

bool MainFrame::closeDocument(bool ask) {
    if (documentClosed_ || !document_)
        return true;
    if (ask) {
        if (!document_->saveModified())
            return false;
    } else {
        document_->closeCaptures(true);
    }
    documentClosed_ = true;
    return true;
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    // When a question or a file dialog closes, the keys must come back to the window. Without
    // a window manager nobody hands them back, and the list would look inactive and ignore
    // the keyboard until clicked.
    if (event->type() == QEvent::Hide && watched != this && watched->isWidgetType()) {
        const auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->windowModality() != Qt::NonModal) {
            QTimer::singleShot(0, this, [this] {
                if (isVisible() && !QApplication::activeWindow() &&
                    !QApplication::activeModalWidget() && !QApplication::activePopupWidget())
                    activateWindow();
            });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainFrame::event(QEvent* event) {
    // The ribbon explains its commands in tooltips; prompts in the status
    // bar would hide its one element, the proxy's address.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (!closeDocument(true)) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
