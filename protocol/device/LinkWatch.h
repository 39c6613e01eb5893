#pragma once
// The 100 ms link watch that the window and the command line share. Nothing is sent
// while the link is down; the first new status reply brings it up; while it is up each
// tick asks for the status and control mode blocks (and every 30th tick for the system
// block); 50 ticks without a new status reply bring it down. A tick is a plain call, so
// tests step it without waiting.
#include <cstdint>

class CDeviceImage;
class CQZ81KTMidiOut;

class CLinkWatch {
public:
    enum ETick {
        kTickIdle,      // the link is down and stays down: nothing was sent
        kTickLinkUp,    // the link came up: nothing was sent yet
        kTickPolled,    // the link is up and the polls were queued
        kTickLinkLost,  // the polls were queued, then 50 silent ticks brought the link down
    };
    static constexpr int kSilentTicksLimit = 50;  // 5 s without a new status reply
    static constexpr int kSystemPollTicks = 30;
    static constexpr uint32_t kTickMs = 100;

    // Both must outlive the watch. Its state is the image's link state (m_bLinkUp,
    // m_nSilentTicks, m_nStatusSeen, m_nPollTicks), which only the ticking thread writes.
    CLinkWatch(CDeviceImage& image, CQZ81KTMidiOut& port) : m_image(image), m_port(port) {}

    ETick Tick();

private:
    CDeviceImage& m_image;
    CQZ81KTMidiOut& m_port;
};
