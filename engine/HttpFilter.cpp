#include "engine/HttpFilter.h"

int HttpFilter::acceptConnection(const sockaddr*, int) {
    return 0;
}

int HttpFilter::beginRequest(int, HttpRequestHeader&) {
    return -1;
}

void HttpFilter::requestData(int, const char*, int) {}

bool HttpFilter::beginResponse(int, HttpResponseHeader&) {
    return false;
}

void HttpFilter::responseData(int, const char*, int) {}

void HttpFilter::tunnelData(int, std::int64_t, std::int64_t, TunnelEnd) {}

bool HttpFilter::followsUpgrade(int) {
    return false;
}

void HttpFilter::upgradeData(int, bool, const char*, int) {}

void HttpFilter::exchangeTimings(int, const ExchangeTimings&) {}

void HttpFilter::endExchange(int, std::uint32_t) {}

void HttpFilter::connectionClosed(int) {}

void HttpFilter::userRefused(std::uint32_t) {}
