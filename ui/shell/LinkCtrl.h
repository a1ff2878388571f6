// A static text turned into a hyperlink: link colours, underline while the
// mouse is over it, a hand cursor, the address as tooltip, and a click that
// opens the address in the user's browser.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

class LinkCtrl : public QLabel {
    Q_OBJECT
public:
    explicit LinkCtrl(const QString& text = QString(), QWidget* parent = nullptr);

    // Makes the label a link; called once its text (and perhaps its address)
    // is set. The constructor calls it for the text it is given.
    void attach();
    // Stores the address, sizes the control to its text and shows the
    // address as tooltip.
    void setAddress(const QString& address);
    const QString& address() const { return address_; }

    // Opens the address in the browser: visited on success, otherwise a beep
    // and the error message for the result. Returns the result: above 32 is
    // success, as the message table counts.
    int open();
    // "Unable to open hyperlink:\n\n" and the text for an opening result.
    static QString errorMessage(int result);

    QColor linkColour{0, 0, 238};
    QColor visitedColour{85, 26, 139};
    QColor hoverColour{255, 0, 0};
    bool hovering = false;
    bool visited = false;
    int underlineMode = -1; // underlined only while hovering
    bool adjustToFit = true;

    // The hover check's period: leaving is noticed within this many ms.
    static constexpr int kHoverCheckMs = 100;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void fitToText();
    void updateColour();

    QString address_;
    QFont underlinedFont_;
    QFont normalFont_;
    QBasicTimer hoverTimer_;
    bool attached_ = false;
    bool pressed_ = false;
};
