#pragma once
// The emulated converter on an in-process port pair: adds "QZ-81KT Emulator" to a
// loopback driver, hears what the program sends on it and answers through the pair.
#include <cstdint>
#include <string>

#include "emulator/QZ81KTEmulator.h"
#include "midi/platform/LoopbackDriver.h"

class CLoopbackEmulator : private CLoopbackPeer, private CEmulatorOutput {
public:
    static constexpr const char* kPortName = "QZ-81KT Emulator";

    // Adds the port pair, named strName, to driver (which must outlive this object). The
    // emulator is not started: call Start.
    explicit CLoopbackEmulator(CLoopbackDriver& driver, const std::string& strName = kPortName);
    // Stops the emulator and detaches it from the pair; the pair stays, silent.
    ~CLoopbackEmulator() override;
    CLoopbackEmulator(const CLoopbackEmulator&) = delete;
    CLoopbackEmulator& operator=(const CLoopbackEmulator&) = delete;

    bool Start() { return m_emulator.Start(); }
    void Stop() { m_emulator.Stop(); }

    uint32_t Port() const { return m_nPort; }
    CQZ81KTEmulator& Emulator() { return m_emulator; }
    CEmulatorFaults& Faults() { return m_emulator.Faults(); }

private:
    // CLoopbackPeer: called on the program's output thread; copy and return at once.
    void OnPeerReceive(const uint8_t* pData, size_t nLength) override;
    void OnPeerReceiveShort(uint32_t dwMsg) override;
    // CEmulatorOutput: the emulator's worker thread sends to the program's input port.
    bool SendLong(const uint8_t* pData, size_t nLength) override;
    bool SendShort(uint32_t dwMsg) override;

    CLoopbackDriver& m_driver;
    CQZ81KTEmulator m_emulator;
    uint32_t m_nPort;
};
