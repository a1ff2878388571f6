#include "ui/shell/VisualStyle.h"

#include "store/DocumentUi.h"

#include <QApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace {

// What a look adds to the ribbon's colours: the palette of every other widget and the few
// style-sheet rules for menus, tooltips, pane titles and the status bar.
struct Look {
    RibbonLook ribbon;
    QColor window, windowText, base, alternateBase, button, highlight, highlightedText;
    QColor dockTitleTop, dockTitleBottom, dockTitleText, dockBorder;
    QColor menuBack, menuBorder, menuGutter;
    QColor toolTipTop, toolTipBottom, toolTipBorder, toolTipText;
    QColor statusTop, statusBottom, statusText;
};

QColor c(const char* name) {
    return QColor(QLatin1String(name));
}

// The hover and pressed colours of the Office looks are the same warm amber in all four.
void officeHighlights(RibbonLook& r) {
    r.hoverTop = c("#fffbe0");
    r.hoverBottom = c("#ffdf7e");
    r.hoverBorder = c("#d9b95f");
    r.pressedTop = c("#fbd59a");
    r.pressedBottom = c("#f7a94a");
    r.pressedBorder = c("#c28a3c");
    r.keyTipBack = c("#fbfbfb");
    r.keyTipBorder = c("#767676");
    r.keyTipText = c("#1e1e1e");
    r.appText = c("#ffffff");
    r.roundApplicationButton = true;
}

Look office2007Blue() {
    Look l;
    RibbonLook& r = l.ribbon;
    r.tabRowTop = c("#c9dff8");
    r.tabRowBottom = c("#bfd6f3");
    r.tabText = c("#15428b");
    r.tabSelectedTop = c("#fdfeff");
    r.tabSelectedBottom = c("#e3edf9");
    r.tabBorder = c("#8db2e3");
    r.tabSelectedText = c("#15428b");
    r.bodyTop = c("#e3edf9");
    r.bodyBottom = c("#c9dbf2");
    r.bodyBorder = c("#8db2e3");
    r.panelTop = c("#eef4fc");
    r.panelBottom = c("#d5e3f5");
    r.panelBorder = c("#a5c0e4");
    r.captionTop = c("#c9dcf3");
    r.captionBottom = c("#b7cfee");
    r.captionText = c("#3e6aaa");
    r.text = c("#15428b");
    r.disabledText = c("#8ea2c0");
    r.separator = c("#a8c1e3");
    officeHighlights(r);
    r.appTop = c("#4f92e0");
    r.appBottom = c("#1b4f9c");
    r.appBorder = c("#153f7c");
    l.window = c("#dfe9f5");
    l.windowText = c("#1b2a44");
    l.base = c("#ffffff");
    l.alternateBase = c("#f3f7fc");
    l.button = c("#e4edf8");
    l.highlight = c("#3a78c9");
    l.highlightedText = c("#ffffff");
    l.dockTitleTop = c("#e3edf9");
    l.dockTitleBottom = c("#c7daf2");
    l.dockTitleText = c("#15428b");
    l.dockBorder = c("#8db2e3");
    l.menuBack = c("#fafcff");
    l.menuBorder = c("#8db2e3");
    l.menuGutter = c("#e9f0fa");
    l.toolTipTop = c("#ffffff");
    l.toolTipBottom = c("#e4ecf7");
    l.toolTipBorder = c("#76879f");
    l.toolTipText = c("#2e3d55");
    l.statusTop = c("#d7e6f8");
    l.statusBottom = c("#c0d5f0");
    l.statusText = c("#15428b");
    return l;
}

