#include "ui/shell/Ribbon.h"

#include "resources/CommandIds.h"
#include "resources/StringTable.h"
#include "ui/shell/DataFiles.h"
#include "ui/shell/VisualStyle.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

// The pictures live in the static UI library, whose resources register only when asked.
static void registerRibbonResources() {
    Q_INIT_RESOURCE(ribbon);
}

namespace {

constexpr int kTabRowHeight = 30;
constexpr int kLargeButtonHeight = 68;
constexpr int kSmallButtonHeight = 22;
constexpr int kPanelSpacing = 3;
constexpr int kRefreshIntervalMs = 250;

// The description and the tooltip title of a command, as the string table stores them:
// "description\ntitle".
struct CommandPrompt {
    QString description;
    QString title;
};

CommandPrompt commandPrompt(int id) {
    const char* text = loadString(static_cast<unsigned>(id));
    if (!text)
        return {};
    const QString all = QString::fromUtf8(text);
    const qsizetype lf = all.indexOf(QLatin1Char('\n'));
    if (lf < 0)
        return {all, all};
    return {all.left(lf), all.mid(lf + 1)};
}

QString richToolTip(const CommandPrompt& prompt) {
    if (prompt.title.isEmpty())
        return {};
    if (prompt.description.isEmpty() || prompt.description == prompt.title)
        return QStringLiteral("<b>%1</b>").arg(prompt.title.toHtmlEscaped());
    return QStringLiteral("<p style='white-space:pre'><b>%1</b><br>%2</p>")
        .arg(prompt.title.toHtmlEscaped(), prompt.description.toHtmlEscaped());
}

QLinearGradient verticalGradient(const QRectF& rect, const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

void fillRounded(QPainter& painter, const QRectF& rect, qreal radius, const QColor& top,
                 const QColor& bottom, const QColor& border) {
    painter.setPen(QPen(border, 1));
    painter.setBrush(verticalGradient(rect, top, bottom));
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void drawMenuArrow(QPainter& painter, QPointF center, const QColor& color) {
    QPainterPath arrow;
    arrow.moveTo(center.x() - 3, center.y() - 1.5);
    arrow.lineTo(center.x() + 3, center.y() - 1.5);
    arrow.lineTo(center.x(), center.y() + 1.5);
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(arrow);
}

// A key tip: the letter that reaches an element while key tips are shown.
class KeyTipBadge : public QWidget {
public:
    KeyTipBadge(const QString& tip, QWidget* parent) : QWidget(parent), tip_(tip) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        QFont badgeFont = font();
        badgeFont.setBold(true);
        badgeFont.setPointSizeF(std::max(7.0, badgeFont.pointSizeF() - 1));
        setFont(badgeFont);
        const QFontMetrics metrics(badgeFont);
        resize(std::max(16, metrics.horizontalAdvance(tip_) + 9), metrics.height() + 3);
    }

    void placeCentered(QPoint center) { move(center.x() - width() / 2, center.y() - height() / 2); }
    // The tip of an element that cannot be used now is shown faded.
    void setFaded(bool faded) { faded_ = faded; }

protected:
    void paintEvent(QPaintEvent*) override {
        const RibbonLook& look = ribbonLook();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (faded_)
            painter.setOpacity(0.45);
        painter.setPen(QPen(look.keyTipBorder, 1));
        painter.setBrush(look.keyTipBack);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
        painter.setPen(look.keyTipText);
        painter.drawText(rect(), Qt::AlignCenter, tip_);
    }

private:
    QString tip_;
    bool faded_ = false;
};

} // namespace

// One element of the ribbon, painted in the current look.
class RibbonButton : public QToolButton {
    Q_OBJECT
public:
    enum Shape { Large, Small, Application };

    RibbonButton(Shape shape, QWidget* parent) : QToolButton(parent), shape_(shape) {
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::NoFocus);
        setContextMenuPolicy(Qt::PreventContextMenu);
        setIconSize(shape == Large ? QSize(32, 32) : QSize(16, 16));
    }

    Shape shape() const { return shape_; }

