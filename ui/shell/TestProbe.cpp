#include "ui/shell/TestProbe.h"

#include "ui/browser/ListTreeView.h"
#include "ui/browser/ResourceListView.h"
#include "ui/shell/Ribbon.h"
#include "ui/shell/VisualStyle.h"

#include <Qsci/qsciscintillabase.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QHash>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabBar>
#include <QTextEdit>
#include <QTextStream>

#include <algorithm>

namespace {

// Content lines of one pane are capped: a test needs to recognise the
// content, not to read a whole body.
constexpr int kMaxLines = 60;

QString escaped(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    text.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return text;
}

// Tabbed panes behind the current one count as visible to Qt but are moved
// out of sight; what counts here is whether any of it is on screen.
bool onScreen(const QWidget* widget) {
    return widget->isVisible() && !widget->visibleRegion().isEmpty();
}

QString centre(const QWidget* widget, const QRect& local) {
    const QPoint p = widget->mapToGlobal(local.center());
    return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
}

// Per mille of the pixels that differ from the most frequent colour: 0 for
// an empty pane, more the more it shows.
int ink(QWidget* widget) {
    if (widget->width() <= 0 || widget->height() <= 0)
        return 0;
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            ++counts[line[x]];
    }
    int most = 0;
    for (int count : counts)
        most = std::max(most, count);
    const qint64 total = qint64(image.width()) * image.height();
    return total ? int((total - most) * 1000 / total) : 0;
}

void describeList(QTextStream& out, ListTreeView* view) {
    ListTreeCtrl* tree = view->tree;
    out << "list " << tree->itemCount() << '\n';
    const QRect client = tree->viewport()->rect();
    for (ListTreeItem item = tree->rootItem(); item; item = tree->NextInPreorder(item)) {
        // Rows a filter hides are not on screen.
        bool hidden = false;
        for (ListTreeItem up = item; up && !hidden; up = tree->parentItem(up))
            hidden = tree->isItemHidden(up);
        if (hidden)
            continue;
        QString cells;
        for (int column = 0; column < view->columnCount(); ++column) {
            // Rows hold no text of their own when an adaptor paints their cells.
            std::string text = view->adaptor
                                   ? view->adaptor->GetItemText(tree->itemData(item), column)
                               : column == 0 ? tree->itemText(item)
                                             : std::string();
            if (column)
                cells += QLatin1Char('\t');
            cells += escaped(QString::fromStdString(text));
        }
        if (view->columnCount() == 0)
            cells = escaped(QString::fromStdString(tree->itemText(item)));
        const QRect rect = tree->itemRect(item, true);
        const QString where = !rect.isEmpty() && client.contains(rect.center())
                                  ? centre(tree->viewport(), rect)
                                  : QStringLiteral("-1 -1");
        out << "row " << item->depth << ' ' << where << ' ' << int(tree->isSelected(item)) << ' '
            << int(tree->isExpanded(item)) << ' ' << cells << '\n';
    }
}

void writeLines(QTextStream& out, const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size() && i < kMaxLines; ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        out << "line " << escaped(line) << '\n';
    }
}

QString scintillaText(QsciScintillaBase* editor) {
    const long length = editor->SendScintilla(QsciScintillaBase::SCI_GETLENGTH);
    QByteArray bytes(int(std::min<long>(length, 64 * 1024)) + 1, '\0');
    editor->SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(bytes.size()),
                          bytes.data());
    bytes.truncate(int(qstrlen(bytes.constData())));
    return QString::fromUtf8(bytes);
}

// The text a pane's content holds, whatever kind of window shows it.
void describePaneContent(QTextStream& out, QWidget* content) {
    if (auto* list = content->findChild<ListTreeView*>()) {
        describeList(out, list);
        return;
    }
    if (auto* view = qobject_cast<ListTreeView*>(content)) {
        describeList(out, view);
        return;
    }
    // A message the content paints itself (the preview's "not ready" and the like).
    if (const QString message = content->property("message").toString(); !message.isEmpty())
        out << "line " << escaped(message) << '\n';
    QList<QWidget*> widgets = content->findChildren<QWidget*>();
    widgets.prepend(content);
    for (QWidget* widget : widgets) {
        if (auto* editor = qobject_cast<QsciScintillaBase*>(widget)) {
            writeLines(out, scintillaText(editor));
        } else if (auto* items = qobject_cast<QAbstractItemView*>(widget);
                   items && !qobject_cast<QHeaderView*>(widget)) {
            const QAbstractItemModel* model = items->model();
            for (int r = 0; model && r < model->rowCount() && r < kMaxLines; ++r) {
                QStringList cells;
                for (int c = 0; c < model->columnCount(); ++c)
                    cells << model->index(r, c).data().toString();
                out << "line " << escaped(cells.join(QLatin1Char('\t'))) << '\n';
            }
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
            writeLines(out, plain->toPlainText());
        } else if (auto* rich = qobject_cast<QTextEdit*>(widget)) {
            writeLines(out, rich->toPlainText());
        } else if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
            writeLines(out, label->text());
        }
    }
}

} // namespace