Look office2007Black() {
    Look l;
    RibbonLook& r = l.ribbon;
    r.tabRowTop = c("#1c1c1c");
    r.tabRowBottom = c("#3a3a3a");
    r.tabText = c("#f0f0f0");
    r.tabSelectedTop = c("#f7f7f7");
    r.tabSelectedBottom = c("#e4e4e4");
    r.tabBorder = c("#6a6a6a");
    r.tabSelectedText = c("#1a1a1a");
    r.bodyTop = c("#e4e4e4");
    r.bodyBottom = c("#c3c3c3");
    r.bodyBorder = c("#5a5a5a");
    r.panelTop = c("#eeeeee");
    r.panelBottom = c("#d2d2d2");
    r.panelBorder = c("#9a9a9a");
    r.captionTop = c("#6e6e6e");
    r.captionBottom = c("#505050");
    r.captionText = c("#ffffff");
    r.text = c("#1a1a1a");
    r.disabledText = c("#8c8c8c");
    r.separator = c("#a8a8a8");
    officeHighlights(r);
    r.appTop = c("#6a6a6a");
    r.appBottom = c("#141414");
    r.appBorder = c("#000000");
    l.window = c("#d4d4d4");
    l.windowText = c("#141414");
    l.base = c("#ffffff");
    l.alternateBase = c("#f2f2f2");
    l.button = c("#e0e0e0");
    l.highlight = c("#474f5c");
    l.highlightedText = c("#ffffff");
    l.dockTitleTop = c("#ececec");
    l.dockTitleBottom = c("#cbcbcb");
    l.dockTitleText = c("#1a1a1a");
    l.dockBorder = c("#7a7a7a");
    l.menuBack = c("#fafafa");
    l.menuBorder = c("#6a6a6a");
    l.menuGutter = c("#ececec");
    l.toolTipTop = c("#ffffff");
    l.toolTipBottom = c("#e6e6e6");
    l.toolTipBorder = c("#767676");
    l.toolTipText = c("#303030");
    l.statusTop = c("#4a4a4a");
    l.statusBottom = c("#2c2c2c");
    l.statusText = c("#f0f0f0");
    return l;
}

Look office2007Silver() {
    Look l;
    RibbonLook& r = l.ribbon;
    r.tabRowTop = c("#e9ebef");
    r.tabRowBottom = c("#d9dde3");
    r.tabText = c("#4c535c");
    r.tabSelectedTop = c("#ffffff");
    r.tabSelectedBottom = c("#f3f4f6");
    r.tabBorder = c("#a9b0ba");
    r.tabSelectedText = c("#3b4048");
    r.bodyTop = c("#f3f4f6");
    r.bodyBottom = c("#dcdfe4");
    r.bodyBorder = c("#a9b0ba");
    r.panelTop = c("#f9fafb");
    r.panelBottom = c("#e6e8ec");
    r.panelBorder = c("#b8bec7");
    r.captionTop = c("#dfe2e7");
    r.captionBottom = c("#cdd1d8");
    r.captionText = c("#4c535c");
    r.text = c("#3b3b3b");
    r.disabledText = c("#a3a7ad");
    r.separator = c("#c2c7cf");
    officeHighlights(r);
    r.appTop = c("#8e9db3");
    r.appBottom = c("#48576e");
    r.appBorder = c("#39475b");
    l.window = c("#e8eaed");
    l.windowText = c("#262a30");
    l.base = c("#ffffff");
    l.alternateBase = c("#f5f6f8");
    l.button = c("#eceef1");
    l.highlight = c("#66809f");
    l.highlightedText = c("#ffffff");
    l.dockTitleTop = c("#f3f4f6");
    l.dockTitleBottom = c("#d9dce2");
    l.dockTitleText = c("#3b4048");
    l.dockBorder = c("#a9b0ba");
    l.menuBack = c("#fcfcfd");
    l.menuBorder = c("#a9b0ba");
    l.menuGutter = c("#eff0f3");
    l.toolTipTop = c("#ffffff");
    l.toolTipBottom = c("#eaecef");
    l.toolTipBorder = c("#8a9099");
    l.toolTipText = c("#3b3b3b");
    l.statusTop = c("#e6e8ec");
    l.statusBottom = c("#d1d5db");
    l.statusText = c("#3b4048");
    return l;
}

