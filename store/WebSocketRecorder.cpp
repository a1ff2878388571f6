#include "store/WebSocketRecorder.h"

#include "store/ExtensionRecords.h"
#include "store/HttpResource.h"

bool WebSocketRecorder::piece(const WebSocketFramePiece& piece, std::string_view payload) {
    record_.clear();
    records::appendWebSocketPiece(record_, piece, payload);
    // One write per record: a reader never finds half of one but at the end.
    return resource_.writeData(record_.data(), std::uint32_t(record_.size()));
}
