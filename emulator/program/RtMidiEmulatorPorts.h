#pragma once
// The emulated converter on real MIDI ports: a virtual input and output through RtMidi
// (ALSA sequencer or JACK), named so that the panel's preselection finds them.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/EmulatorOutput.h"
#include "midi/MidiApi.h"

class RtMidiIn;
class RtMidiOut;
class CQZ81KTEmulator;

class CRtMidiEmulatorPorts : public CEmulatorOutput {
public:
    using EApi = EMidiApi;

    CRtMidiEmulatorPorts();
    ~CRtMidiEmulatorPorts() override;

    // Opens both virtual ports; false with a one-line reason.
    bool Open(EApi eApi, const std::string& strClientName, CQZ81KTEmulator& emulator, std::string& strWhy);
    void Close();
    std::string ApiName() const { return m_strApi; }
    void SetVerbose(bool b) { m_bVerbose = b; }

    // CEmulatorOutput: on the emulator's worker thread.
    bool SendLong(const uint8_t* pData, size_t nLength) override;
    bool SendShort(uint32_t dwMsg) override;

private:
    static void OnInput(double, std::vector<unsigned char>* pMessage, void* pUser);
    void Log(const char* pszDirection, const uint8_t* pData, size_t nLength);

    std::unique_ptr<RtMidiIn> m_pIn;
    std::unique_ptr<RtMidiOut> m_pOut;
    CQZ81KTEmulator* m_pEmulator = nullptr;
    std::string m_strApi = "none";
    std::string m_strError;  // last error RtMidi reported while opening
    std::atomic<bool> m_bVerbose{false};
    std::mutex m_logMutex;
};
