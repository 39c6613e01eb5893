// Lost replies while the emulated converter floods unrelated MIDI (clock, active
// sensing, notes, foreign System Exclusive) and the status block is polled every 100 ms,
// as the window does. Prints the figures; goal 0 lost.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "tests/support/CountingOwner.h"

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    uint32_t rate = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 100000;
    CLoopbackDriver driver;
    CLoopbackEmulator emulator(driver);
    emulator.Start();
    CCountingOwner owner(&driver);
    CMidiInPort<CQZ81KTMidiIn> in(&driver);
    in.m_pOwnerWnd = &owner;
    in.m_uDeviceID = owner.m_out.m_uDeviceID = emulator.Port();
    in.Open();
    in.Start();
    owner.m_out.Open();
    owner.m_out.Start();
    emulator.Faults().m_nFloodPerSecond = rate;

    int sent = 0;
    auto next = std::chrono::steady_clock::now();
    auto end = next + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (qz::SendRQ1(owner.m_out, 0x7F, qz::kAddrStatus, qz::kStatusSize)) ++sent;
        next += std::chrono::milliseconds(100);
        std::this_thread::sleep_until(next);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    emulator.Faults().m_nFloodPerSecond = 0;
    int got = owner.m_image.m_nStatusReplies.load();
    auto c = emulator.Emulator().Counters();
    std::printf("flood %u msg/s for %d s: status requests %d, replies stored %d, lost %d\n", rate, seconds, sent, got,
                sent - got);
    std::printf("flood messages sent %llu (%.0f/s), ring drops %d, oversize SysEx dropped %d, bytes without buffer %llu\n",
                static_cast<unsigned long long>(c.m_nFloodMessages), c.m_nFloodMessages / double(seconds),
                in.m_nDropped.load(), in.m_nSysExDropped.load(),
                static_cast<unsigned long long>(driver.LostInputBytes(emulator.Port())));
    return sent == got ? 0 : 1;
}
