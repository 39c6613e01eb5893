#include "cli/MonitorCommand.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>

#include "cli/CliApp.h"
#include "cli/CliSession.h"
#include "protocol/wire/DeviceFrames.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kTick = std::chrono::milliseconds(CCliSession::kTickMs);
// While the link is down the watch sends nothing: ask for the status this often so that
// a device that comes (back) brings it up.
constexpr auto kLinkRetry = std::chrono::milliseconds(500);
// Between drains; the ring holds far more than this much of a 100 000 messages/s flood.
constexpr uint32_t kDrainMs = 10;
}  // namespace

CMonitorCommand::CMonitorCommand(CCliSession& session, const COptions& options, std::ostream& out,
                                 std::ostream& err, const std::atomic<bool>* pStop)
    : m_session(session), m_options(options), m_out(out), m_err(err), m_pStop(pStop), m_records(512) {}

bool CMonitorCommand::ParseFilter(const std::string& strValue, CTrafficFilter& filter) {
    std::istringstream items(strValue);
    bool bAny = false;
    for (std::string item; std::getline(items, item, ',');) {
        if (item == "polls") {
            filter.bHidePolls = true;
        } else if (item == "sysex") {
            filter.bSysExOnly = true;
        } else if (item == "in" || item == "out") {
            filter.bShowIn = item == "in";
            filter.bShowOut = item == "out";
        } else {
            return false;
        }
        bAny = true;
    }
    return bAny;
}

int CMonitorCommand::Run() {
    CTrafficTap& tap = m_session.Tap();
    tap.SetReading(true);  // usually already reading since before Connect
    // The control mode is not part of the request-all sequence the session sent.
    qz::SendRQ1(m_session.MidiOut(), m_session.Image().m_byDeviceID.load(), qz::kAddrControlMode, qz::kControlModeSize);
    auto nextTick = Clock::now() + kTick;
    auto nextRetry = Clock::now() + kLinkRetry;
    for (;;) {
        if (Stopped()) {
            DrainAndPrint();
            PrintSummary();
            return kExitInterrupted;
        }
        const auto now = Clock::now();
        if (now >= nextTick) {
            nextTick = std::max(nextTick + kTick, now);
            switch (m_session.Tick()) {
            case CLinkWatch::kTickLinkUp: m_err << "qz81kt: link up" << std::endl; break;
            case CLinkWatch::kTickLinkLost: m_err << "qz81kt: no status reply for 5 s: link down" << std::endl; break;
            default: break;
            }
        }
        if (!m_session.Image().m_bLinkUp.load() && now >= nextRetry) {
            nextRetry = now + kLinkRetry;
            qz::SendRQ1(m_session.MidiOut(), m_session.Image().m_byDeviceID.load(), qz::kAddrStatus, qz::kStatusSize);
        }
        DrainAndPrint();
        if (!m_out) return kExitOk;  // the reader has gone (a closed pipe)
        m_session.WaitNotify(kDrainMs);
    }
}

void CMonitorCommand::DrainAndPrint() {
    CTrafficTap& tap = m_session.Tap();
    for (size_t n; (n = tap.Drain(m_records.data(), m_records.size())) > 0;) {
        for (size_t i = 0; i < n; ++i) PrintRecord(m_records[i]);
        m_out.flush();
        if (!m_out) return;
    }
}

void CMonitorCommand::PrintRecord(const CTrafficTap::CRecord& r) {
    const qz::CMidiDescription d = qz::DescribeMidi(r.abyData, r.Stored());
    if (!m_options.filter.Shows(r.byDirection, d)) return;
    ++m_nShown;
    if (m_nShown == 1) m_qwStartUs = r.qwTimeUs;  // times count from the first line
    const uint64_t us = r.qwTimeUs >= m_qwStartUs ? r.qwTimeUs - m_qwStartUs : 0;
    const char* pszDir = r.byDirection == CTrafficTap::kIn ? "in" : "out";
    const std::string strHex = qz::HexBytes(r.abyData, r.Stored());
    if (m_options.bJson) {
        nlohmann::json j = {{"time_us", us}, {"dir", pszDir}, {"kind", qz::MidiKindName(d.eKind)}};
        if (!m_options.bRaw) j["text"] = d.strText;
        j["hex"] = strHex;
        j["length"] = r.wLength;
        if (r.Truncated()) j["truncated"] = true;
        m_out << j.dump() << "\n";
        return;
    }
    char szTime[32];
    std::snprintf(szTime, sizeof szTime, "%10.6f", static_cast<double>(us) / 1e6);
    m_out << szTime << (r.byDirection == CTrafficTap::kIn ? " in  " : " out ");
    m_out << (m_options.bRaw ? strHex : d.strText);
    if (r.Truncated()) m_out << " [first " << r.Stored() << " of " << r.wLength << " bytes]";
    m_out << "\n";
}

void CMonitorCommand::PrintSummary() {
    const CTrafficTap& tap = m_session.Tap();
    const uint64_t nIn = tap.Seen(CTrafficTap::kIn), nOut = tap.Seen(CTrafficTap::kOut);
    const uint64_t nDropped = tap.DroppedTotal();
    const int nLost = m_session.MidiIn().m_nDropped.load();
    const int nOversize = m_session.MidiIn().m_nSysExDropped.load();
    if (m_options.bJson) {
        nlohmann::json j = {{"summary",
                             {{"in", nIn},
                              {"out", nOut},
                              {"shown", m_nShown},
                              {"records_dropped", nDropped},
                              {"input_buffers_lost", nLost},
                              {"oversize_sysex_dropped", nOversize}}}};
        m_out << j.dump() << std::endl;
        return;
    }
    m_out << "summary: " << nIn << " in, " << nOut << " out, " << m_nShown << " shown, " << nDropped
          << " records dropped, " << nLost << " input buffers lost, " << nOversize << " oversize SysEx dropped"
          << std::endl;
}