    // A popup takes the pointer while it is open, and the window system may never tell the
    // button that the pointer left it meanwhile: once the menu is gone, the button asks where
    // the pointer is, so it does not stay lit.
    void setDropDownMenu(QMenu* menu) {
        setMenu(menu);
        setPopupMode(QToolButton::InstantPopup);
        connect(menu, &QMenu::aboutToHide, this, [this] {
            QTimer::singleShot(0, this, [this] {
                if (!rect().contains(mapFromGlobal(QCursor::pos())))
                    setAttribute(Qt::WA_UnderMouse, false);
                update();
            });
        });
    }
    // Elements right of the tabs take the tab row's text colour.
    void setOnTabRow(bool onTabRow) { onTabRow_ = onTabRow; }

    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        const int textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
        switch (shape_) {
        case Large:
            return {std::max(44, textWidth + 14), kLargeButtonHeight};
        case Application:
            return {54, 25};
        case Small:
            break;
        }
        int width = 6;
        if (!icon().isNull())
            width += 16;
        if (textWidth)
            width += (icon().isNull() ? 2 : 4) + textWidth;
        if (menu())
            width += 11;
        return {std::max(width + 6, 24), kSmallButtonHeight};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const RibbonLook& look = ribbonLook();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(rect());
        const bool hot = isEnabled() && (underMouse() || isDown());
        const bool pressed = isEnabled() && (isDown() || (menu() && menu()->isVisible()));

        if (shape_ == Application) {
            paintApplication(painter, look, hot, pressed);
            return;
        }
        if (pressed || isChecked()) {
            fillRounded(painter, area, 3, look.pressedTop, look.pressedBottom, look.pressedBorder);
        } else if (hot) {
            fillRounded(painter, area, 3, look.hoverTop, look.hoverBottom, look.hoverBorder);
        }

        const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
        const QColor enabledText = onTabRow_ && !hot && !pressed ? look.tabText : look.text;
        const QColor textColor = isEnabled() ? enabledText : look.disabledText;
        painter.setPen(textColor);
        if (shape_ == Large) {
            // A folded panel's button is taller than the others: its content sits in the middle.
            const int dy = std::max(0, (height() - kLargeButtonHeight) / 2);
            const QRect iconRect((width() - 32) / 2, 5 + dy, 32, 32);
            icon().paint(&painter, iconRect, Qt::AlignCenter, mode);
            const QFontMetrics metrics(font());
            const QRect textRect(0, 40 + dy, width(), metrics.height());
            painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignVCenter, text());
            if (menu())
                drawMenuArrow(painter, QPointF(width() / 2.0, textRect.bottom() + 7), textColor);
            return;
        }
        int x = 6;
        if (!icon().isNull()) {
            icon().paint(&painter, QRect(x, (height() - 16) / 2, 16, 16), Qt::AlignCenter, mode);
            x += 16 + 4;
        }
        if (!text().isEmpty()) {
            const QRect textRect(x, 0, width() - x, height());
            painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text());
        }
        if (menu())
            drawMenuArrow(painter, QPointF(width() - 10, height() / 2.0 + 0.5), textColor);
    }

private:
    void paintApplication(QPainter& painter, const RibbonLook& look, bool hot, bool pressed) {
        QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QColor top = look.appTop;
        QColor bottom = look.appBottom;
        if (pressed) {
            top = top.darker(115);
            bottom = bottom.darker(115);
        } else if (hot) {
            top = top.lighter(112);
            bottom = bottom.lighter(112);
        }
        painter.setPen(QPen(look.appBorder, 1));
        painter.setBrush(verticalGradient(area, top, bottom));
        if (look.roundApplicationButton) {
            painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
            // A soft gloss on the upper half, as on a glass orb.
            QRectF gloss = area.adjusted(3, 1.5, -3, -area.height() / 2);
            QLinearGradient shine(gloss.topLeft(), gloss.bottomLeft());
            shine.setColorAt(0, QColor(255, 255, 255, 150));
            shine.setColorAt(1, QColor(255, 255, 255, 20));
            painter.setPen(Qt::NoPen);
            painter.setBrush(shine);
            painter.drawRoundedRect(gloss, gloss.height() / 2, gloss.height() / 2);
        } else {
            QPainterPath tab;
            tab.moveTo(area.bottomLeft());
            tab.lineTo(area.left(), area.top() + 3);
            tab.quadTo(area.topLeft(), QPointF(area.left() + 3, area.top()));
            tab.lineTo(area.right() - 3, area.top());
            tab.quadTo(area.topRight(), QPointF(area.right(), area.top() + 3));
            tab.lineTo(area.bottomRight());
            tab.closeSubpath();
            painter.drawPath(tab);
        }
        const int iconSize = 18;
        // No drop-down arrow: the button opens the About box, there is no menu behind it.
        icon().paint(&painter, QRect((width() - iconSize) / 2, (height() - iconSize) / 2, iconSize,
                                     iconSize));
    }

    Shape shape_;
    bool onTabRow_ = false;
};

