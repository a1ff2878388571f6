// The list panes: a two-column report list of names and values, with column
// widths kept in the profile and the header panes' copy commands.
#pragma once

#include "resources/CommandIds.h"
#include "ui/panes/DockablePane.h"

#include <QString>

#include <string>

class QAction;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

class HeaderListPane : public DockablePane {
    Q_OBJECT

public:
    // `widthSection` is the profile section that keeps
    // the two column widths. With `copyMenu` right clicks in the list offer
    // the copy commands (menu 316).
    HeaderListPane(const QString& title, std::string widthSection, bool copyMenu,
                   QWidget* parent = nullptr);
    ~HeaderListPane() override;

    QTreeWidget* list() const { return list_; }

    // Column 1 of the first selected row; empty with no selection.
    QString selectedValue() const;
    // Row 0's value, then "name:value" for every further row, each line ended
    // by CR LF, and a closing empty line. Empty for an empty list.
    QString headerText() const;

    // Menu 316 with its items enabled for the list as it is now; the actions
    // carry their command ids as data.
    QMenu* createContextMenu(QWidget* parent) const;
    // Runs a command of that menu. False when the clipboard refused the text
    // (already reported to the user).
    bool runCommand(int id);

    static constexpr int kDefaultFieldWidth = 100;
    static constexpr int kDefaultValueWidth = 180;
    // Longer names and values are shown cut, followed by an ellipsis.
    static constexpr qsizetype kShownLength = 2048;

    // The whole name (column 0) or value (column 1) of a row, even when the
    // cell shows it cut.
    static QString cellText(const QTreeWidgetItem* item, int column);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void clearRows();
    void addRow(const QString& name, const QString& value);

private:
    static constexpr int kFullTextRole = Qt::UserRole + 1;

    void loadColumnWidths();
    void saveColumnWidths();
    void showContextMenu(const QPoint& pos);
    bool copyToClipboard(const QString& text);

    QTreeWidget* list_;
    const std::string widthSection_;
};

// Puts `text` on the system clipboard. False with the reason in lastError()
// when the clipboard did not take it.
bool setClipboardText(const QString& text);
