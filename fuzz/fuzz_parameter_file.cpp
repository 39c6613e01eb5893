// Random parameter files into the reader and the export writer: nothing may crash, a
// block may be taken only from a value that spells it with exactly its digits and a
// matching checksum, and an export onto any file must read back as exported.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/paramfile/ParameterFile.h"
#include "protocol/paramfile/ProfileText.h"
#include "protocol/paramfile/StructEncoding.h"

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Written apart from the encoder under test: the digits of n bytes and their sum.
std::string Spelled(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    unsigned sum = 0;
    for (size_t i = 0; i <= n; ++i) {
        unsigned by = i < n ? p[i] : sum & 0xFF;
        sum += by;
        s += kDigits[by >> 4];
        s += kDigits[by & 15];
    }
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The block is taken from somewhere in text as a run of exactly its digits (no hex digit
// on either side), and no byte of it has the top bit set.
void CheckTaken(const std::string& lowerText, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] > 0x7F) std::abort();
    const std::string digits = Spelled(p, n);
    for (size_t at = lowerText.find(digits); at != std::string::npos; at = lowerText.find(digits, at + 1)) {
        bool bBefore = at > 0 && IsHex(lowerText[at - 1]);
        bool bAfter = at + digits.size() < lowerText.size() && IsHex(lowerText[at + digits.size()]);
        if (!bBefore && !bAfter) return;
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string lowerText = Lower(text);
    CProfileText file(text);
    qz::CParameterSet set = qz::ReadParameterSet(file);
    if (set.m_bSystem) CheckTaken(lowerText, set.m_system, qz::kSystemSize);
    if (set.m_bTimecode) CheckTaken(lowerText, set.m_timecode, qz::kTimecodeSize);
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (set.m_bPreset[n]) CheckTaken(lowerText, set.m_preset[n], qz::kPresetSize);

    // Export onto this file: every block must read back exactly.
    qz::CParameterSet out;
    for (size_t i = 0; i < sizeof out.m_system; ++i) out.m_system[i] = static_cast<uint8_t>((i * 5 + size) & 0x7F);
    for (size_t i = 0; i < sizeof out.m_timecode; ++i) out.m_timecode[i] = static_cast<uint8_t>((i * 3) & 0x7F);
    for (int n = 0; n < qz::kPresetCount; ++n)
        for (size_t i = 0; i < qz::kPresetSize; ++i) out.m_preset[n][i] = static_cast<uint8_t>((i + n * 11) & 0x7F);
    qz::WriteParameterSet(file, out, text.substr(0, 8), "1.0.0.0");
    qz::CParameterSet back = qz::ReadParameterSet(file);
    if (!back.m_bSystem || !back.m_bTimecode) std::abort();
    if (std::string(reinterpret_cast<char*>(back.m_system), sizeof back.m_system) !=
        std::string(reinterpret_cast<char*>(out.m_system), sizeof out.m_system))
        std::abort();
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (!back.m_bPreset[n] || std::string(reinterpret_cast<char*>(back.m_preset[n]), qz::kPresetSize) !=
                                      std::string(reinterpret_cast<char*>(out.m_preset[n]), qz::kPresetSize))
            std::abort();
    // The file grew by our keys at most, never by a copy of itself.
    if (file.Text().size() > text.size() + 4096) std::abort();
    (void)qz::ParseProfileHex(text);
    return 0;
}