Look office2007Aqua() {
    Look l;
    RibbonLook& r = l.ribbon;
    r.tabRowTop = c("#cfe3e1");
    r.tabRowBottom = c("#bcd6d3");
    r.tabText = c("#24504b");
    r.tabSelectedTop = c("#fbfefd");
    r.tabSelectedBottom = c("#e2efed");
    r.tabBorder = c("#7fa9a4");
    r.tabSelectedText = c("#1f4541");
    r.bodyTop = c("#e2efed");
    r.bodyBottom = c("#c2dbd8");
    r.bodyBorder = c("#7fa9a4");
    r.panelTop = c("#edf6f5");
    r.panelBottom = c("#d0e4e1");
    r.panelBorder = c("#93bbb6");
    r.captionTop = c("#b5d3cf");
    r.captionBottom = c("#9cc3be");
    r.captionText = c("#1f4541");
    r.text = c("#1f403d");
    r.disabledText = c("#8aa8a4");
    r.separator = c("#9ec2bd");
    officeHighlights(r);
    r.appTop = c("#46a095");
    r.appBottom = c("#1a5a53");
    r.appBorder = c("#12443f");
    l.window = c("#d8e8e6");
    l.windowText = c("#17302e");
    l.base = c("#ffffff");
    l.alternateBase = c("#f1f7f6");
    l.button = c("#e1eeec");
    l.highlight = c("#2f7d74");
    l.highlightedText = c("#ffffff");
    l.dockTitleTop = c("#e2efed");
    l.dockTitleBottom = c("#c3dcd9");
    l.dockTitleText = c("#1f4541");
    l.dockBorder = c("#7fa9a4");
    l.menuBack = c("#fbfdfd");
    l.menuBorder = c("#7fa9a4");
    l.menuGutter = c("#e8f2f1");
    l.toolTipTop = c("#ffffff");
    l.toolTipBottom = c("#e3efed");
    l.toolTipBorder = c("#6f8f8b");
    l.toolTipText = c("#24403d");
    l.statusTop = c("#cfe3e1");
    l.statusBottom = c("#b7d2cf");
    l.statusText = c("#1f4541");
    return l;
}

Look windows7() {
    Look l;
    RibbonLook& r = l.ribbon;
    r.tabRowTop = c("#dfe9f5");
    r.tabRowBottom = c("#dfe9f5");
    r.tabText = c("#1e395b");
    r.tabSelectedTop = c("#ffffff");
    r.tabSelectedBottom = c("#f8f9fa");
    r.tabBorder = c("#b6bac0");
    r.tabSelectedText = c("#1e395b");
    r.bodyTop = c("#f8f9fa");
    r.bodyBottom = c("#e3e8ee");
    r.bodyBorder = c("#b6bac0");
    r.panelTop = c("#fbfcfd");
    r.panelBottom = c("#edf0f4");
    r.panelBorder = c("#d3d8df");
    r.captionTop = c("#edf0f4");
    r.captionBottom = c("#edf0f4");
    r.captionText = c("#586a80");
    r.text = c("#1e1e1e");
    r.disabledText = c("#a0a0a0");
    r.separator = c("#c9ced6");
    r.hoverTop = c("#f3f9ff");
    r.hoverBottom = c("#d9ebfc");
    r.hoverBorder = c("#9cc4ec");
    r.pressedTop = c("#cde2f7");
    r.pressedBottom = c("#b5d3f1");
    r.pressedBorder = c("#7ea4cf");
    r.appTop = c("#3a7fd5");
    r.appBottom = c("#1c4f9e");
    r.appBorder = c("#17407f");
    r.appText = c("#ffffff");
    r.keyTipBack = c("#ffffff");
    r.keyTipBorder = c("#6d7c8f");
    r.keyTipText = c("#1e1e1e");
    r.roundApplicationButton = false;
    l.window = c("#eef1f5");
    l.windowText = c("#1e1e1e");
    l.base = c("#ffffff");
    l.alternateBase = c("#f5f7fa");
    l.button = c("#f0f2f5");
    l.highlight = c("#3399ff");
    l.highlightedText = c("#ffffff");
    l.dockTitleTop = c("#fbfcfd");
    l.dockTitleBottom = c("#e6ebf1");
    l.dockTitleText = c("#1e395b");
    l.dockBorder = c("#b6bac0");
    l.menuBack = c("#fcfcfc");
    l.menuBorder = c("#979797");
    l.menuGutter = c("#f1f1f1");
    l.toolTipTop = c("#ffffff");
    l.toolTipBottom = c("#e4e5f0");
    l.toolTipBorder = c("#767676");
    l.toolTipText = c("#575757");
    l.statusTop = c("#f1f4f8");
    l.statusBottom = c("#dde4ec");
    l.statusText = c("#1e395b");
    return l;
}

const Look& look(int id) {
    static const Look looks[] = {office2007Blue(), office2007Black(), office2007Silver(),
                                 office2007Aqua(), windows7()};
    if (!isVisualStyle(id))
        id = kLookDefault;
    return looks[id - kLookFirst];
}

int current = kLookDefault;