Ribbon::Ribbon(const RibbonDescription& description, QWidget* parent) : QWidget(parent) {
    static const bool registered = (registerRibbonResources(), loadProgramResources(), true);
    (void)registered;
    setObjectName(QStringLiteral("ribbon"));
    setContextMenuPolicy(Qt::PreventContextMenu);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The application button opens the About box; its text is also its tooltip.
    const QString about = QString::fromUtf8(loadString(IDS_ABOUT));
    applicationButton_ = new RibbonButton(RibbonButton::Application, this);
    QAction* aboutAction = addCommand(ID_APP_ABOUT, about, false);
    aboutAction->setIcon(QIcon(QStringLiteral(":/tidewell/icons/tidewell-32.png")));
    aboutAction->setToolTip(QStringLiteral("<b>%1</b>").arg(about.toHtmlEscaped()));
    applicationButton_->setDefaultAction(aboutAction);
    keyTips_.insert(ID_APP_ABOUT, QString::fromUtf8(description.applicationKeyTip));
    keyTipTargets_.push_back({keyTips_.value(ID_APP_ABOUT), applicationButton_, nullptr, nullptr});

    for (const RibbonElement& element : description.tabElements) {
        tabElements_.push_back(addElement(element, false));
        tabElements_.back()->setOnTabRow(true);
    }

    if (!description.categories.empty()) {
        const RibbonCategory& category = description.categories.front();
        categoryText_ = QString::fromUtf8(category.text);
        for (const RibbonPanel& panel : category.panels) {
            panels_.push_back(&panel);
            std::vector<RibbonButton*> buttons;
            for (const RibbonElement& element : panel.elements) {
                buttons.push_back(element.kind == RibbonElement::Separator
                                      ? nullptr
                                      : addElement(element, element.largeImage >= 0));
            }
            panelButtons_.push_back(std::move(buttons));
            collapsedButtons_.push_back(addCollapsedPanel(panel));
        }
    }

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kRefreshIntervalMs);
    connect(refreshTimer_, &QTimer::timeout, this, &Ribbon::refreshStates);
    qApp->installEventFilter(this);
    doLayout();
}

Ribbon::~Ribbon() = default;

Ribbon* Ribbon::createMainRibbon(QWidget* parent) {
    return new Ribbon(mainRibbonDescription(), parent);
}

QAction* Ribbon::addCommand(int id, const QString& text, bool checkable) {
    auto* action = new QAction(text, this);
    action->setCheckable(checkable);
    const CommandPrompt prompt = commandPrompt(id);
    if (!prompt.title.isEmpty()) {
        action->setToolTip(richToolTip(prompt));
        action->setStatusTip(prompt.description);
    }
    connect(action, &QAction::triggered, this, [this, id] { emit commandTriggered(id); });
    actions_.insert(id, action);
    commandOrder_.append(id);
    return action;
}

QMenu* Ribbon::addMenu(const std::vector<RibbonMenuItem>& items) {
    auto* menu = new QMenu(this);
    menu->setContextMenuPolicy(Qt::PreventContextMenu);
    QActionGroup* group = nullptr;
    for (const RibbonMenuItem& item : items) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action =
            addCommand(item.id, QString::fromUtf8(item.text), item.mark != RibbonMenuItem::NoMark);
        if (item.mark == RibbonMenuItem::Radio) {
            if (!group)
                group = new QActionGroup(menu);
            group->addAction(action);
        }
        menu->addAction(action);
        if (*item.keyTip) {
            keyTips_.insert(item.id, QString::fromUtf8(item.keyTip));
            keyTipTargets_.push_back({keyTips_.value(item.id), nullptr, action, menu});
        }
    }
    connect(menu, &QMenu::aboutToShow, this, &Ribbon::refreshStates);
    connect(menu, &QMenu::aboutToHide, this, [this, menu] {
        if (keyTipMenu_ == menu)
            showKeyTips(false);
    });
    return menu;
}

