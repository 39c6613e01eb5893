#include "midi/platform/PortListing.h"

void CPortListing::Add(std::string strName, std::vector<std::string> aliases) {
    m_entries.push_back(Entry{std::move(strName), true, std::move(aliases)});
}

void CPortListing::AddUnreadable() { m_entries.push_back(Entry{std::string(), false, {}}); }

MMRESULT CPortListing::Name(uint32_t uPort, std::string& strName) const {
    if (uPort >= Size()) return MMSYSERR_BADDEVICEID;
    if (!m_entries[uPort].m_bReadable) return MMSYSERR_ERROR;
    strName = m_entries[uPort].m_strName;
    return MMSYSERR_NOERROR;
}

MMRESULT CPortListing::Aliases(uint32_t uPort, std::vector<std::string>& aliases) const {
    if (uPort >= Size()) return MMSYSERR_BADDEVICEID;
    aliases = m_entries[uPort].m_aliases;
    return MMSYSERR_NOERROR;
}

bool CPortListing::Target(uint32_t uPort, std::string& strTarget) const {
    if (uPort >= Size()) return false;
    strTarget = m_entries[uPort].m_strName;
    return true;
}

MMRESULT CPortListing::OpenTarget(std::mutex& mutex, const CPortListing& listing, uint32_t uPort,
                                  const std::function<void()>& relist, std::string& strTarget) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (listing.Target(uPort, strTarget)) return MMSYSERR_NOERROR;
    }
    relist();
    std::lock_guard<std::mutex> lock(mutex);
    return listing.Target(uPort, strTarget) ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}
