#pragma once
// qz81kt monitor: every message the session's ports send and receive, one line each
// (decoded, --raw hex, --json objects), while the link watch polls as the window does.
// Ends on Ctrl-C with one summary line of the counters, or quietly when the reader of
// the output goes away.
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "midi/TrafficTap.h"
#include "protocol/wire/TrafficFilter.h"

class CCliSession;

class CMonitorCommand {
public:
    struct COptions {
        bool bJson = false;
        bool bRaw = false;
        CTrafficFilter filter;
    };

    CMonitorCommand(CCliSession& session, const COptions& options, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>* pStop);
    // Returns the exit code (interrupted, or done when the output closed).
    int Run();

    // Reads a --filter value ("polls", "sysex", "in", "out", or a comma list of them)
    // into filter; false for anything else.
    static bool ParseFilter(const std::string& strValue, CTrafficFilter& filter);

private:
    void DrainAndPrint();
    void PrintRecord(const CTrafficTap::CRecord& r);
    void PrintSummary();
    bool Stopped() const { return m_pStop && m_pStop->load(); }

    CCliSession& m_session;
    COptions m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
    std::vector<CTrafficTap::CRecord> m_records;
    uint64_t m_qwStartUs = 0;
    uint64_t m_nShown = 0;
};