RibbonButton* Ribbon::addElement(const RibbonElement& element, bool large) {
    auto* button = new RibbonButton(large ? RibbonButton::Large : RibbonButton::Small, this);
    const QString text = QString::fromUtf8(element.text);
    if (element.id) {
        QAction* action = addCommand(element.id, text, false);
        if (large)
            action->setIcon(QIcon(QString::fromUtf8(largeImageName(element.largeImage))));
        else if (element.smallImage >= 0)
            action->setIcon(QIcon(QString::fromUtf8(smallImageName(element.smallImage))));
        button->setDefaultAction(action);
        buttons_.insert(element.id, button);
    } else {
        button->setText(text);
    }
    if (!element.menu.empty()) {
        QMenu* menu = addMenu(element.menu);
        button->setDropDownMenu(menu);
        menus_.insert(element.id, menu);
    }
    const QString tip = QString::fromUtf8(element.keyTip);
    if (!tip.isEmpty()) {
        keyTips_.insert(element.id, tip);
        keyTipTargets_.push_back({tip, button, nullptr, nullptr});
    }
    return button;
}

RibbonButton* Ribbon::addCollapsedPanel(const RibbonPanel& panel) {
    // A folded panel is one button whose menu holds the panel's commands: the same actions,
    // and the same menus as submenus, so states and key tips carry over.
    auto* button = new RibbonButton(RibbonButton::Large, this);
    button->setText(QString::fromUtf8(panel.text));
    button->setIcon(QIcon(
        QString::fromUtf8(largeImageName(panel.image >= 0 ? panel.image : int(kLargeResources)))));
    auto* menu = new QMenu(this);
    menu->setContextMenuPolicy(Qt::PreventContextMenu);
    for (const RibbonElement& element : panel.elements) {
        if (element.kind == RibbonElement::Separator) {
            menu->addSeparator();
            continue;
        }
        const QString tip = QString::fromUtf8(element.keyTip);
        QAction* item = actions_.value(element.id);
        if (QMenu* sub = menus_.value(element.id)) {
            sub->setTitle(item->text());
            sub->setIcon(item->icon());
            item = menu->addMenu(sub);
        } else {
            menu->addAction(item);
        }
        if (!tip.isEmpty())
            keyTipTargets_.push_back({tip, nullptr, item, menu});
    }
    connect(menu, &QMenu::aboutToShow, this, &Ribbon::refreshStates);
    connect(menu, &QMenu::aboutToHide, this, [this, menu] {
        if (keyTipMenu_ == menu)
            showKeyTips(false);
    });
    button->setDropDownMenu(menu);
    button->hide();
    if (*panel.keyTip)
        keyTipTargets_.push_back({QString::fromUtf8(panel.keyTip), button, nullptr, nullptr});
    return button;
}

QAbstractButton* Ribbon::button(int id) const {
    return buttons_.value(id);
}

QAbstractButton* Ribbon::applicationButton() const {
    return applicationButton_;
}

void Ribbon::setStateProvider(StateProvider provider) {
    provider_ = std::move(provider);
    refreshStates();
}

void Ribbon::refreshStates() {
    if (!provider_)
        return;
    for (int id : std::as_const(commandOrder_)) {
        if (id == ID_APP_ABOUT)
            continue;
        bool enabled = true;
        bool checked = false;
        provider_(id, enabled, checked);
        QAction* action = actions_.value(id);
        if (action->isEnabled() != enabled)
            action->setEnabled(enabled);
        if (action->isCheckable() && action->isChecked() != checked)
            action->setChecked(checked);
    }
}

int Ribbon::panelContentWidth(std::size_t panel) const {
    int width = 4;
    for (RibbonButton* button : panelButtons_[panel])
        width += button ? button->sizeHint().width() + 1 : 8;
    const QFontMetrics metrics(font());
    const int captionWidth =
        metrics.horizontalAdvance(QString::fromUtf8(panels_[panel]->text)) + 24;
    return std::max(width + 3, captionWidth);
}

