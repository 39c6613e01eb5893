#pragma once
// Bytes as "F0 41 10 F7", for readable expectations and failure messages.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string HexText(const uint8_t* p, size_t n) {
    std::string s;
    char sz[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(sz, sizeof sz, i ? " %02X" : "%02X", p[i]);
        s += sz;
    }
    return s;
}
