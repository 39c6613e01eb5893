#pragma once
// A device owner that only counts what the reply handlers tell it, allocating nothing:
// for benchmarks, fuzz targets and the allocation test.
#include <atomic>

#include "protocol/DeviceImage.h"
#include "protocol/DeviceOwner.h"
#include "protocol/QZ81KTMidiOut.h"

class CCountingOwner : public CDeviceOwner {
public:
    explicit CCountingOwner(CMidiDriver* pDriver) : m_out(pDriver) {}
    CDeviceImage& Image() override { return m_image; }
    CQZ81KTMidiOut& MidiOut() override { return m_out; }
    void PostReplyNotify(int wParam, int) override {
        m_nPosts.fetch_add(1, std::memory_order_relaxed);
        if (wParam == REPLY_SYSTEM) m_bSystemSeen.store(true, std::memory_order_release);
    }
    void UpdatePresetLine(int) override {}
    void UpdateControlEnable() override {}

    // Every block of the request-all sequence has been stored.
    bool Complete() const {
        return m_image.m_bVersionRcvd && m_image.m_bProductIDRcvd && m_image.m_bTimecodeRcvd &&
               m_image.m_bAllPresetsRcvd && m_image.m_nStatusReplies.load() > 0 && m_bSystemSeen.load();
    }

    CDeviceImage m_image;
    CQZ81KTMidiOut m_out;
    std::atomic<int> m_nPosts{0};
    std::atomic<bool> m_bSystemSeen{false};
};
