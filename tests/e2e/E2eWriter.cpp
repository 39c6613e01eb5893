// Test helper for the end-to-end checks: reads the device's system block over real MIDI
// ports, changes one byte, writes the block back and optionally writes it to flash.
//   qz81kt-e2e-writer --api jack BYTE VALUE [--flash]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "cli/CliSession.h"
#include "midi/MidiDevList.h"
#include "midi/PortSelection.h"
#include "midi/platform/RtMidiDriver.h"
#include "protocol/wire/DeviceFrames.h"

int main(int argc, char** argv) {
    if (argc < 5 || std::strcmp(argv[1], "--api") != 0) {
        std::fprintf(stderr, "usage: %s --api alsa|jack BYTE VALUE [--flash]\n", argv[0]);
        return 2;
    }
    CRtMidiDriver::COptions o;
    o.m_eApi = std::strcmp(argv[2], "jack") == 0 ? CRtMidiDriver::EApi::Jack : CRtMidiDriver::EApi::Alsa;
    o.m_strClientName = "qz81kt-e2e";
    int nByte = std::atoi(argv[3]), nValue = std::atoi(argv[4]);
    bool bFlash = argc > 5 && std::strcmp(argv[5], "--flash") == 0;
    if (nByte < 0 || nByte >= qz::kSystemSize || nValue < 0 || nValue > 127) return 2;

    CRtMidiDriver driver(o);
    if (!driver.IsAvailable()) return 3;
    CMidiInDevList ins(&driver);
    CMidiOutDevList outs(&driver);
    ins.Refresh();
    outs.Refresh();
    const qz::CPortPair ports = qz::PreselectPorts(ins.Devices(), outs.Devices());
    const int in = ports.m_nIn, out = ports.m_nOut;
    if (in < 0 || out < 0) return 3;
    CCliSession session(driver);
    if (session.Connect(static_cast<uint32_t>(in), static_cast<uint32_t>(out)) != CCliSession::EConnect::Ok) return 3;
    for (int i = 1; i <= 500 && !session.Received(qz::EBlock::System); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (i % 50 == 0) session.RequestMissing();  // a fresh JACK client may lose its first cycles
    }
    if (!session.Received(qz::EBlock::System)) return 1;
    CDeviceImage& img = session.Image();
    img.WriteByte(qz::EBlock::System, static_cast<size_t>(nByte), static_cast<uint8_t>(nValue));
    uint8_t sys[qz::kSystemSize];
    img.Read(qz::EBlock::System, sys);
    if (!qz::SendDT1(session.MidiOut(), 0x7F, qz::kAddrSystem, sys, sizeof sys)) return 1;
    if (bFlash && !session.MidiOut().SendLongMsg(qz::kWriteFlashFrame, sizeof qz::kWriteFlashFrame)) return 1;
    // Let the frames leave before the ports close.
    for (int i = 0; i < 100 && session.MidiOut().Outstanding() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    session.Disconnect();
    return 0;
}
