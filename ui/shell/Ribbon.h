// The main window's ribbon: an application button, one category of panels with large buttons and
// menus, a few small elements right of the tabs, key tips on Alt, and no context menu.
#pragma once

#include "ui/shell/RibbonLayout.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QAbstractButton;
class QAction;
class QMenu;
class QTimer;
class RibbonButton;

class Ribbon : public QWidget {
    Q_OBJECT
public:
    // Fills in whether command `id` is enabled and checked; both arrive preset to enabled and
    // not checked.
    using StateProvider = std::function<void(int id, bool& enabled, bool& checked)>;

    explicit Ribbon(const RibbonDescription& description, QWidget* parent = nullptr);
    ~Ribbon() override;

    // The program's ribbon, built from mainRibbonDescription().
    static Ribbon* createMainRibbon(QWidget* parent);

    // Asked for every command on a short timer while the ribbon is visible and before any of
    // its menus opens.
    void setStateProvider(StateProvider provider);
    void refreshStates();

    void showKeyTips(bool show);
    bool keyTipsShown() const { return !keyTipBadges_.empty(); }

    // Every command the ribbon can send (menu items and the application button included), in
    // the order they appear.
    QList<int> commandIds() const { return commandOrder_; }
    // The action behind command `id` (text, tooltip, enabled and checked state); nullptr when
    // the ribbon has no such command.
    QAction* action(int id) const { return actions_.value(id); }
    // The key tip that reaches command `id` from the ribbon or from an opened menu; empty when
    // it has none.
    QString keyTip(int id) const { return keyTips_.value(id); }
    // The button showing command `id` (the menu buttons included); nullptr for menu items.
    QAbstractButton* button(int id) const;
    QAbstractButton* applicationButton() const;
    // The menu opened by the button of command `id`, or by the style button for id 0.
    QMenu* menu(int id) const { return menus_.value(id); }
    // Whether panel `panel` (0 based) is folded into one button for want of room.
    bool isPanelCollapsed(int panel) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void commandTriggered(int id);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct PanelGeometry {
        QString text;
        QRect rect;
        QList<int> separators; // x of each separator line
        bool collapsed = false;
    };
    struct KeyTipTarget {
        QString tip;
        QPointer<QAbstractButton> button; // a ribbon element
        QPointer<QAction> action;         // an item of `menu`
        QPointer<QMenu> menu;
    };

    QAction* addCommand(int id, const QString& text, bool checkable);
    RibbonButton* addElement(const RibbonElement& element, bool large);
    QMenu* addMenu(const std::vector<RibbonMenuItem>& items);
    RibbonButton* addCollapsedPanel(const RibbonPanel& panel);
    int panelContentWidth(std::size_t panel) const;
    void doLayout();
    void activateKeyTip(const KeyTipTarget& target);
    void showMenuKeyTips(QMenu* menu);
    bool handleKeyTipKey(QKeyEvent* key, QMenu* inMenu);
    bool ownsWidget(QObject* object) const;

    StateProvider provider_;
    QTimer* refreshTimer_ = nullptr;
    RibbonButton* applicationButton_ = nullptr;
    QString categoryText_;
    std::vector<RibbonButton*> tabElements_;
    std::vector<std::vector<RibbonButton*>> panelButtons_; // per panel, nullptr for separators
    std::vector<const RibbonPanel*> panels_;
    std::vector<RibbonButton*> collapsedButtons_;
    std::vector<PanelGeometry> panelGeometry_;
    QRect tabRect_;
    QHash<int, QAction*> actions_;
    QHash<int, RibbonButton*> buttons_;
    QHash<int, QMenu*> menus_;
    QHash<int, QString> keyTips_;
    QList<int> commandOrder_;
    std::vector<KeyTipTarget> keyTipTargets_;
    std::vector<QWidget*> keyTipBadges_;
    QPointer<QMenu> keyTipMenu_; // a menu opened from its key tip, showing its items' tips
    bool altPending_ = false;
};
