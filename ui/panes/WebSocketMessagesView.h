// The messages of the current resource when it is a WebSocket: one row per
// message with its direction, time, type and size, and the chosen message's
// payload below it, as text (JSON laid out) or as a hex dump.
#pragma once

#include "ui/panes/DockablePane.h"
#include "websocket/WebSocketMessages.h"

#include <QString>

#include <cstddef>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QTreeWidget;

class WebSocketMessagesView : public DockablePane {
    Q_OBJECT

public:
    explicit WebSocketMessagesView(QWidget* parent = nullptr);

    QTreeWidget* list() const { return list_; }
    QPlainTextEdit* payloadView() const { return payload_; }
    // What the pane says above the list (how many were kept, why none).
    QLabel* note() const { return note_; }

    // A payload is read up to this many bytes for showing.
    static constexpr std::size_t kShownPayload = std::size_t(1) << 20;

protected:
    void paneResource(HttpResource* resource) override;
    bool followsCompletion() const override { return true; }

private:
    void showMessage(int row);

    QLabel* note_;
    QTreeWidget* list_;
    QPlainTextEdit* payload_;
    std::vector<WebSocketMessage> messages_;
};

// The payload as the pane shows it: text as it is (JSON laid out with
// indentation), a close frame's code and reason, anything else as a hex dump.
QString webSocketPayloadText(const WebSocketMessage& message);
// The size column: the payload's size, and the size it travelled in when it
// was compressed.
QString webSocketSizeText(const WebSocketMessage& message);