QSize Ribbon::sizeHint() const {
    int width = 8;
    for (std::size_t p = 0; p < panels_.size(); ++p)
        width += panelContentWidth(p) + kPanelSpacing;
    const QFontMetrics metrics(font());
    const int captionHeight = metrics.height() + 3;
    return {width, kTabRowHeight + 3 + 4 + kLargeButtonHeight + 3 + captionHeight + 4};
}

QSize Ribbon::minimumSizeHint() const {
    return {200, sizeHint().height()};
}

bool Ribbon::isPanelCollapsed(int panel) const {
    return panel >= 0 && std::size_t(panel) < collapsedButtons_.size() &&
           !collapsedButtons_[panel]->isHidden();
}

void Ribbon::doLayout() {
    const QFontMetrics metrics(font());
    applicationButton_->setGeometry(QRect(QPoint(4, 3), applicationButton_->sizeHint()));
    const int tabLeft = applicationButton_->geometry().right() + 8;
    tabRect_ = QRect(tabLeft, 5, metrics.horizontalAdvance(categoryText_) + 30, kTabRowHeight - 5);

    int right = width() - 4;
    for (auto it = tabElements_.rbegin(); it != tabElements_.rend(); ++it) {
        const QSize hint = (*it)->sizeHint();
        (*it)->setGeometry(right - hint.width(), 5, hint.width(), hint.height());
        right -= hint.width() + 1;
    }

    // Too narrow for every panel: panels fold into one button each, the last one first.
    const std::size_t count = panels_.size();
    std::vector<int> widths(count);
    std::vector<bool> collapsed(count, false);
    int total = 4;
    for (std::size_t p = 0; p < count; ++p) {
        widths[p] = panelContentWidth(p);
        total += widths[p] + kPanelSpacing;
    }
    for (std::size_t p = count; p-- > 0 && total > width();) {
        const int folded = collapsedButtons_[p]->sizeHint().width() + 8;
        if (folded >= widths[p])
            continue;
        total -= widths[p] - folded;
        widths[p] = folded;
        collapsed[p] = true;
    }

    const int top = kTabRowHeight + 3;
    const int panelHeight = height() - top - 4;
    const int captionHeight = metrics.height() + 3;
    int x = 4;
    panelGeometry_.clear();
    for (std::size_t p = 0; p < count; ++p) {
        PanelGeometry geometry;
        geometry.text = QString::fromUtf8(panels_[p]->text);
        geometry.rect = QRect(x, top, widths[p], panelHeight);
        geometry.collapsed = collapsed[p];
        RibbonButton* folded = collapsedButtons_[p];
        folded->setVisible(collapsed[p]);
        if (collapsed[p]) {
            folded->setGeometry(x + 4, top + 3, widths[p] - 8, panelHeight - 6);
            for (RibbonButton* button : panelButtons_[p]) {
                if (button)
                    button->hide();
            }
        } else {
            int contentWidth = 4;
            for (RibbonButton* button : panelButtons_[p]) {
                if (!button) {
                    geometry.separators.append(contentWidth + 3);
                    contentWidth += 8;
                    continue;
                }
                const QSize hint = button->sizeHint();
                button->setGeometry(contentWidth, top + 3, hint.width(),
                                    std::min(hint.height(), panelHeight - captionHeight - 5));
                button->show();
                contentWidth += hint.width() + 1;
            }
            const int offset = x + (widths[p] - contentWidth - 3) / 2;
            for (RibbonButton* button : panelButtons_[p]) {
                if (button)
                    button->move(button->x() + offset, button->y());
            }
            for (int& separator : geometry.separators)
                separator += offset;
        }
        panelGeometry_.push_back(geometry);
        x += widths[p] + kPanelSpacing;
    }
}

void Ribbon::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    doLayout();
    if (keyTipsShown() && !keyTipMenu_) {
        showKeyTips(false);
        showKeyTips(true);
    }
}

