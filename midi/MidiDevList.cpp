#include "midi/MidiDevList.h"

#include <exception>

CMidiDevListBase::CMidiDevListBase(CMidiDriver* pDriver) : m_pDriver(pDriver ? pDriver : &qz::DefaultMidiDriver()) {}

CMidiDevListBase::~CMidiDevListBase() { clear(); }

int CMidiDevListBase::Refresh() {
    clear();
    m_devices.clear();
    try {
        return Enumerate();
    } catch (...) {
        // A failing platform or a failed growth of the list: show no ports rather than half a list.
        clear();
        m_devices.clear();
        m_nDevs = 0;
        return 0;
    }
}

void CMidiDevListBase::Append(bool bInput, uint32_t uPort) {
    std::string strName;
    std::vector<std::string> aliases;
    const MMRESULT mmr = bInput ? m_pDriver->InGetDevName(uPort, strName) : m_pDriver->OutGetDevName(uPort, strName);
    if (mmr != MMSYSERR_NOERROR) {
        strName.clear();  // positions and port numbers stay equal
    } else if ((bInput ? m_pDriver->InGetDevAliases(uPort, aliases) : m_pDriver->OutGetDevAliases(uPort, aliases)) !=
               MMSYSERR_NOERROR) {
        aliases.clear();
    }
    push_back(strName);
    m_devices.push_back(strName.empty() ? qz::CPortDevice{} : qz::PortDevice(strName, aliases));
}

int CMidiInDevList::Enumerate() {
    uint32_t n = m_pDriver->InGetNumDevs();
    for (uint32_t i = 0; i < n; ++i) Append(true, i);
    m_nDevs = static_cast<int>(n);
    return m_nDevs;
}

int CMidiOutDevList::Enumerate() {
    uint32_t n = m_pDriver->OutGetNumDevs();
    for (uint32_t i = 0; i < n; ++i) Append(false, i);
    m_nDevs = static_cast<int>(n);
    return m_nDevs;
}