QPalette paletteOf(const Look& l) {
    QPalette p(l.button, l.window);
    p.setColor(QPalette::WindowText, l.windowText);
    p.setColor(QPalette::Base, l.base);
    p.setColor(QPalette::AlternateBase, l.alternateBase);
    p.setColor(QPalette::Text, l.windowText);
    p.setColor(QPalette::ButtonText, l.windowText);
    p.setColor(QPalette::Highlight, l.highlight);
    p.setColor(QPalette::HighlightedText, l.highlightedText);
    p.setColor(QPalette::ToolTipBase, l.toolTipBottom);
    p.setColor(QPalette::ToolTipText, l.toolTipText);
    p.setColor(QPalette::PlaceholderText, l.ribbon.disabledText);
    p.setColor(QPalette::Link, l.highlight.darker(110));
    p.setColor(QPalette::Disabled, QPalette::WindowText, l.ribbon.disabledText);
    p.setColor(QPalette::Disabled, QPalette::Text, l.ribbon.disabledText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, l.ribbon.disabledText);
    // Selections stay legible when the window is not the active one.
    p.setColor(QPalette::Inactive, QPalette::Highlight, l.highlight.lighter(125));
    return p;
}

QString gradient(const QColor& top, const QColor& bottom) {
    return QStringLiteral("qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2)")
        .arg(top.name(), bottom.name());
}

QString styleSheetOf(const Look& l) {
    const RibbonLook& r = l.ribbon;
    QString sheet =
        QStringLiteral(R"(
QMenu { background: %1; border: 1px solid %2; padding: 2px; }
QMenu::item { padding: 4px 24px 4px 10px; color: %3; border: 1px solid transparent;
  border-radius: 2px; margin: 0px 1px; }
QMenu::item:selected { background: %4; border-color: %5; }
QMenu::item:disabled { color: %6; }
QMenu::separator { height: 1px; background: %7; margin: 3px 4px 3px 30px; }
QMenu::indicator { width: 16px; height: 16px; left: 7px; }
QMenu::indicator:non-exclusive:checked { image: url(:/ribbon/check-16.png); }
QMenu::indicator:exclusive:checked { image: url(:/ribbon/radio-16.png); }
QToolTip { color: %8; background: %9; border: 1px solid %10; padding: 3px 4px; }
)")
            .arg(l.menuBack.name(), l.menuBorder.name(), r.text.name(),
                 gradient(r.hoverTop, r.hoverBottom), r.hoverBorder.name(), r.disabledText.name(),
                 r.separator.name(), l.toolTipText.name(), gradient(l.toolTipTop, l.toolTipBottom))
            .arg(l.toolTipBorder.name());
    sheet += QStringLiteral(R"(
QDockWidget { color: %1; }
QDockWidget::title { background: %2; border: 1px solid %3; padding: 3px 6px; text-align: left; }
QStatusBar { background: %4; color: %5; border-top: 1px solid %3; }
QStatusBar QLabel { color: %5; }
QMainWindow::separator { background: %6; width: 4px; height: 4px; }
)")
                 .arg(l.dockTitleText.name(), gradient(l.dockTitleTop, l.dockTitleBottom),
                      l.dockBorder.name(), gradient(l.statusTop, l.statusBottom),
                      l.statusText.name(), l.window.name());
    return sheet;
}

} // namespace

bool isVisualStyle(int id) {
    return id >= kLookFirst && id <= kLookLast;
}

const RibbonLook& ribbonLook(int id) {
    return look(id).ribbon;
}

const RibbonLook& ribbonLook() {
    return ribbonLook(current);
}

int currentVisualStyle() {
    return current;
}

bool applyVisualStyle(int id) {
    if (!isVisualStyle(id))
        return false;
    current = id;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return true;
    // One base style under all five looks, so that only our colours tell them apart.
    if (app->style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0) {
        if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
            app->setStyle(fusion);
    }
    const Look& l = look(id);
    QApplication::setPalette(paletteOf(l));
    app->setStyleSheet(styleSheetOf(l));
    for (QWidget* widget : QApplication::allWidgets())
        widget->update();
    return true;
}

bool switchVisualStyle(int id, DocumentSettings& profile) {
    if (!isVisualStyle(id))
        return false;
    const bool cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (cursor)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    applyVisualStyle(id);
    profile.writeInt("", kApplicationLookValue, id);
    if (cursor)
        QApplication::restoreOverrideCursor();
    return true;
}

int savedVisualStyle(DocumentSettings& profile) {
    const int id = profile.readInt("", kApplicationLookValue, kLookDefault);
    return isVisualStyle(id) ? id : kLookDefault;
}

int restoreVisualStyle(DocumentSettings& profile) {
    const int id = savedVisualStyle(profile);
    applyVisualStyle(id);
    return id;
}
