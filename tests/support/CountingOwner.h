#pragma once
// A device owner that only counts what the reply handlers tell it, allocating nothing:
// for benchmarks, fuzz targets and the allocation test.
#include <atomic>

#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiOut.h"

class CCountingOwner : public CDeviceOwner {
public:
    explicit CCountingOwner(CMidiDriver* pDriver) : m_out(pDriver) {}
    CDeviceImage& Image() override { return m_image; }
    CQZ81KTMidiOut& MidiOut() override { return m_out; }
    void PostReplyNotify(int, int) override { m_nPosts.fetch_add(1, std::memory_order_relaxed); }
    void UpdatePresetLine(int) override {}
    void UpdateControlEnable() override {}

    // Every block of the request-all sequence has been stored since the image was cleared.
    bool Complete() const {
        for (const qz::CBlockInfo& b : qz::kBlocks)
            if (b.bRequestAll && !m_image.ReplyStored(b.eBlock)) return false;
        return true;
    }

    CDeviceImage m_image;
    CQZ81KTMidiOut m_out;
    std::atomic<int> m_nPosts{0};
};