void Ribbon::paintEvent(QPaintEvent*) {
    const RibbonLook& look = ribbonLook();
    QPainter painter(this);
    const QRectF whole = rect();

    // Tab row, then the body of the category below it.
    const QRectF tabRow(0, 0, width(), kTabRowHeight);
    painter.fillRect(tabRow, verticalGradient(tabRow, look.tabRowTop, look.tabRowBottom));
    const QRectF body(0, kTabRowHeight, width(), height() - kTabRowHeight);
    painter.fillRect(body, verticalGradient(body, look.bodyTop, look.bodyBottom));
    painter.setPen(look.bodyBorder);
    painter.drawLine(QPointF(0, kTabRowHeight - 0.5), QPointF(whole.right(), kTabRowHeight - 0.5));
    painter.drawLine(QPointF(0, whole.bottom() - 0.5),
                     QPointF(whole.right(), whole.bottom() - 0.5));

    painter.setRenderHint(QPainter::Antialiasing);
    // The selected (and only) tab opens into the body.
    QRectF tab = QRectF(tabRect_).adjusted(0.5, 0.5, -0.5, 0);
    QPainterPath tabPath;
    tabPath.moveTo(tab.left(), tab.bottom() + 0.5);
    tabPath.lineTo(tab.left(), tab.top() + 3);
    tabPath.quadTo(tab.topLeft(), QPointF(tab.left() + 3, tab.top()));
    tabPath.lineTo(tab.right() - 3, tab.top());
    tabPath.quadTo(tab.topRight(), QPointF(tab.right(), tab.top() + 3));
    tabPath.lineTo(tab.right(), tab.bottom() + 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(verticalGradient(tab, look.tabSelectedTop, look.tabSelectedBottom));
    painter.drawPath(tabPath);
    painter.setPen(QPen(look.tabBorder, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tabPath);
    painter.setPen(look.tabSelectedText);
    painter.drawText(tabRect_.adjusted(0, 1, 0, 0), Qt::AlignCenter, categoryText_);

    const QFontMetrics metrics(font());
    const int captionHeight = metrics.height() + 3;
    for (const PanelGeometry& panel : panelGeometry_) {
        const QRectF frame = QRectF(panel.rect);
        fillRounded(painter, frame, 3, look.panelTop, look.panelBottom, look.panelBorder);
        if (panel.collapsed)
            continue;
        const QRectF caption(frame.left() + 1, frame.bottom() - captionHeight, frame.width() - 2,
                             captionHeight - 1);
        QPainterPath captionPath;
        captionPath.addRoundedRect(caption, 2, 2);
        painter.fillPath(captionPath,
                         verticalGradient(caption, look.captionTop, look.captionBottom));
        painter.setPen(look.captionText);
        painter.drawText(caption, Qt::AlignCenter, panel.text);
        for (int x : panel.separators) {
            const qreal top = frame.top() + 6;
            const qreal bottom = caption.top() - 5;
            painter.setPen(look.separator);
            painter.drawLine(QPointF(x + 0.5, top), QPointF(x + 0.5, bottom));
            painter.setPen(QColor(255, 255, 255, 110));
            painter.drawLine(QPointF(x + 1.5, top), QPointF(x + 1.5, bottom));
        }
    }
}

bool Ribbon::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        updateGeometry();
        doLayout();
        update();
        break;
    case QEvent::ContextMenu:
        // The ribbon has no menu of its own, and none of the window's either.
        event->accept();
        return true;
    default:
        break;
    }
    return QWidget::event(event);
}

void Ribbon::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshStates();
    refreshTimer_->start();
}

void Ribbon::hideEvent(QHideEvent* event) {
    refreshTimer_->stop();
    showKeyTips(false);
    QWidget::hideEvent(event);
}

void Ribbon::showKeyTips(bool show) {
    for (QWidget* badge : keyTipBadges_)
        delete badge;
    keyTipBadges_.clear();
    keyTipMenu_ = nullptr;
    if (!show)
        return;
    for (const KeyTipTarget& target : keyTipTargets_) {
        if (!target.button || target.button->isHidden())
            continue;
        auto* badge = new KeyTipBadge(target.tip, this);
        badge->setFaded(!target.button->isEnabled());
        const QRect geometry = target.button->geometry();
        auto* ribbonButton = static_cast<RibbonButton*>(target.button.data());
        if (ribbonButton->shape() == RibbonButton::Large)
            badge->placeCentered(QPoint(geometry.center().x(), geometry.bottom() - 2));
        else
            badge->placeCentered(QPoint(geometry.center().x(), geometry.bottom() + 2));
        badge->show();
        badge->raise();
        keyTipBadges_.push_back(badge);
    }
}