void TestProbe::startIfRequested(QWidget* mainWindow) {
    const QString folder = qEnvironmentVariable("TIDEWELL_TEST_PROBE");
    if (folder.isEmpty() || !mainWindow)
        return;
    new TestProbe(mainWindow, folder + QLatin1String("/probe"));
}

TestProbe::TestProbe(QWidget* mainWindow, const QString& path)
    : QObject(mainWindow), mainWindow_(mainWindow), server_(new QLocalServer(this)) {
    QLocalServer::removeServer(path);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        qWarning("test probe: cannot listen on %s", qPrintable(path));
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
        }
    });
}

void TestProbe::answer(QLocalSocket* socket) {
    if (!socket->canReadLine())
        return;
    const QByteArray request = socket->readLine().trimmed();
    QByteArray reply;
    if (request == "dump")
        reply = describe(mainWindow_).toUtf8();
    else
        reply = "error unknown request\n";
    socket->write(reply);
    socket->disconnectFromServer();
}

QString TestProbe::describe(QWidget* mainWindow) {
    QString text;
    QTextStream out(&text);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible())
            continue;
        const QRect frame = window->geometry();
        out << "window " << Qt::hex << Qt::showbase << window->winId() << Qt::dec << Qt::noshowbase
            << ' ' << frame.x() << ' ' << frame.y() << ' ' << frame.width() << ' ' << frame.height()
            << ' ' << int(window->isModal()) << ' ' << window->metaObject()->className() << ' '
            << escaped(window->windowTitle()) << '\n';
        if (auto* box = qobject_cast<QMessageBox*>(window))
            out << "text QMessageBox " << escaped(box->text()) << '\n';
        if (auto* menu = qobject_cast<QMenu*>(window)) {
            for (QAction* action : menu->actions()) {
                const QRect rect = menu->actionGeometry(action);
                if (action->isSeparator() || !action->isVisible() || rect.isEmpty())
                    continue;
                out << "menu " << centre(menu, rect) << ' ' << int(action->isEnabled()) << ' '
                    << int(action->isChecked()) << ' ' << escaped(action->text()) << '\n';
            }
        }
        for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
            if (!onScreen(button))
                continue;
            out << "button " << centre(button, button->rect()) << ' ' << int(button->isEnabled())
                << ' ' << int(button->isChecked()) << ' ' << button->metaObject()->className()
                << ' ' << escaped(button->text()) << " | " << escaped(button->objectName()) << " | "
                << escaped(button->toolTip()) << '\n';
        }
        for (QTabBar* bar : window->findChildren<QTabBar*>()) {
            if (!bar->isVisible())
                continue;
            for (int i = 0; i < bar->count(); ++i) {
                out << "tab " << centre(bar, bar->tabRect(i)) << ' '
                    << int(i == bar->currentIndex()) << ' ' << escaped(bar->tabText(i)) << '\n';
            }
        }
    }
    if (!mainWindow)
        return text;
    for (QAction* action : mainWindow->findChildren<QAction*>()) {
        if (action->isCheckable() && !action->text().isEmpty())
            out << "action " << int(action->isChecked()) << ' ' << escaped(action->text()) << '\n';
    }
    for (QStatusBar* bar : mainWindow->findChildren<QStatusBar*>()) {
        if (!bar->currentMessage().isEmpty())
            out << "status " << escaped(bar->currentMessage()) << '\n';
        for (QLabel* label : bar->findChildren<QLabel*>()) {
            if (label->isVisible() && !label->text().isEmpty())
                out << "status " << escaped(label->text()) << '\n';
        }
    }
    out << "style " << currentVisualStyle() << '\n';
    if (const Ribbon* ribbon = mainWindow->findChild<Ribbon*>())
        out << "keytips " << int(ribbon->keyTipsShown()) << '\n';

    if (const auto* list = mainWindow->findChild<ResourceListView*>()) {
        out << "filter " << list->shownResourceCount() << ' ' << list->resourceRowCount() << ' '
            << escaped(list->filterField()->text()) << '\n';
    }
    // The resource list is the list-tree control that is not inside a pane.
    for (ListTreeView* view : mainWindow->findChildren<ListTreeView*>()) {
        bool inPane = false;
        for (QWidget* up = view->parentWidget(); up && !inPane; up = up->parentWidget())
            inPane = qobject_cast<QDockWidget*>(up) != nullptr;
        if (!inPane) {
            describeList(out, view);
            break;
        }
    }
    for (QDockWidget* pane : mainWindow->findChildren<QDockWidget*>()) {
        QWidget* content = pane->widget();
        out << "pane " << int(onScreen(pane)) << ' ' << (content ? ink(content) : 0) << ' '
            << escaped(pane->windowTitle()) << '\n';
        if (content)
            describePaneContent(out, content);
    }
    out.flush();
    return text;
}
