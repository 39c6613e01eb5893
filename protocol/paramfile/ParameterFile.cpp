#include "protocol/paramfile/ParameterFile.h"

#include <cstdio>

#include "protocol/fields/PresetBlock.h"
#include "protocol/paramfile/ProfileText.h"
#include "protocol/paramfile/StructEncoding.h"

namespace qz {

namespace {

constexpr const char* kPresetSections[kPresetCount] = {"preset0", "preset1", "preset2", "preset3",
                                                        "preset4", "preset5", "preset6", "preset7"};
constexpr int kCodecLowByte = kPresetCodec + 1;  // the low nibble of the codec type

uint32_t ReadNumber(const CProfileText& file, const char* pszSection, const char* pszKey) {
    return ParseProfileHex(file.GetString(pszSection, pszKey, "0", kParameterNumberBuffer));
}

// A value is as long as its block needs, so a longer one is not worth copying whole.
bool ReadBlock(const CProfileText& file, const char* pszSection, uint8_t* pOut, size_t n) {
    uint8_t decoded[kMaxReplyData];
    std::string value = file.GetString(pszSection, "data", "", 2 * n + 4);
    if (n > sizeof decoded || DecodeStruct(value, decoded, n) != EStructDecode::Ok) return false;
    for (size_t i = 0; i < n; ++i)
        if (decoded[i] > 0x7F) return false;
    for (size_t i = 0; i < n; ++i) pOut[i] = decoded[i];
    return true;
}

std::string Hex2(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", n);
    return buf;
}

std::string WithoutLineBreaks(std::string s) {
    for (char& c : s)
        if (c == '\r' || c == '\n') c = '?';
    return s;
}

}  // namespace

CParameterSet ReadParameterSet(const CProfileText& file) {
    CParameterSet set;
    if (ReadNumber(file, "generic", "size") == kSystemSize)
        set.m_bSystem = ReadBlock(file, "generic", set.m_system, kSystemSize);
    if (ReadNumber(file, "parameter", "size") == kTimecodeSize)
        set.m_bTimecode = ReadBlock(file, "parameter", set.m_timecode, kTimecodeSize);
    set.m_bPresetSection =
        ReadNumber(file, "preset", "size") == kPresetSize && ReadNumber(file, "preset", "count") == kPresetCount;
    if (set.m_bPresetSection)
        for (int n = 0; n < kPresetCount; ++n)
            set.m_bPreset[n] = ReadBlock(file, kPresetSections[n], set.m_preset[n], kPresetSize);
    return set;
}

void WriteParameterSet(CProfileText& file, const CParameterSet& set, const std::string& strFirmware,
                       const std::string& strTool) {
    file.SetString("system", "firmware", WithoutLineBreaks(strFirmware));
    file.SetString("system", "tool", WithoutLineBreaks(strTool));
    file.SetString("generic", "size", Hex2(kSystemSize));
    file.SetString("generic", "data", EncodeStruct(set.m_system, kSystemSize));
    file.SetString("parameter", "size", Hex2(kTimecodeSize));
    file.SetString("parameter", "data", EncodeStruct(set.m_timecode, kTimecodeSize));
    file.SetString("preset", "size", Hex2(kPresetSize));
    file.SetString("preset", "count", Hex2(kPresetCount));
    for (int n = 0; n < kPresetCount; ++n)
        file.SetString(kPresetSections[n], "data", EncodeStruct(set.m_preset[n], kPresetSize));
}

std::string FirmwareText(const uint8_t (&version)[kVersionSize]) {
    std::string s;
    for (uint8_t by : version) {
        if (by == 0) break;
        s += by < 0x20 || by >= 0x7F ? '?' : static_cast<char>(by);
    }
    return s;
}

void LowerLowLatency(CParameterSet& set) {
    if (!set.m_bPresetSection) return;
    for (int n = 0; n < kPresetCount; ++n)
        if (set.m_bPreset[n] && set.m_preset[n][kCodecLowByte] > 1) set.m_preset[n][kCodecLowByte] = 1;
}

}  // namespace qz
