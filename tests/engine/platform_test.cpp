#include "engine/Platform.h"

#include <gtest/gtest.h>

#include <thread>

TEST(Platform, LastErrorIsPerThread) {
    setLastError(kErrorBadChunk);
    std::uint32_t other = 1;
    std::thread([&] { other = lastError(); }).join();
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(lastError(), kErrorBadChunk);
}

TEST(Platform, ErrorText) {
    EXPECT_EQ(kErrorDataIncomplete, 0xE0000069u);
    EXPECT_EQ(errorText(kErrorDataIncomplete), "数据不完整。");
    EXPECT_EQ(errorText(kErrorNoResponseData), "没有响应数据。");
    // The program's language until it chooses one is Chinese, system errors included.
    EXPECT_EQ(errorText(ECONNREFUSED), "拒绝连接");
    // No text anywhere: string 102 with the code.
    EXPECT_EQ(errorText(0xE0007777u), "发生一未知错误，代码为e0007777。");
    EXPECT_EQ(errorText(0x12345678u), "发生一未知错误，代码为12345678。");
}
