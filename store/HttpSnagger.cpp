#include "store/HttpSnagger.h"

#include "engine/HttpMessageHeader.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/HttpResource.h"
#include "store/WebSocketRecorder.h"

#include <ctime>

#include <memory>

HttpSnagger::~HttpSnagger() {
    // The proxy has stopped, so every exchange has ended; anything left here
    // was never listed (listed ones belong to the document).
    for (Exchange& exchange : exchanges_)
        if (!exchange.listed)
            delete exchange.resource;
}

int HttpSnagger::open(HttpResource* resource) {
    std::lock_guard<std::mutex> lock(exchangesMutex_);
    int handle;
    if (!freeHandles_.empty()) {
        handle = freeHandles_.back();
        freeHandles_.pop_back();
    } else {
        handle = static_cast<int>(exchanges_.size());
        exchanges_.emplace_back();
    }
    exchanges_[std::size_t(handle)] = {resource, false};
    return handle;
}

HttpSnagger::Exchange& HttpSnagger::at(int handle) {
    // The table may grow on another thread (which leaves elements in place);
    // an element is only touched by the connection thread owning its handle.
    std::lock_guard<std::mutex> lock(exchangesMutex_);
    return exchanges_[std::size_t(handle)];
}

void HttpSnagger::close(int handle) {
    std::lock_guard<std::mutex> lock(exchangesMutex_);
    exchanges_[std::size_t(handle)] = {};
    freeHandles_.push_back(handle);
}

int HttpSnagger::beginRequest(int, HttpRequestHeader& request) {
    auto resource = std::make_unique<HttpResource>(document);
    if (preventCache) {
        for (const char* name : {"Pragma", "Cache-Control", "If-Match", "If-None-Match",
                                 "If-Modified-Since", "If-Unmodified-Since"})
            request.remove(name);
    }
    const std::uint32_t id = document->takeSequenceNumber();
    if (!resource->begin(id) || !resource->writeRequestHeader(request))
        return -1; // relayed, not captured
    return open(resource.release());
}

void HttpSnagger::storeFailed(HttpResource& resource) {
    if (resource.storeError)
        document->captureNotStored(resource.storeError);
}

void HttpSnagger::requestData(int handle, const char* bytes, int count) {
    // Not listed yet: only this connection thread knows the resource.
    HttpResource& resource = *at(handle).resource;
    if (count > 0 && !resource.writeData(bytes, std::uint32_t(count)))
        storeFailed(resource);
}

bool HttpSnagger::beginResponse(int handle, HttpResponseHeader& response) {
    if (preventCache) {
        response.set("Cache-Control", "no-cache", true);
        response.remove("ETag");
        response.remove("Expires");
    }
    Exchange& exchange = at(handle);
    HttpResource* resource = exchange.resource;
    // A response that could not be stored is listed all the same, as a
    // failed capture that says why: the user must not lose it unseen.
    if (!resource->writeResponseHeader(response))
        storeFailed(*resource);
    {
        CaptureLocker lock(captureLock());
        document->addResource(resource);
        exchange.listed = true;
    }
    document->post(DocumentEvent::ResourceAdded, resource->id);
    return true;
}

void HttpSnagger::responseData(int handle, const char* bytes, int count) {
    // The resource is listed, but only this thread writes it and only the
    // user-interface thread frees it, after the exchange has ended: no lock
    // is needed to store the bytes, and none is held while they are written.
    HttpResource* resource = at(handle).resource;
    // A tunnel's head has no body after it (a 101 cannot have one): its
    // records are there.
    if ((resource->flags & HttpResource::Detached) || resource->tunnel)
        return;
    if (count > 0) {
        if (resource->writeData(bytes, std::uint32_t(count)))
            resource->receivedSize += count;
        else
            storeFailed(*resource);
    }
    document->post(DocumentEvent::ResourceChanged, resource->id);
}

void HttpSnagger::tunnelData(int handle, std::int64_t toServer, std::int64_t toClient,
                             TunnelEnd end) {
    // As responseData: counts the list reads as they change, no lock.
    HttpResource* resource = at(handle).resource;
    if ((resource->flags & HttpResource::Detached) || !resource->tunnel)
        return;
    HttpResource::TunnelCounts& tunnel = *resource->tunnel;
    tunnel.toServer += toServer;
    tunnel.toClient += toClient;
    if (tunnel.webSocket)
        tunnel.webSocketCut = tunnel.webSocket->totals().cut;
    if (end != TunnelEnd::Open) {
        // A WebSocket is closed by whoever sent the first close frame, whichever
        // side then dropped the connection.
        const std::uint8_t closedBy = tunnel.webSocket ? tunnel.webSocket->totals().closedBy : 0;
        if (end != TunnelEnd::Stopped && closedBy != 0)
            end = closedBy == 1 ? TunnelEnd::ClientClosed : TunnelEnd::ServerClosed;
        tunnel.end = end;
    }
    document->post(DocumentEvent::ResourceChanged, resource->id);
}

bool HttpSnagger::followsUpgrade(int handle) {
    HttpResource* resource = at(handle).resource;
    if ((resource->flags & HttpResource::Detached) ||
        !(resource->flags & HttpResource::WebSocket) || !resource->tunnel ||
        resource->statusCode != 101 || resource->storeError)
        return false;
    resource->tunnel->webSocket = std::make_unique<WebSocketRecorder>(*resource);
    return true;
}

void HttpSnagger::upgradeData(int handle, bool fromClient, const char* bytes, int count) {
    HttpResource* resource = at(handle).resource;
    if ((resource->flags & HttpResource::Detached) || !resource->tunnel ||
        !resource->tunnel->webSocket || count <= 0)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    resource->tunnel->webSocket->data(fromClient, bytes, std::size_t(count),
                                      std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
    if (resource->storeError)
        storeFailed(*resource);
}

void HttpSnagger::exchangeTimings(int handle, const ExchangeTimings& timings) {
    const Exchange& exchange = at(handle);
    HttpResource* resource = exchange.resource;
    // Once listed, others read the timings: only the end may change then.
    if (!exchange.listed)
        resource->timings = timings;
    else if (timings.end >= 0 && resource->duration < 0)
        resource->duration = timings.end;
}

void HttpSnagger::endExchange(int handle, std::uint32_t errorCode) {
    const Exchange exchange = at(handle);
    close(handle);
    HttpResource* resource = exchange.resource;
    resource->result = errorCode;
    // Stored before the connection reads the next request: a small image is
    // one append to the log, cheaper than handing it to another thread, and
    // an exchange the client has seen end is on disk however the process
    // ends.
    complete(resource, exchange.listed);
}

void HttpSnagger::complete(HttpResource* resource, bool listed) {
    // The file work before the capture lock; a resource nobody will see is
    // not written out.
    if (listed && !(resource->flags & HttpResource::Detached) && !resource->finishImage())
        storeFailed(*resource);
    const std::uint32_t id = resource->id;
    bool discard;
    {
        CaptureLocker lock(captureLock());
        resource->markEnded();
        // Never listed (the exchange failed before its response head), or
        // removed by the user while loading: nobody else will free it.
        // Posted notices carry only its sequence number, so freeing it now is
        // safe. Once the lock is released a listed resource may be freed by
        // a clear, so nothing of it is touched after that.
        discard = !listed || (resource->flags & HttpResource::Detached);
    }
    if (discard) {
        resource->deleteStored();
        delete resource;
        return;
    }
    document->post(DocumentEvent::ResourceChanged, id);
}

void HttpSnagger::userRefused(std::uint32_t uid) {
    document->userRefused(uid);
}
