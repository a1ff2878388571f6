// Memory held per captured resource: 100,000 exchanges with 1 KiB bodies
// pass the capture filter (as connection threads drive it) into a document;
// prints the resident memory per resource beyond the resource's own bytes.
// Goal: under 2 KiB per small resource.
#include "bench/CaptureBench.h"
#include "engine/HttpMessageHeader.h"
#include "store/CaptureLock.h"
#include "store/Document.h"
#include "store/MemoryImage.h"
#include "store/QueuedEventDelivery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

struct CountingListener : DocumentListener {
    void documentEvent(const DocumentNotice&) override { ++events; }
    long events = 0;
};

long statusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const BenchDataHome home;

    const std::string requestBlock =
        "GET http://www.example.com/static/images/sprites/icon-0000.png?v=20240101 HTTP/1.1\r\n"
        "Host: www.example.com\r\n"
        "User-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:120.0) Gecko/20100101 Firefox/120.0\r\n"
        "Accept: image/avif,image/webp,*/*\r\nAccept-Language: en-US,en;q=0.5\r\n"
        "Accept-Encoding: gzip, deflate, br\r\nConnection: keep-alive\r\n"
        "Referer: http://www.example.com/index.html\r\nCookie: session=0123456789abcdef\r\n";
    const std::string responseBlock =
        "HTTP/1.1 200 OK\r\nServer: nginx\r\nDate: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
        "Content-Type: image/png\r\nContent-Length: 1024\r\nCache-Control: max-age=3600\r\n"
        "ETag: \"5f3e-400\"\r\n";
    const std::string body(1024, 'p');

    BenchUi ui;
    QueuedEventDelivery delivery;
    NoSettings settings;
    long before = 0;
    std::int64_t ownBytes = 0;
    {
        Document document(ui, delivery, settings);
        CountingListener listener;
        document.addListener(DocumentEvent::ResourceAdded, &listener);
        document.addListener(DocumentEvent::ResourceChanged, &listener);
        if (!document.newDocument())
            return 1;
        before = statusKiB("VmRSS:");
        for (int i = 0; i < count; ++i) {
            HttpRequestHeader request;
            parseRequestHeader(requestBlock.data(), std::int32_t(requestBlock.size()), request);
            HttpResponseHeader response;
            parseResponseHeader(responseBlock.data(), std::int32_t(responseBlock.size()), response);
            const int handle = document.filter.beginRequest(0, request);
            document.filter.beginResponse(handle, response);
            document.filter.responseData(handle, body.data(), std::int32_t(body.size()));
            document.filter.endExchange(handle, 0);
            if (i % 1000 == 999)
                delivery.dispatchPending();
        }
        delivery.dispatchPending();
        const long after = statusKiB("VmRSS:");
        {
            CaptureLocker lock(captureLock());
            for (HttpResource* r = document.resources.head; r; r = r->next)
                if (const MemoryImage* image = r->memoryImage())
                    ownBytes += image->length();
        }
        const double perResource = double(after - before) * 1024.0 / count;
        const double own = double(ownBytes) / count;
        std::printf("captured resources:          %d (%zu listed, %ld notices)\n", count,
                    document.resources.count, listener.events);
        std::printf("resident growth:             %.1f MiB (peak %.1f MiB)\n",
                    double(after - before) / 1024.0, double(statusKiB("VmHWM:")) / 1024.0);
        std::printf("per resource:                %.0f bytes\n", perResource);
        std::printf("own bytes (cache image):     %.0f bytes\n", own);
        std::printf("overhead per resource:       %.0f bytes (goal < 2048)\n", perResource - own);
        document.closeCaptures(false);
        document.removeListener(&listener);
    }
    return 0;
}
