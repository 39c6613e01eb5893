#pragma once
// A port list as last enumerated by a real-port driver. Port numbers refer to it, and
// an open by number connects to the name listed under that number, so that a port that
// went away is not mistaken for the one that took its place.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "midi/platform/MidiDriver.h"

class CPortListing {
public:
    void Add(std::string strName, std::vector<std::string> aliases = {});
    void AddUnreadable();  // a port whose name could not be read: it can be opened by number only
    uint32_t Size() const { return static_cast<uint32_t>(m_entries.size()); }

    // MMSYSERR_BADDEVICEID beyond the list; MMSYSERR_ERROR for a name that was unreadable.
    MMRESULT Name(uint32_t uPort, std::string& strName) const;
    MMRESULT Aliases(uint32_t uPort, std::vector<std::string>& aliases) const;

    // What an open of port number uPort connects to: the name listed under it, or empty
    // when that was unreadable (the number alone then). A number beyond the list lists
    // again, once, through relist (called without mutex, which guards the listing).
    static MMRESULT OpenTarget(std::mutex& mutex, const CPortListing& listing, uint32_t uPort,
                               const std::function<void()>& relist, std::string& strTarget);

private:
    struct Entry {
        std::string m_strName;
        bool m_bReadable = true;
        std::vector<std::string> m_aliases;
    };
    bool Target(uint32_t uPort, std::string& strTarget) const;

    std::vector<Entry> m_entries;
};