void Ribbon::showMenuKeyTips(QMenu* menu) {
    showKeyTips(false);
    keyTipMenu_ = menu;
    for (const KeyTipTarget& target : keyTipTargets_) {
        if (target.menu != menu || !target.action)
            continue;
        auto* badge = new KeyTipBadge(target.tip, menu);
        badge->setFaded(!target.action->isEnabled());
        const QRect geometry = menu->actionGeometry(target.action);
        badge->placeCentered(
            QPoint(geometry.right() - badge->width() / 2 - 6, geometry.center().y()));
        badge->show();
        keyTipBadges_.push_back(badge);
    }
    // Nothing to show still keeps the menu in key-tip mode so Escape leaves it cleanly.
    keyTipMenu_ = menu;
}

void Ribbon::activateKeyTip(const KeyTipTarget& target) {
    if (target.action) {
        if (!target.action->isEnabled())
            return;
        QAction* action = target.action;
        if (QMenu* sub = action->menu()) {
            target.menu->setActiveAction(action);
            if (!sub->isVisible())
                sub->popup(
                    target.menu->mapToGlobal(target.menu->actionGeometry(action).topRight()));
            showMenuKeyTips(sub);
            return;
        }
        if (target.menu)
            target.menu->hide();
        showKeyTips(false);
        action->trigger();
        return;
    }
    QAbstractButton* button = target.button;
    if (!button || !button->isEnabled())
        return;
    auto* tool = static_cast<RibbonButton*>(button);
    if (QMenu* menu = tool->menu()) {
        showKeyTips(false);
        menu->popup(tool->mapToGlobal(QPoint(0, tool->height())));
        // Opened from the keyboard, the menu starts on its first item as a menu bar's does.
        const QList<QAction*> items = menu->actions();
        const auto first = std::find_if(items.begin(), items.end(),
                                        [](QAction* item) { return item->isEnabled(); });
        if (first != items.end())
            menu->setActiveAction(*first);
        showMenuKeyTips(menu);
        return;
    }
    showKeyTips(false);
    button->click();
}

bool Ribbon::handleKeyTipKey(QKeyEvent* key, QMenu* inMenu) {
    if (key->key() == Qt::Key_Escape && !inMenu) {
        showKeyTips(false);
        return true;
    }
    const QString typed = key->text().toUpper();
    if (!typed.isEmpty()) {
        for (const KeyTipTarget& target : keyTipTargets_) {
            const bool inScope =
                inMenu ? target.menu == inMenu : target.button && !target.button->isHidden();
            if (inScope && target.tip.compare(typed, Qt::CaseInsensitive) == 0) {
                const KeyTipTarget copy = target;
                activateKeyTip(copy);
                return true;
            }
        }
    }
    // In a menu the arrows, Enter and Escape keep working; on the ribbon every other key is
    // taken by the key tips.
    return !inMenu;
}

bool Ribbon::ownsWidget(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || !isVisible())
        return false;
    if (widget->windowType() == Qt::Popup)
        return false;
    return widget->window() == window();
}

bool Ribbon::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // While the tips are up, letters belong to them, not to the window's shortcuts.
        if (keyTipsShown() && !keyTipMenu_ && ownsWidget(watched)) {
            event->accept();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (keyTipMenu_ && watched == keyTipMenu_.data())
            return handleKeyTipKey(key, keyTipMenu_);
        if (!ownsWidget(watched))
            break;
        if (key->key() == Qt::Key_Alt) {
            if (!key->isAutoRepeat())
                altPending_ = true;
            break;
        }
        altPending_ = false;
        if (keyTipsShown())
            return handleKeyTipKey(key, nullptr);
        break;
    }
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Alt && altPending_ && ownsWidget(watched)) {
            // Alt pressed and released alone shows the key tips, a second time hides them.
            altPending_ = false;
            showKeyTips(!keyTipsShown());
            return true;
        }
        break;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        altPending_ = false;
        if (keyTipsShown() && !keyTipMenu_)
            showKeyTips(false);
        break;
    case QEvent::WindowDeactivate:
        if (watched == window() && !keyTipMenu_) {
            altPending_ = false;
            showKeyTips(false);
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

#include "Ribbon.moc"
