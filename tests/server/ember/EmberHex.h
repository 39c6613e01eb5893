#pragma once
// Byte vectors written as in the protocol notes: hex bytes and "quoted text",
// e.g. Hex("A0 08 0C 06 \"device\"").
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(std::string_view text) {
    Bytes bytes;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '"') {
            const size_t nEnd = text.find('"', i + 1);
            bytes.insert(bytes.end(), text.begin() + i + 1, text.begin() + nEnd);
            i = nEnd + 1;
        } else {
            bytes.push_back(static_cast<uint8_t>(std::stoul(std::string(text.substr(i, 2)), nullptr, 16)));
            i += 2;
        }
    }
    return bytes;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
