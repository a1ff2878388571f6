// A proxy on an ephemeral loopback port that leaves the user's settings
// alone, and a filter that also keeps the heads it was shown.
#pragma once

#include "engine/HttpConnection.h"
#include "engine/HttpMessageHeader.h"
#include "engine/HttpProxy.h"
#include "support/OriginServer.h"
#include "support/RecordingFilter.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

class SeeingFilter : public RecordingFilter {
public:
    int beginRequest(int context, HttpRequestHeader& request) override {
        const int handle = RecordingFilter::beginRequest(context, request);
        std::lock_guard lock(seen_);
        requestLines.push_back(request.method + " " + request.target);
        lineOf[handle] = requestLines.back();
        return handle;
    }
    bool beginResponse(int handle, HttpResponseHeader& response) override {
        {
            std::lock_guard lock(seen_);
            statuses.push_back(response.statusCode);
            if (isProxyPage(response))
                lineOf.erase(handle);
        }
        return RecordingFilter::beginResponse(handle, response);
    }
    // The requests that were not answered by a page of the proxy's own in
    // place of their origin: those that may have reached it.
    std::vector<std::string> relayedRequests() {
        std::lock_guard lock(seen_);
        std::vector<std::string> out;
        for (const auto& [handle, line] : lineOf)
            out.push_back(line);
        return out;
    }
    std::vector<std::string> seenRequests() {
        std::lock_guard lock(seen_);
        return requestLines;
    }
    std::vector<int> seenStatuses() {
        std::lock_guard lock(seen_);
        return statuses;
    }

private:
    std::mutex seen_;
    std::vector<std::string> requestLines;
    std::map<int, std::string> lineOf;
    std::vector<int> statuses;
};

// Started in the constructor; `upstream` ("host:port", optional) is the
// user's proxy for http, with `bypass` as the bypass list.
class TestProxy {
public:
    explicit TestProxy(HttpFilter* filter, const std::string& upstream = {},
                       const std::string& bypass = {}) {
        proxy.configuredPort = 0;
        proxy.manageSystemSettings = false;
        if (!upstream.empty()) {
            proxy.settings.proxyEnable = true;
            proxy.settings.proxyServer = upstream;
            proxy.settings.proxyOverride = bypass;
            proxy.settings.parseProxyServer();
        }
        EXPECT_TRUE(proxy.start(filter));
    }
    // With waits short enough for a test to see them run out, and as many
    // clients at once as `maxConnections` allows (0: the usual number).
    TestProxy(HttpFilter* filter, const RelayTimeouts& timeouts, std::size_t maxConnections = 0) {
        proxy.configuredPort = 0;
        proxy.manageSystemSettings = false;
        proxy.timeouts = timeouts;
        proxy.maxConnections = maxConnections;
        EXPECT_TRUE(proxy.start(filter));
    }
    int port() const { return proxy.port(); }
    std::string address() const { return "127.0.0.1:" + std::to_string(proxy.port()); }

    HttpProxy proxy;
};

inline CurlResult curlVia(const TestProxy& proxy, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-i", "--raw", "-x", "http://" + proxy.address()});
    return runCurl(arguments);
}
