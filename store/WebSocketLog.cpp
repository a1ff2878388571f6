#include "store/WebSocketLog.h"

#include "engine/HttpMessageHeader.h"
#include "engine/Platform.h"
#include "store/ExtensionRecords.h"
#include "store/HttpResource.h"

bool readWebSocketLog(HttpResource& resource, WebSocketLog& log, std::size_t payloadLimit) {
    log = WebSocketLog();
    if (!resource.tunnel || !(resource.flags & HttpResource::WebSocket)) {
        setLastError(kErrorNoResponseData);
        return false;
    }
    HttpResponseHeader response;
    if (!resource.readResponseHeader(response))
        return false;
    for (const HttpHeaderField& field : response.fields)
        if (equalsIgnoreCase(field.name, "Sec-WebSocket-Extensions") &&
            negotiatesPerMessageDeflate(field.value))
            log.perMessageDeflate = true;
    // A capture over says what it carried; one still running (or cut off by
    // the end of the process) has only its place-holder.
    const bool over =
        !(resource.flags & HttpResource::Loading) && resource.result != kErrorCaptureInterrupted;
    const bool cutSoFar = resource.tunnel->webSocketCut;
    std::unique_ptr<Stream> image = resource.openImage();
    if (!image)
        return false;
    const std::int64_t end = image->size();
    WebSocketMessageAssembler assembler(log.perMessageDeflate, payloadLimit);
    const bool read = records::walk(
        *image, resource.extensionOffset(), end,
        [&](std::string_view tag, std::string_view payload) {
            if (tag == std::string_view(records::kWebSocketPiece, 4)) {
                WebSocketFramePiece piece;
                std::string_view bytes;
                if (records::decodeWebSocketPiece(payload, piece, bytes))
                    assembler.piece(piece, bytes);
            } else if (tag == std::string_view(records::kWebSocketTotals, 4) && over) {
                log.haveTotals = records::decodeWebSocketTotals(payload, log.totals);
            }
            return true;
        });
    log.messages = std::move(assembler.messages);
    log.cut = log.haveTotals ? log.totals.cut : cutSoFar;
    return read;
}
