#pragma once
// The device's input port: every reply of the device arrives through OnOtherSysEx, is
// checked, and is stored into the owner's device image by the handler of its block.
#include <cstdint>

#include "midi/MidiInMsg.h"

class CDeviceOwner;
class CQZ81KTMidiOut;

class CQZ81KTMidiIn : public CMidiInMsg {
public:
    using CMidiInMsg::CMidiInMsg;
    ~CQZ81KTMidiIn() override;

    void OnOtherSysEx(const uint8_t* pMsg, int nLen) override;

    CDeviceOwner* m_pOwnerWnd = nullptr;  // set before any port is opened

    // One entry of the block map.
    struct BlockEntry {
        uint32_t dwAddress;
        int nSize;
        int nPreset;  // preset index for preset blocks, else -1
        void (*pfnHandler)(CDeviceOwner& owner, const uint8_t* pData, int nPreset);
    };
    static const BlockEntry* FindBlock(uint32_t dwAddress);

    // Replies checked and stored (for tools and benchmarks).
    std::atomic<uint32_t> m_nRepliesStored{0};
};

// Queues the thirteen requests of the request-all sequence; 1 when all were queued,
// 0 at the first refusal (the frames already queued stay queued).
int RequestAll(CQZ81KTMidiOut& port, uint8_t byDeviceID);

// Stores one preset reply: copy, flags, then the summary line.
void StorePresetReply(CDeviceOwner& owner, int nPreset, const uint8_t* pData);

// Sends the eight preset blocks back in order; a refused frame does not stop the others.
void SendAllPresets(CDeviceOwner& owner);
