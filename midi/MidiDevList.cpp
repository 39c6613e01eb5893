#include "midi/MidiDevList.h"

#include <exception>

CMidiDevListBase::CMidiDevListBase(CMidiDriver* pDriver) : m_pDriver(pDriver ? pDriver : &DefaultMidiDriver()) {}

CMidiDevListBase::~CMidiDevListBase() { clear(); }

int CMidiDevListBase::Refresh() {
    clear();
    try {
        return Enumerate();
    } catch (...) {
        // A failing platform or a failed growth of the list: show no ports rather than half a list.
        clear();
        m_nDevs = 0;
        return 0;
    }
}

int CMidiInDevList::Enumerate() {
    uint32_t n = m_pDriver->InGetNumDevs();
    for (uint32_t i = 0; i < n; ++i) {
        std::string strName;
        if (m_pDriver->InGetDevName(i, strName) != MMSYSERR_NOERROR) strName.clear();
        push_back(strName);  // positions and port numbers stay equal
    }
    m_nDevs = static_cast<int>(n);
    return m_nDevs;
}

int CMidiOutDevList::Enumerate() {
    uint32_t n = m_pDriver->OutGetNumDevs();
    for (uint32_t i = 0; i < n; ++i) {
        std::string strName;
        if (m_pDriver->OutGetDevName(i, strName) != MMSYSERR_NOERROR) strName.clear();
        push_back(strName);
    }
    m_nDevs = static_cast<int>(n);
    return m_nDevs;
}
