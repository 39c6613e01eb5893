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

    // Both must outlive the watch. The link flag (m_bLinkUp) lives in the image, which
    // other threads read; the counts below are the watch's own. Tick and Reset run one
    // at a time: on the ticking thread, or under its owner's lock (the session's).
    CLinkWatch(CDeviceImage& image, CQZ81KTMidiOut& port) : m_image(image), m_port(port) {}

    ETick Tick();
    // With every reset of the image's link state, which zeroes its status reply count:
    // the silence and the replies seen start again. The system poll keeps its rhythm.
    void Reset();
    int PollTicks() const { return m_nPollTicks; }

private:
    CDeviceImage& m_image;
    CQZ81KTMidiOut& m_port;
    int m_nSilentTicks = 0;
    int m_nStatusSeen = 0;  // the image's status reply count at the last tick
    int m_nPollTicks = 0;
};
