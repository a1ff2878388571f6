#include "ui/panes/WebSocketMessagesView.h"

#include "engine/Platform.h"
#include "resources/StringTable.h"
#include "store/HttpResource.h"
#include "store/WebSocketLog.h"
#include "ui/panes/HexDump.h"

#include <QDateTime>
#include <QFontDatabase>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <string>

namespace {

enum Column { DirectionColumn, TimeColumn, TypeColumn, SizeColumn, ContentColumn, ColumnCount };

// The content column shows the start of a payload on one line.
constexpr qsizetype kContentPreview = 200;
constexpr int kRowRole = Qt::UserRole + 1;

QString text(unsigned id) {
    return QString::fromUtf8(loadString(id));
}

QString format(unsigned id, const std::string& a) {
    char out[1024];
    std::snprintf(out, sizeof out, loadString(id), a.c_str());
    return QString::fromUtf8(out);
}

bool isText(const WebSocketMessage& message) {
    return message.opcode == 1 && !message.undecodable;
}

QString hexDump(const std::string& bytes) {
    const auto length = std::int64_t(bytes.size());
    const HexCache cache{0, reinterpret_cast<const unsigned char*>(bytes.data()), length};
    const int digits = hexOffsetDigits(length);
    std::string line(std::size_t(hexLineColumns(digits)), ' ');
    QString out;
    for (std::int64_t n = 0; n < hexLineCount(length); ++n) {
        const int count = formatHexLine(line.data(), n, length, cache, digits);
        out += QString::fromLatin1(line.data(), count);
        out += QLatin1Char('\n');
    }
    return out;
}

QString sizeOf(std::uint64_t bytes) {
    return QString::number(bytes) + QStringLiteral(" B");
}

} // namespace

QString webSocketPayloadText(const WebSocketMessage& message) {
    if (message.opcode == 8) {
        if (message.closeCode < 0)
            return text(IDS_WS_CLOSE_NO_CODE);
        char out[1024];
        std::snprintf(out, sizeof out, loadString(IDS_WS_CLOSE_CODE), message.closeCode,
                      message.closeReason.c_str());
        return QString::fromUtf8(out);
    }
    if (isText(message)) {
        const QByteArray bytes = QByteArray::fromStdString(message.payload);
        if (!message.payloadCut) {
            QJsonParseError error;
            const QJsonDocument json = QJsonDocument::fromJson(bytes, &error);
            if (error.error == QJsonParseError::NoError && !json.isNull())
                return QString::fromUtf8(json.toJson(QJsonDocument::Indented));
        }
        return QString::fromUtf8(bytes);
    }
    return hexDump(message.payload);
}

QString webSocketSizeText(const WebSocketMessage& message) {
    if (message.compressed && message.wireSize != message.size)
        return sizeOf(message.size) + QStringLiteral(" (") + sizeOf(message.wireSize) +
               QLatin1Char(')');
    return sizeOf(message.size);
}

WebSocketMessagesView::WebSocketMessagesView(QWidget* parent)
    : DockablePane(text(IDS_PANE_WEBSOCKET_MESSAGES), parent), note_(new QLabel),
      list_(new QTreeWidget), payload_(new QPlainTextEdit) {
    setObjectName(QStringLiteral("WebSocketMessagesView"));
    note_->setObjectName(QStringLiteral("WebSocketNote"));
    note_->setWordWrap(true);
    note_->setContentsMargins(4, 2, 4, 2);
    note_->hide();

    list_->setObjectName(QStringLiteral("WebSocketMessageList"));
    list_->setColumnCount(ColumnCount);
    list_->setHeaderLabels({text(IDS_WS_COLUMN_DIRECTION), text(IDS_WS_COLUMN_TIME),
                            text(IDS_COLUMN_TYPE), text(IDS_COLUMN_SIZE),
                            text(IDS_WS_COLUMN_CONTENT)});
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->header()->setStretchLastSection(true);
    const QFontMetrics fm = list_->fontMetrics();
    list_->setColumnWidth(DirectionColumn, fm.horizontalAdvance(text(IDS_WS_FROM_SERVER)) + 24);
    list_->setColumnWidth(TimeColumn, fm.horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    list_->setColumnWidth(TypeColumn, fm.horizontalAdvance(QStringLiteral("binary")) + 24);
    list_->setColumnWidth(SizeColumn,
                          fm.horizontalAdvance(QStringLiteral("999999 B (999999 B)")) + 16);

    payload_->setObjectName(QStringLiteral("WebSocketPayload"));
    payload_->setReadOnly(true);
    payload_->setLineWrapMode(QPlainTextEdit::NoWrap);
    payload_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(list_);
    splitter->addWidget(payload_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(note_);
    layout->addWidget(splitter, 1);
    setChild(box);
    setFocusProxy(list_);

    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item, QTreeWidgetItem*) {
                showMessage(item ? item->data(0, kRowRole).toInt() : -1);
            });
}

void WebSocketMessagesView::paneResource(HttpResource* resource) {
    list_->clear();
    payload_->clear();
    messages_.clear();
    note_->hide();
    if (!resource || !resource->tunnel || !(resource->flags & HttpResource::WebSocket))
        return;
    WebSocketLog log;
    if (!readWebSocketLog(*resource, log, kShownPayload)) {
        note_->setText(QString::fromUtf8(errorText(lastError())));
        note_->show();
        return;
    }
    messages_ = std::move(log.messages);
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(messages_.size()));
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const WebSocketMessage& m = messages_[i];
        auto* row = new QTreeWidgetItem;
        row->setData(0, kRowRole, int(i));
        row->setText(DirectionColumn, text(m.fromClient ? IDS_WS_FROM_CLIENT : IDS_WS_FROM_SERVER));
        row->setText(
            TimeColumn,
            QDateTime::fromMSecsSinceEpoch(m.time / 1000).toString(QStringLiteral("HH:mm:ss.zzz")));
        row->setText(TypeColumn, QString::fromStdString(webSocketOpcodeName(m.opcode)));
        row->setText(SizeColumn, webSocketSizeText(m));
        row->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        QString content = m.opcode == 8 || isText(m)
                              ? webSocketPayloadText(m).simplified().left(kContentPreview)
                              : QString::fromLatin1(
                                    QByteArray::fromStdString(m.payload.substr(0, 32)).toHex(' '));
        row->setText(ContentColumn, content);
        rows.append(row);
    }
    list_->addTopLevelItems(rows);
    if (log.cut) {
        note_->setText(format(IDS_WS_KEPT_FIRST, std::to_string(messages_.size())));
        note_->show();
    } else if (resource->flags & HttpResource::Loading) {
        note_->setText(text(IDS_WS_STILL_OPEN));
        note_->show();
    }
}

void WebSocketMessagesView::showMessage(int row) {
    if (row < 0 || std::size_t(row) >= messages_.size()) {
        payload_->clear();
        return;
    }
    const WebSocketMessage& m = messages_[std::size_t(row)];
    QString shown = webSocketPayloadText(m);
    if (m.undecodable)
        shown = text(IDS_WS_UNDECODABLE) + QLatin1Char('\n') + shown;
    if (m.payloadCut || !m.complete)
        shown += QLatin1Char('\n') + format(IDS_WS_PAYLOAD_CUT, std::to_string(m.payload.size()));
    payload_->setPlainText(shown);
}
