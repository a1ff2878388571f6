// An HttpFilter that follows every exchange and records each call, for tests
// of the streams and the relay. Safe to call from several threads.
#pragma once

#include "engine/HttpFilter.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class RecordingFilter : public HttpFilter {
public:
    int acceptConnection(const sockaddr* address, int addressLength) override;
    int beginRequest(int context, HttpRequestHeader& request) override;
    void requestData(int handle, const char* bytes, int count) override;
    bool beginResponse(int handle, HttpResponseHeader& response) override;
    void responseData(int handle, const char* bytes, int count) override;
    // Counts add up per handle; only the last call, which says how the
    // tunnel ended, is a line ("tunnelEnd 1 client", "server", "stopped",
    // "open").
    void tunnelData(int handle, std::int64_t toServer, std::int64_t toClient,
                    TunnelEnd end) override;
    void endExchange(int handle, std::uint32_t errorCode) override;
    void connectionClosed(int context) override;
    void userRefused(std::uint32_t uid) override;

    // What beginRequest / beginResponse answer; acceptConnection answers
    // `nextContext` (then counts up) unless `refuse` is set.
    int nextHandle = 1;
    bool followRequests = true;
    bool followResponses = true;
    bool refuse = false;
    int nextContext = 0;

    // One line per call, e.g. "requestData 1 5", "endExchange 1 0".
    std::vector<std::string> calls() const;
    std::string requestBody(int handle) const;
    std::string responseBody(int handle) const;
    // Bytes a tunnel carried: to the server, to the client.
    std::pair<std::int64_t, std::int64_t> tunnelBytes(int handle) const;
    // Blocks until a call line equal to `line` has been recorded.
    void waitFor(const std::string& line) const;

private:
    void record(std::string line);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> calls_;
    std::vector<std::pair<int, std::string>> requestBodies_;
    std::vector<std::pair<int, std::string>> responseBodies_;
    std::vector<std::pair<int, std::pair<std::int64_t, std::int64_t>>> tunnels_;
};
