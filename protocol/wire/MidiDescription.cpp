#include "protocol/wire/MidiDescription.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/wire/DeviceFrames.h"

namespace qz {

namespace {

std::string Format(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pszFormat, ...) {
    char sz[160];
    va_list args;
    va_start(args, pszFormat);
    int n = std::vsnprintf(sz, sizeof sz, pszFormat, args);
    va_end(args);
    return std::string(sz, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), sizeof sz - 1));
}

std::string AddressText(uint32_t dw) {
    return Format("%02X %02X %02X", (dw >> 16) & 0xFF, (dw >> 8) & 0xFF, dw & 0xFF);
}

// The written-only addresses with one data byte, and the byte each command carries.
struct CCommandFrame {
    uint32_t dwAddress;
    uint8_t byData;
    const char* pszName;
};
constexpr CCommandFrame kCommandFrames[] = {
    {kAddrFactoryReset, 0x55, "factory reset"},
    {kAddrWriteFlash, 0x2A, "write to flash"},
    {kAddrUpdateMode, 0x55, "update mode"},
};

bool IsPollBlock(const CBlockInfo* pBlock) {
    return pBlock && (pBlock->eBlock == EBlock::Status || pBlock->eBlock == EBlock::ControlMode);
}

// ", device 0x10" when not the broadcast ID; then the checksum verdict.
std::string FrameSuffix(uint8_t byDevice, bool bChecksumGood) {
    std::string s = byDevice == kDefaultDeviceID ? std::string() : Format(", device 0x%02X", byDevice);
    return s + (bChecksumGood ? ", checksum good" : ", checksum bad");
}

void DescribeRequest(const uint8_t* p, size_t n, CMidiDescription& d) {
    d.eKind = EMidiKind::RequestFrame;
    if (n != static_cast<size_t>(kRQ1Length)) {
        d.strText = Format("RQ1 malformed (%zu bytes, not %d)", n, kRQ1Length);
        return;
    }
    CFrameFields frame;
    ReadFrame(p, n, frame);
    d.dwAddress = frame.dwAddress;
    const uint32_t dwSize = RequestedSize(frame);
    d.bChecksumGood = frame.bChecksumGood;
    const CBlockInfo* pBlock = FindBlockByAddress(d.dwAddress);
    d.bLinkPoll = IsPollBlock(pBlock) && dwSize == static_cast<uint32_t>(pBlock->nSize);
    d.strText = "RQ1 " + (pBlock ? std::string(pBlock->pszName) + " " : std::string()) + "(" +
                AddressText(d.dwAddress) + ", " + std::to_string(dwSize) + ")" + FrameSuffix(p[2], d.bChecksumGood);
}

void DescribeDataSet(const uint8_t* p, size_t n, CMidiDescription& d) {
    d.eKind = EMidiKind::DataSetFrame;
    if (n < static_cast<size_t>(kDT1Overhead)) {
        d.strText = Format("DT1 malformed (%zu bytes)", n);
        return;
    }
    CFrameFields frame;
    ReadFrame(p, n, frame);
    d.dwAddress = frame.dwAddress;
    const size_t nData = frame.nData;
    d.bChecksumGood = frame.bChecksumGood;
    const std::string strSuffix = FrameSuffix(p[2], d.bChecksumGood);
    const std::string strAddr = AddressText(d.dwAddress);
    if (nData == 1) {
        for (const CCommandFrame& c : kCommandFrames)
            if (c.dwAddress == d.dwAddress && c.byData == p[10]) {
                d.strText = "DT1 " + std::string(c.pszName) + " (" + strAddr + ")" + strSuffix;
                return;
            }
        if (d.dwAddress == kAddrTest) {
            d.strText = Format("DT1 test block 0x%02X (", p[10]) + strAddr + ")" + strSuffix;
            return;
        }
    }
    const CBlockInfo* pBlock = FindBlockByAddress(d.dwAddress);
    std::string strBody = strAddr + ", " + std::to_string(nData) + (nData == 1 ? " byte" : " bytes");
    if (pBlock && nData != static_cast<size_t>(pBlock->nSize))
        strBody += "; the block has " + std::to_string(pBlock->nSize);  // a receiver ignores it
    d.bLinkPoll = IsPollBlock(pBlock) && nData == static_cast<size_t>(pBlock->nSize);
    d.strText = "DT1 " + (pBlock ? std::string(pBlock->pszName) + " " : std::string()) + "(" + strBody + ")" +
                strSuffix;
}

