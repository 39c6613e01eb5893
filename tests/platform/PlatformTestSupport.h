#pragma once
// Small helpers of the real-port tests.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "midi/platform/RtMidiDriver.h"

namespace platform_test {

using namespace std::chrono_literals;

// Outcomes are awaited with generous timeouts: JACK without realtime priority may be
// slow, never wrong in order.
template <typename Pred>
bool Eventually(Pred pred, std::chrono::milliseconds timeout = 10s) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

inline std::vector<uint8_t> SysEx(size_t nLength, uint8_t bySeed) {
    std::vector<uint8_t> v(nLength);
    v.front() = 0xF0;
    for (size_t i = 1; i + 1 < nLength; ++i) v[i] = static_cast<uint8_t>((i + bySeed) & 0x7F);
    v.back() = 0xF7;
    return v;
}

// RtMidi's JACK ports crash in libjack when closed soon after their server died (they
// survive only when the other side is slow, as RtMidi's own is): such a peer, test
// scaffolding, is kept reachable for the rest of the run instead of being destroyed.
inline void KeepForever(CRtMidiDriver* p) {
    static auto* s_pKept = new std::vector<CRtMidiDriver*>;
    s_pKept->push_back(p);
}

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* pszName, const char* pszValue) : m_strName(pszName) {
        if (const char* p = std::getenv(pszName)) m_strOld = p, m_bHad = true;
        if (pszValue)
            setenv(pszName, pszValue, 1);
        else
            unsetenv(pszName);
    }
    ~ScopedEnv() {
        if (m_bHad)
            setenv(m_strName.c_str(), m_strOld.c_str(), 1);
        else
            unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName, m_strOld;
    bool m_bHad = false;
};

inline bool AlsaSequencerPresent() {
    struct stat st;
    return stat("/dev/snd/seq", &st) == 0;
}

}  // namespace platform_test
