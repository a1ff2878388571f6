#include "support/RecordingFilter.h"

#include <algorithm>

namespace {

std::string& bodyOf(std::vector<std::pair<int, std::string>>& bodies, int handle) {
    for (auto& [h, body] : bodies) {
        if (h == handle)
            return body;
    }
    return bodies.emplace_back(handle, std::string()).second;
}

std::string findBody(const std::vector<std::pair<int, std::string>>& bodies, int handle) {
    for (const auto& [h, body] : bodies) {
        if (h == handle)
            return body;
    }
    return {};
}

} // namespace

void RecordingFilter::record(std::string line) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(line));
    changed_.notify_all();
}

int RecordingFilter::acceptConnection(const sockaddr*, int) {
    std::unique_lock lock(mutex_);
    const int context = refuse ? -1 : nextContext++;
    lock.unlock();
    record("acceptConnection " + std::to_string(context));
    return context;
}

int RecordingFilter::beginRequest(int context, HttpRequestHeader&) {
    std::unique_lock lock(mutex_);
    const int handle = followRequests ? nextHandle++ : -1;
    lock.unlock();
    record("beginRequest " + std::to_string(context) + " " + std::to_string(handle));
    return handle;
}

void RecordingFilter::requestData(int handle, const char* bytes, int count) {
    {
        std::lock_guard lock(mutex_);
        bodyOf(requestBodies_, handle).append(bytes, std::size_t(count));
    }
    record("requestData " + std::to_string(handle) + " " + std::to_string(count));
}

bool RecordingFilter::beginResponse(int handle, HttpResponseHeader&) {
    record("beginResponse " + std::to_string(handle));
    std::lock_guard lock(mutex_);
    return followResponses;
}

void RecordingFilter::responseData(int handle, const char* bytes, int count) {
    {
        std::lock_guard lock(mutex_);
        bodyOf(responseBodies_, handle).append(bytes, std::size_t(count));
    }
    record("responseData " + std::to_string(handle) + " " + std::to_string(count));
}

void RecordingFilter::tunnelData(int handle, std::int64_t toServer, std::int64_t toClient,
                                 TunnelEnd end) {
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(tunnels_.begin(), tunnels_.end(),
                                  [&](const auto& entry) { return entry.first == handle; });
        if (found == tunnels_.end())
            found = tunnels_.insert(tunnels_.end(), {handle, {0, 0}});
        found->second.first += toServer;
        found->second.second += toClient;
    }
    if (end != TunnelEnd::Open || (toServer == 0 && toClient == 0)) {
        static const char* const kEnds[] = {"open", "client", "server", "stopped"};
        record("tunnelEnd " + std::to_string(handle) + " " + kEnds[int(end)]);
    }
}

std::pair<std::int64_t, std::int64_t> RecordingFilter::tunnelBytes(int handle) const {
    std::lock_guard lock(mutex_);
    for (const auto& [h, counts] : tunnels_)
        if (h == handle)
            return counts;
    return {0, 0};
}

void RecordingFilter::endExchange(int handle, std::uint32_t errorCode) {
    record("endExchange " + std::to_string(handle) + " " + std::to_string(errorCode));
}

void RecordingFilter::connectionClosed(int context) {
    record("connectionClosed " + std::to_string(context));
}

void RecordingFilter::userRefused(std::uint32_t uid) {
    record("userRefused " + std::to_string(uid));
}

std::vector<std::string> RecordingFilter::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::string RecordingFilter::requestBody(int handle) const {
    std::lock_guard lock(mutex_);
    return findBody(requestBodies_, handle);
}

std::string RecordingFilter::responseBody(int handle) const {
    std::lock_guard lock(mutex_);
    return findBody(responseBodies_, handle);
}

void RecordingFilter::waitFor(const std::string& line) const {
    std::unique_lock lock(mutex_);
    changed_.wait(lock,
                  [&] { return std::find(calls_.begin(), calls_.end(), line) != calls_.end(); });
}
