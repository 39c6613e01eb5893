#include "emulator/program/RtMidiEmulatorPorts.h"

#include <rtmidi/RtMidi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "emulator/QZ81KTEmulator.h"
#include "midi/MidiMessageLength.h"

namespace {
// Keeps RtMidi's complaints off stderr and remembers the last real error.
void RecordError(RtMidiError::Type eType, const std::string& strText, void* pUser) {
    if (eType == RtMidiError::WARNING || eType == RtMidiError::DEBUG_WARNING || !pUser) return;
    *static_cast<std::string*>(pUser) = strText;
}
}  // namespace

CRtMidiEmulatorPorts::CRtMidiEmulatorPorts() = default;

CRtMidiEmulatorPorts::~CRtMidiEmulatorPorts() { Close(); }

bool CRtMidiEmulatorPorts::Open(EApi eApi, const std::string& strClientName, CQZ81KTEmulator& emulator,
                                std::string& strWhy) {
    Close();
    m_pEmulator = &emulator;
    if (eApi == EApi::Auto) eApi = qz::MidiApiFromEnvironment();
    // ALSA first unless told otherwise; JACK when ALSA cannot start.
    const RtMidi::Api order[] = {eApi == EApi::Jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA,
                                 eApi == EApi::Auto ? RtMidi::UNIX_JACK : RtMidi::UNSPECIFIED};
    for (RtMidi::Api api : order) {
        if (api == RtMidi::UNSPECIFIED) break;
        const std::string strApi = api == RtMidi::UNIX_JACK ? "JACK" : "ALSA";
        try {
            m_strError.clear();
            auto in = std::make_unique<RtMidiIn>(api, strClientName, 1024);
            in->setErrorCallback(&RecordError, &m_strError);
            auto out = std::make_unique<RtMidiOut>(api, strClientName);
            out->setErrorCallback(&RecordError, &m_strError);
            if (in->getCurrentApi() != api || !m_strError.empty()) {
                strWhy = strApi + ": " + (m_strError.empty() ? "not available" : m_strError);
                continue;
            }
            in->ignoreTypes(false, true, true);  // System Exclusive must come through
            in->setCallback(&CRtMidiEmulatorPorts::OnInput, this);
            in->openVirtualPort(strClientName + " in");
            out->openVirtualPort(strClientName + " out");
            if (!m_strError.empty()) {
                strWhy = strApi + ": " + m_strError;
                continue;
            }
            m_pIn = std::move(in);
            m_pOut = std::move(out);
            m_strApi = api == RtMidi::UNIX_JACK ? "JACK" : "ALSA";
            return true;
        } catch (const RtMidiError& e) {
            strWhy = std::string(api == RtMidi::UNIX_JACK ? "JACK: " : "ALSA: ") + e.getMessage();
        }
    }
    if (strWhy.empty()) strWhy = "no MIDI system could be started";
    return false;
}

void CRtMidiEmulatorPorts::Close() {
    try {
        if (m_pIn) m_pIn->cancelCallback();
    } catch (const RtMidiError&) {
    }
    m_pIn.reset();
    m_pOut.reset();
}

void CRtMidiEmulatorPorts::OnInput(double, std::vector<unsigned char>* pMessage, void* pUser) {
    auto* self = static_cast<CRtMidiEmulatorPorts*>(pUser);
    if (!pMessage || pMessage->empty() || !self->m_pEmulator) return;
    const uint8_t* p = pMessage->data();
    size_t n = pMessage->size();
    self->Log("in ", p, n);
    if (p[0] == 0xF0) {
        self->m_pEmulator->Receive(p, n);
    } else {
        uint32_t w = 0;
        for (size_t i = 0; i < n && i < 3; ++i) w |= uint32_t(p[i]) << (8 * i);
        self->m_pEmulator->ReceiveShort(w);
    }
}

bool CRtMidiEmulatorPorts::SendLong(const uint8_t* pData, size_t nLength) {
    if (!m_pOut) return false;
    Log("out", pData, nLength);
    try {
        m_pOut->sendMessage(pData, nLength);
        return true;
    } catch (const RtMidiError&) {
        return false;
    }
}

bool CRtMidiEmulatorPorts::SendShort(uint32_t dwMsg) {
    if (!m_pOut) return false;
    uint8_t b[3] = {static_cast<uint8_t>(dwMsg), static_cast<uint8_t>(dwMsg >> 8), static_cast<uint8_t>(dwMsg >> 16)};
    try {
        // A word without a short message's status goes out whole, as three bytes.
        const uint32_t nLength = qz::MidiMessageLength(b[0]);
        m_pOut->sendMessage(b, nLength != 0 ? nLength : 3);
        return true;
    } catch (const RtMidiError&) {
        return false;
    }
}

void CRtMidiEmulatorPorts::Log(const char* pszDirection, const uint8_t* pData, size_t nLength) {
    if (!m_bVerbose.load(std::memory_order_relaxed)) return;
    std::lock_guard<std::mutex> lock(m_logMutex);
    std::fprintf(stderr, "%s", pszDirection);
    for (size_t i = 0; i < nLength; ++i) std::fprintf(stderr, " %02X", pData[i]);
    std::fprintf(stderr, "\n");
}
