// A window into the running program for whole-program tests.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QTextStream;
class QWidget;

// Active only when the environment variable TIDEWELL_TEST_PROBE names a
// folder: the probe then listens on the local socket "<folder>/probe". A
// client sends one line ("dump") and receives a plain-text description of
// what is on screen, after which the probe closes the connection:
//   window <id> <x> <y> <w> <h> <modal> <class> <title>    every visible top-level window
//   text <class> <text>                                  message texts of dialogs
//   button <x> <y> <enabled> <checked> <class> <text> | <name> | <tool tip>
//   tab <x> <y> <current> <text>                         tabs of visible tab bars
//   menu <x> <y> <enabled> <checked> <text>              items of open menus
//   action <checked> <text>                              checkable actions of the main window
//   status <text>                                        status bar texts
//   style <id>                                           the current visual style (215..219)
//   keytips <shown>                                      whether the ribbon shows its key tips
//   filter <shown> <rows> <text>                         the list's filter: resource rows it
//                                                        keeps, resource rows, the text typed
//   list <rows>                                          the resource list, then one
//   row <depth> <x> <y> <selected> <expanded> <cell>\t<cell>...  line per row shown (x, y: -1
//                                                        when scrolled off screen)
//   pane <visible> <ink> <title>                         each dock pane, then its content:
//   line <text>                                          text lines of the pane's content
//                                                        (a message it paints comes first)
// Coordinates are global screen positions of the element's centre. Tabs and
// line feeds inside texts are written as "\t" and "\n".
class TestProbe : public QObject {
    Q_OBJECT
public:
    // Starts the probe for `mainWindow` when the environment asks for it.
    static void startIfRequested(QWidget* mainWindow);

    // The description the probe sends, for the given main window.
    static QString describe(QWidget* mainWindow);

private:
    TestProbe(QWidget* mainWindow, const QString& path);
    void answer(QLocalSocket* socket);

    QWidget* mainWindow_;
    QLocalServer* server_;
};