void DescribeSysEx(const uint8_t* p, size_t n, CMidiDescription& d) {
    if (n >= 7 && p[1] == kManufacturerID && p[3] == 0x00 && p[4] == 0x00 && p[5] == 0x3F) {
        if (p[6] == kCmdRQ1) return DescribeRequest(p, n, d);
        if (p[6] == kCmdDT1) return DescribeDataSet(p, n, d);
    }
    d.eKind = EMidiKind::OtherSysEx;
    const std::string strLen = Format(" (%zu bytes)", n);
    if (n < 3) {
        d.strText = "SysEx, no manufacturer" + strLen;
    } else if (p[1] == 0x7E || p[1] == 0x7F) {
        d.strText = Format("SysEx universal %s, device 0x%02X", p[1] == 0x7F ? "real-time" : "non-real-time", p[2]);
        if (n >= 5) d.strText += Format(", sub-ID %02X %02X", p[3], p[4]);
        d.strText += strLen;
    } else if (p[1] == 0x00 && n >= 5) {
        d.strText = Format("SysEx manufacturer 00 %02X %02X", p[2], p[3]) + strLen;
    } else if (p[1] == kManufacturerID) {
        d.strText = "SysEx manufacturer 0x41, other model or command" + strLen;
    } else {
        d.strText = Format("SysEx manufacturer 0x%02X", p[1]) + strLen;
    }
}

std::string NoteText(uint8_t byNote) {
    static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return Format("%d (%s%d)", byNote, kNames[byNote % 12], byNote / 12 - 1);
}

void DescribeChannel(const uint8_t* p, size_t n, CMidiDescription& d) {
    d.eKind = EMidiKind::Channel;
    const int nChannel = (p[0] & 0x0F) + 1;
    const size_t nNeed = (p[0] & 0xE0) == 0xC0 ? 2 : 3;
    if (n < nNeed) {
        d.strText = Format("channel message 0x%02X cut short (%zu bytes)", p[0], n);
        return;
    }
    switch (p[0] & 0xF0) {
    case 0x80: d.strText = Format("note off, channel %d, note ", nChannel) + NoteText(p[1]) + Format(", velocity %d", p[2]); break;
    case 0x90: d.strText = Format("note on, channel %d, note ", nChannel) + NoteText(p[1]) + Format(", velocity %d", p[2]); break;
    case 0xA0: d.strText = Format("key pressure, channel %d, note ", nChannel) + NoteText(p[1]) + Format(", pressure %d", p[2]); break;
    case 0xB0: d.strText = Format("control change, channel %d, controller %d, value %d", nChannel, p[1], p[2]); break;
    case 0xC0: d.strText = Format("program change, channel %d, program %d", nChannel, p[1]); break;
    case 0xD0: d.strText = Format("channel pressure, channel %d, pressure %d", nChannel, p[1]); break;
    default: d.strText = Format("pitch bend, channel %d, value %d", nChannel, (p[2] << 7 | p[1]) - 8192); break;
    }
}

void DescribeSystem(const uint8_t* p, size_t n, CMidiDescription& d) {
    d.eKind = p[0] >= 0xF8 ? EMidiKind::RealTime : EMidiKind::SystemCommon;
    switch (p[0]) {
    case 0xF1: d.strText = n >= 2 ? Format("MTC quarter frame, piece %d, value %d", (p[1] >> 4) & 7, p[1] & 0x0F) : "MTC quarter frame cut short"; break;
    case 0xF2: d.strText = n >= 3 ? Format("song position %d", p[2] << 7 | p[1]) : "song position cut short"; break;
    case 0xF3: d.strText = n >= 2 ? Format("song select %d", p[1]) : "song select cut short"; break;
    case 0xF6: d.strText = "tune request"; break;
    case 0xF7: d.strText = "end of SysEx alone"; break;
    case 0xF8: d.strText = "clock"; break;
    case 0xFA: d.strText = "start"; break;
    case 0xFB: d.strText = "continue"; break;
    case 0xFC: d.strText = "stop"; break;
    case 0xFE: d.strText = "active sensing"; break;
    case 0xFF: d.strText = "system reset"; break;
    default: d.strText = Format("undefined 0x%02X", p[0]); break;
    }
}

}  // namespace

const char* MidiKindName(EMidiKind eKind) {
    switch (eKind) {
    case EMidiKind::RequestFrame: return "rq1";
    case EMidiKind::DataSetFrame: return "dt1";
    case EMidiKind::OtherSysEx: return "sysex";
    case EMidiKind::Channel: return "channel";
    case EMidiKind::SystemCommon: return "system-common";
    case EMidiKind::RealTime: return "real-time";
    default: return "invalid";
    }
}

std::string HexBytes(const uint8_t* p, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ' ';
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 0x0F];
    }
    return s;
}

CMidiDescription DescribeMidi(const uint8_t* pMsg, size_t nLength) {
    CMidiDescription d;
    if (!pMsg || nLength == 0 || pMsg[0] < 0x80) {
        d.strText = nLength ? "data bytes without a status" : "empty";
        return d;
    }
    if (pMsg[0] == 0xF0)
        DescribeSysEx(pMsg, nLength, d);
    else if (pMsg[0] < 0xF0)
        DescribeChannel(pMsg, nLength, d);
    else
        DescribeSystem(pMsg, nLength, d);
    return d;
}

}  // namespace qz
