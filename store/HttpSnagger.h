// The capturing filter: turns every relayed exchange into a resource of the
// capture document.
#pragma once

#include "engine/HttpFilter.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class Document;
class HttpResource;

// Runs on connection threads, many at once, and never waits for the
// user-interface thread: every notice is posted. The capture lock is held
// only to number an exchange, to list it and to mark it ended; storing its
// bytes and posting its notices hold no lock that other connections need.
class HttpSnagger : public HttpFilter {
public:
    explicit HttpSnagger(Document* document) : document(document) {}
    ~HttpSnagger() override;

    int beginRequest(int context, HttpRequestHeader& request) override;
    void requestData(int handle, const char* bytes, int count) override;
    bool beginResponse(int handle, HttpResponseHeader& response) override;
    void responseData(int handle, const char* bytes, int count) override;
    void tunnelData(int handle, std::int64_t toServer, std::int64_t toClient,
                    TunnelEnd end) override;
    bool followsUpgrade(int handle) override;
    void upgradeData(int handle, bool fromClient, const char* bytes, int count) override;
    void exchangeTimings(int handle, const ExchangeTimings& timings) override;
    void endExchange(int handle, std::uint32_t errorCode) override;
    void userRefused(std::uint32_t uid) override;

    Document* const document;
    // Strip the client's cache validators and mark every response not
    // cacheable, so that everything is fetched (and captured) again.
    std::atomic<bool> preventCache{false};

private:
    // Exchanges in flight, indexed by handle: a resource's address does not
    // fit the 32-bit handle the engine carries.
    struct Exchange {
        HttpResource* resource = nullptr;
        bool listed = false; // added to the document
    };
    int open(HttpResource* resource);
    // Tells the document when the resource could not be stored.
    void storeFailed(HttpResource& resource);
    // The end of an exchange: its image stored, then the resource marked
    // ended (or freed when nobody will see it).
    void complete(HttpResource* resource, bool listed);
    Exchange& at(int handle);
    void close(int handle);

    std::mutex exchangesMutex_;
    std::deque<Exchange> exchanges_; // growing keeps references to elements valid
    std::vector<int> freeHandles_;
};
