#include "protocol/device/LinkWatch.h"

#include "protocol/device/DeviceImage.h"
#include "protocol/wire/QZ81KTMidiOut.h"

CLinkWatch::ETick CLinkWatch::Tick() {
    CDeviceImage& img = m_image;
    int replies = img.m_nStatusReplies.load(std::memory_order_acquire);
    if (!img.m_bLinkUp) {
        if (replies == m_nStatusSeen) return kTickIdle;
        m_nStatusSeen = replies;
        img.m_bLinkUp = true;
        m_nSilentTicks = 0;
        return kTickLinkUp;
    }
    ++m_nPollTicks;
    ++m_nSilentTicks;
    if (replies != m_nStatusSeen) {
        m_nStatusSeen = replies;
        m_nSilentTicks = 0;
    }
    // Refused polls are ignored: a device that stops answering shows as silence.
    uint8_t id = img.m_byDeviceID.load();
    qz::SendRQ1(m_port, id, qz::kAddrStatus, qz::kStatusSize);
    qz::SendRQ1(m_port, id, qz::kAddrControlMode, qz::kControlModeSize);
    if (m_nPollTicks % kSystemPollTicks == 0) qz::SendRQ1(m_port, id, qz::kAddrSystem, qz::kSystemSize);
    if (m_nSilentTicks == kSilentTicksLimit) {
        img.m_bLinkUp = false;
        m_nSilentTicks = 0;
        return kTickLinkLost;
    }
    return kTickPolled;
}

void CLinkWatch::Reset() {
    m_nSilentTicks = 0;
    m_nStatusSeen = 0;
}
