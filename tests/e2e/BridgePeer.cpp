// A converter behind a bridge, for tests over a JACK server: one client that names its
// ports as a bridge names a USB device's (a2jmidid, jackd's ALSA MIDI, PipeWire), for a
// look-alike, the converter and a USB decoy in that order, and answers on the
// converter's ports with the emulator. Only the converter answers.
//   qz81kt-bridge-peer a2j|alsa_midi|pipewire|seq|raw
// Prints "ready" once every port is there; ends on SIGINT or SIGTERM.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "emulator/QZ81KTEmulator.h"
#include "midi/FixedRing.h"

namespace {

struct CDevice {
    const char* pszClient;  // ALSA client
    const char* pszPort;    // ALSA port
    int nClient;            // ALSA client number
};
constexpr CDevice kDevices[] = {{"Midi Through", "Through QZ-81KT", 14}, {"QZ-81KT", "QZ-81KT MIDI 1", 24},
                                {"USB Keys", "USB Keys MIDI 1", 20}};
constexpr int kConverter = 1;

std::atomic<bool> g_bStop{false};
void OnSignal(int) { g_bStop.store(true); }

// jackd's ALSA MIDI keeps letters and digits only in its aliases.
std::string Dashed(std::string s) {
    for (char& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
    return s;
}

// The JACK port name (after the client's) and the aliases of device d's capture or
// playback side; empty for an unknown bridge.
std::string PortName(const std::string& strBridge, int d, bool bCapture, std::string aliases[2]) {
    const CDevice& dev = kDevices[d];
    const std::string strClient = dev.pszClient, strPort = dev.pszPort, strDir = bCapture ? "capture" : "playback";
    if (strBridge == "a2j") return strClient + " [" + std::to_string(dev.nClient) + "] (" + strDir + "): " + strPort;
    if (strBridge == "alsa_midi") return strPort + (bCapture ? " (out)" : " (in)");
    if (strBridge == "pipewire") return strClient + " " + std::to_string(d) + ":(" + strDir + "_0) " + strPort;
    if (strBridge == "seq") {
        aliases[0] = "alsa_pcm:" + Dashed(strClient) + "/midi_" + strDir + "_1";
        aliases[1] = Dashed(strClient) + ":midi/" + strDir + "_1";
    } else if (strBridge == "raw") {
        aliases[0] = std::string(bCapture ? "in" : "out") + "-hw-" + std::to_string(d) + "-0-0-" + Dashed(strPort);
    } else {
        return {};
    }
    return "midi_" + strDir + "_" + std::to_string(d + 1);
}

class CBridgePeer final : public CEmulatorOutput {
public:
    bool Open(const std::string& strBridge) {
        // jackd's own ALSA MIDI ports belong to "system", which JACK gives us as "system-01".
        const char* pszClient = strBridge == "pipewire" ? "Midi-Bridge"
                                : strBridge == "a2j" || strBridge == "alsa_midi" ? strBridge.c_str()
                                                                                  : "system";
        m_pClient = jack_client_open(pszClient, JackNoStartServer, nullptr);
        if (!m_pClient) return false;
        for (int d = 0; d < 3; ++d) {
            for (bool bCapture : {true, false}) {
                std::string aliases[2];
                const std::string strName = PortName(strBridge, d, bCapture, aliases);
                jack_port_t* p = strName.empty() ? nullptr
                                                 : jack_port_register(m_pClient, strName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                                                      bCapture ? JackPortIsOutput : JackPortIsInput, 0);
                if (!p) return false;
                for (const std::string& a : aliases)
                    if (!a.empty()) jack_port_set_alias(p, a.c_str());
                if (d == kConverter) (bCapture ? m_pCapture : m_pPlayback) = p;
            }
        }
        m_emulator.SetOutput(this);
        return m_emulator.Start() && jack_set_process_callback(m_pClient, &Process, this) == 0 &&
               jack_activate(m_pClient) == 0;
    }
    void Close() {
        if (m_pClient) jack_deactivate(m_pClient);
        m_emulator.Stop();
        if (m_pClient) jack_client_close(m_pClient);
        m_pClient = nullptr;
    }
    // What the panel sent goes to the emulator from here, never from JACK's thread.
    void Feed() {
        const uint8_t* p;
        while (size_t n = m_toEmulator.Peek(p)) {
            m_emulator.Receive(p, n);
            m_toEmulator.Consume(n);
        }
    }

    // CEmulatorOutput, on the emulator's worker.
    bool SendLong(const uint8_t* pData, size_t nLength) override {
        CMessage m;
        if (nLength > sizeof m.m_data) return false;
        m.m_nLength = nLength;
        std::memcpy(m.m_data, pData, nLength);
        return m_fromEmulator.Push(m);
    }
    bool SendShort(uint32_t dwMsg) override {
        const uint8_t b[3] = {uint8_t(dwMsg), uint8_t(dwMsg >> 8), uint8_t(dwMsg >> 16)};
        return SendLong(b, 3);
    }

private:
    struct CMessage {
        size_t m_nLength = 0;
        uint8_t m_data[CQZ81KTEmulator::kMaxReplyFrame] = {};
    };

    static int Process(jack_nframes_t nFrames, void* pArg) {
        auto* self = static_cast<CBridgePeer*>(pArg);
        void* pIn = jack_port_get_buffer(self->m_pPlayback, nFrames);
        jack_midi_event_t ev;
        for (uint32_t i = 0; jack_midi_event_get(&ev, pIn, i) == 0; ++i)
            self->m_toEmulator.Write(ev.buffer, ev.size);  // what does not fit is lost, as on a wire
        void* pOut = jack_port_get_buffer(self->m_pCapture, nFrames);
        jack_midi_clear_buffer(pOut);
        const CMessage* pMsg;
        while (self->m_fromEmulator.Peek(pMsg) &&
               jack_midi_event_write(pOut, 0, pMsg->m_data, pMsg->m_nLength) == 0)
            self->m_fromEmulator.Consume(1);
        return 0;
    }

    jack_client_t* m_pClient = nullptr;
    jack_port_t* m_pCapture = nullptr;   // the converter's capture: what the panel reads
    jack_port_t* m_pPlayback = nullptr;  // the converter's playback: what the panel sends
    CQZ81KTEmulator m_emulator;
    CFixedRing<uint8_t, 16384> m_toEmulator;
    CFixedRing<CMessage, 64> m_fromEmulator;
};

}  // namespace

int main(int argc, char** argv) {
    CBridgePeer peer;
    if (argc != 2 || !peer.Open(argv[1])) {
        std::fprintf(stderr, "usage: qz81kt-bridge-peer a2j|alsa_midi|pipewire|seq|raw (with a JACK server)\n");
        peer.Close();
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("ready\n");
    std::fflush(stdout);
    while (!g_bStop.load()) {
        peer.Feed();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    peer.Close();
    return 0;
}
