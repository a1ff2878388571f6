// Test data shared by the suites.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes that do not repeat with a short period, so a misplaced piece shows.
inline std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = char(x);
    }
    return bytes;
}
