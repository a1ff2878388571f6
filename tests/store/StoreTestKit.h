// Small builders shared by the store tests: heads from text, captured
// resources, raw cache files.
#pragma once

#include "engine/HttpMessageHeader.h"
#include "store/CacheFolder.h"
#include "store/HttpResource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

// "GET / HTTP/1.1\r\nHost: a\r\n" (without the empty line).
inline HttpRequestHeader requestHead(const std::string& block) {
    HttpRequestHeader header;
    EXPECT_TRUE(parseRequestHeader(block.data(), std::int32_t(block.size()), header)) << block;
    return header;
}

inline HttpResponseHeader responseHead(const std::string& block) {
    HttpResponseHeader header;
    EXPECT_TRUE(parseResponseHeader(block.data(), std::int32_t(block.size()), header)) << block;
    return header;
}

// Captures one exchange the way the capture filter does; `finish` false
// leaves it loading.
inline std::unique_ptr<HttpResource> capture(CacheFolder& folder, const std::string& request,
                                             const std::string& requestBody,
                                             const std::string& response,
                                             const std::string& responseBody, bool finish = true) {
    auto resource = std::make_unique<HttpResource>(&folder);
    EXPECT_TRUE(resource->begin(folder.takeSequenceNumber()));
    EXPECT_TRUE(resource->writeRequestHeader(requestHead(request)));
    if (!requestBody.empty()) {
        EXPECT_TRUE(resource->writeData(requestBody.data(), std::uint32_t(requestBody.size())));
    }
    EXPECT_TRUE(resource->writeResponseHeader(responseHead(response)));
    if (!responseBody.empty()) {
        EXPECT_TRUE(resource->writeData(responseBody.data(), std::uint32_t(responseBody.size())));
        resource->receivedSize += std::int64_t(responseBody.size());
    }
    if (finish) {
        EXPECT_TRUE(resource->finish());
    }
    return resource;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
