#pragma once
// Two drivers seen as one: per direction, the first driver's ports in order followed
// by the second's (the real ports, then the built-in emulator's pair). Every call goes
// to the driver that owns the port; handles are wrapped so that a call reaches the
// driver that opened the port and callbacks carry the handle the caller was given.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/platform/MidiDriver.h"

class CCompositeMidiDriver : public CMidiDriver {
public:
    // Neither driver is owned; both must outlive this one.
    CCompositeMidiDriver(CMidiDriver& first, CMidiDriver& second);
    ~CCompositeMidiDriver() override;
    CCompositeMidiDriver(const CCompositeMidiDriver&) = delete;
    CCompositeMidiDriver& operator=(const CCompositeMidiDriver&) = delete;

    uint32_t InGetNumDevs() override;
    MMRESULT InGetDevName(uint32_t uPort, std::string& strName) override;
    uint32_t OutGetNumDevs() override;
    MMRESULT OutGetDevName(uint32_t uPort, std::string& strName) override;
    MMRESULT InGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) override;
    MMRESULT OutGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) override;
    MMRESULT InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override;
    MMRESULT InPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT InUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT InStart(HMIDIPORT hPort) override;
    MMRESULT InStop(HMIDIPORT hPort) override;
    MMRESULT InReset(HMIDIPORT hPort) override;
    MMRESULT InClose(HMIDIPORT hPort) override;
    MMRESULT OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override;
    MMRESULT OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) override;
    MMRESULT OutClose(HMIDIPORT hPort) override;

private:
    // The handle given to the caller. Kept until this driver goes (and reused once
    // closed), so that a late lookup never meets freed memory.
    struct Wrapper {
        CMidiDriver* m_pDriver = nullptr;
        HMIDIPORT m_hInner = nullptr;
        MidiCallback m_pfnCallback = nullptr;
        void* m_pInstance = nullptr;
        bool m_bInput = false;
        bool m_bInUse = false;
    };

    static void Trampoline(HMIDIPORT hInner, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t param2);
    // Which driver owns port uPort of a direction, and its number there.
    CMidiDriver* Route(bool bInput, uint32_t uPort, uint32_t& uInner);
    MMRESULT Open(bool bInput, HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance);
    // The wrapper behind a handle, or null when it is not an open port of that direction.
    Wrapper* Find(HMIDIPORT hPort, bool bInput, HMIDIPORT& hInner, CMidiDriver*& pDriver);
    void Free(Wrapper* pWrapper);

    CMidiDriver& m_first;
    CMidiDriver& m_second;
    std::mutex m_mutex;  // guards the wrappers and the split points
    // The first driver's port counts as last enumerated: port numbers refer to that
    // list even if the first driver's ports come and go before the open.
    uint32_t m_nFirstIn = 0, m_nFirstOut = 0;
    bool m_bInCounted = false, m_bOutCounted = false;
    std::vector<std::unique_ptr<Wrapper>> m_wrappers;
};
