#include "cli/CliApp.h"

#include <chrono>
#include <memory>
#include <ostream>
#include <thread>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/DeviceReport.h"
#include "cli/FileCommands.h"
#include "cli/JsonWriter.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/MidiDevList.h"
#include "midi/PortSelection.h"
#include "midi/platform/LoopbackDriver.h"
#include "midi/platform/RtMidiDriver.h"
#include "protocol/DeviceFrames.h"
#include "protocol/PresetBlock.h"
#include "protocol/StatusText.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Join(const std::vector<std::string>& items) {
    std::string s;
    for (const auto& i : items) s += (s.empty() ? "" : ", ") + i;
    return s;
}

// A port given as a number or a name prefix; -1 when nothing matches.
int ResolvePort(const std::string& strWanted, const CMidiDevListBase& list) {
    if (strWanted.empty()) return qz::PreselectPort(list);
    bool bNumber = strWanted.find_first_not_of("0123456789") == std::string::npos;
    if (bNumber) {
        unsigned long n = std::stoul(strWanted);
        return n < list.size() ? static_cast<int>(n) : -1;
    }
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].compare(0, strWanted.size(), strWanted) == 0) return static_cast<int>(i);
    return -1;
}

// The four status fields under the keys that scripts rely on.
void PutStatusTexts(CJsonWriter& j, const CStatusTexts& st) {
    j.Key("timecode");
    j.String(st.m_strTimecode);
    j.Key("video_format");
    j.String(st.m_strVideoFormat);
    j.Key("power");
    j.String(st.m_strPower);
    j.Key("ieee1394_format");
    j.String(st.m_strIEEE1394);
}

class CCliRun {
public:
    static constexpr uint32_t kRetryMs = 500;

    CCliRun(const CCliOptions& options, std::ostream& out, std::ostream& err, const std::atomic<bool>* pStop)
        : m_options(options), m_out(out), m_err(err), m_pStop(pStop) {}

    int Run(CMidiDriver* pInjected) {
        CMidiDriver* pDriver = pInjected;
        if (!pDriver && m_options.m_bEmulate) {
            m_pLoopback = std::make_unique<CLoopbackDriver>();
            m_pEmulator = std::make_unique<CLoopbackEmulator>(*m_pLoopback);
            m_pEmulator->Start();
            pDriver = m_pLoopback.get();
        }
        if (!pDriver) {
            CRtMidiDriver::COptions o;
            o.m_eApi = m_options.m_strApi == "alsa"   ? CRtMidiDriver::EApi::Alsa
                       : m_options.m_strApi == "jack" ? CRtMidiDriver::EApi::Jack
                                                      : CRtMidiDriver::EApi::Auto;
            o.m_strClientName = "qz81kt-cli";
            m_pRtMidi = std::make_unique<CRtMidiDriver>(o);
            if (!m_pRtMidi->IsAvailable()) {
                m_err << "qz81kt: no MIDI system reachable: " << m_pRtMidi->UnavailableReason() << "\n";
                return kExitPort;
            }
            pDriver = m_pRtMidi.get();
        }
        m_ins = std::make_unique<CMidiInDevList>(pDriver);
        m_outs = std::make_unique<CMidiOutDevList>(pDriver);
        m_ins->Refresh();
        m_outs->Refresh();
        if (m_options.m_eCommand == CCliOptions::ECommand::Ports) return Ports();
        if (m_pRtMidi) m_pRtMidi->ReleaseEnumerators();  // the ports are chosen: no more listing

        int in = ResolvePort(m_options.m_strIn, *m_ins);
        int outPort = ResolvePort(m_options.m_strOut, *m_outs);
        if (in < 0 || outPort < 0) {
            if (in < 0) m_err << "qz81kt: no MIDI input port " << Describe(m_options.m_strIn) << "\n";
            if (outPort < 0) m_err << "qz81kt: no MIDI output port " << Describe(m_options.m_strOut) << "\n";
            return kExitPort;
        }
        m_session = std::make_unique<CCliSession>(*pDriver);
        switch (m_session->Connect(static_cast<uint32_t>(in), static_cast<uint32_t>(outPort))) {
            case CCliSession::EConnect::Ok:
                break;
            case CCliSession::EConnect::InFailed:
                m_err << "qz81kt: cannot open MIDI input port " << in << " (" << (*m_ins)[in] << ")\n";
                return kExitPort;
            case CCliSession::EConnect::OutFailed:
            case CCliSession::EConnect::RequestRefused:
                m_err << "qz81kt: cannot open MIDI output port " << outPort << " (" << (*m_outs)[outPort] << ")\n";
                return kExitPort;
            case CCliSession::EConnect::BothFailed:
                m_err << "qz81kt: cannot open MIDI ports " << in << " (" << (*m_ins)[in] << ") and " << outPort << " ("
                      << (*m_outs)[outPort] << ")\n";
                return kExitPort;
        }
        int rc = RunCommand();
        m_session->Disconnect();
        return rc;
    }

private:
    static std::string Describe(const std::string& strWanted) {
        return strWanted.empty() ? "found" : "matches '" + strWanted + "'";
    }

    bool Stopped() const { return m_pStop && m_pStop->load(); }

    int RunCommand() {
        using E = CCliOptions::ECommand;
        CFileCommands files(*m_session, m_options.m_strFile, m_options.m_nTimeoutMs, m_options.m_bJson, m_out, m_err,
                            m_pStop);
        switch (m_options.m_eCommand) {
            case E::Dump: return Dump();
            case E::Export: return files.Export();
            case E::Import: return files.Import();
            case E::Diff: return files.Diff();
            default: return Status();
        }
    }

    int Ports() {
        int selIn = qz::PreselectPort(*m_ins), selOut = qz::PreselectPort(*m_outs);
        if (m_options.m_bJson) {
            CJsonWriter j;
            j.BeginObject();
            for (int side = 0; side < 2; ++side) {
                const CMidiDevListBase& list = side == 0 ? static_cast<CMidiDevListBase&>(*m_ins) : *m_outs;
                j.Key(side == 0 ? "in" : "out");
                j.BeginArray();
                for (size_t i = 0; i < list.size(); ++i) {
                    j.BeginObject();
                    j.Key("number");
                    j.Number(static_cast<long long>(i));
                    j.Key("name");
                    j.String(list[i]);
                    j.Key("preselected");
                    j.Bool(static_cast<int>(i) == (side == 0 ? selIn : selOut));
                    j.EndObject();
                }
                j.EndArray();
            }
            j.EndObject();
            m_out << j.Text() << "\n";
            return kExitOk;
        }
        for (int side = 0; side < 2; ++side) {
            const CMidiDevListBase& list = side == 0 ? static_cast<CMidiDevListBase&>(*m_ins) : *m_outs;
            int sel = side == 0 ? selIn : selOut;
            m_out << (side == 0 ? "MIDI input ports:\n" : "MIDI output ports:\n");
            if (list.empty()) m_out << "   (none)\n";
            for (size_t i = 0; i < list.size(); ++i)
                m_out << (static_cast<int>(i) == sel ? " * " : "   ") << i << ": " << list[i] << "\n";
        }
        return kExitOk;
    }

    // Handles notifications until pred holds or the time is up.
    template <class Pred>
    bool WaitFor(Pred pred, uint32_t nTimeoutMs) {
        auto end = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (!pred()) {
            auto now = Clock::now();
            if (now >= end || Stopped()) return pred();
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            int w, l;
            m_session->WaitNotify(w, l, static_cast<uint32_t>(std::min<long long>(left, 10)));
        }
        return true;
    }

    int Dump() {
        CCliSession& s = *m_session;
        // The control mode is not part of the request-all sequence; the window's poll reads it.
        SendRQ1(s.MidiOut(), s.Image().m_byDeviceID.load(), qz::kAddrControlMode, qz::kControlModeSize);
        // Blocks still missing are asked for again every half second until the time is up.
        auto deadline = Clock::now() + std::chrono::milliseconds(m_options.m_nTimeoutMs);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || WaitFor([&] { return s.MissingBlocks().empty(); },
                                     static_cast<uint32_t>(std::min<long long>(left, kRetryMs))))
                break;
            s.RequestMissing();
        }
        if (!s.MissingBlocks().empty()) {
            m_err << "qz81kt: the device did not answer within " << m_options.m_nTimeoutMs
                  << " ms; missing: " << Join(s.MissingBlocks()) << "\n";
            return kExitNoAnswer;
        }
        WaitFor([&] { return s.ControlModeSeen(); }, 200);
        CImageSnapshot snap = TakeSnapshot(s.Image());
        std::string identity =
            qz::IdentityLine(snap.m_bVersionRcvd, snap.m_bProductIDRcvd, snap.m_version, snap.m_productID);
        CStatusTexts st = StatusTexts(snap.m_status);
        if (m_options.m_bJson) {
            CJsonWriter j;
            j.BeginObject();
            j.Key("identity");
            j.String(identity);
            j.Key("system");
            j.Bytes(snap.m_system, sizeof snap.m_system);
            j.Key("timecode");
            j.Bytes(snap.m_timecode, sizeof snap.m_timecode);
            j.Key("status");
            j.Bytes(snap.m_status, sizeof snap.m_status);
            j.Key("presets");
            j.BeginArray();
            for (auto& p : snap.m_preset) j.Bytes(p, sizeof p);
            j.EndArray();
            j.Key("preset_lines");
            j.BeginArray();
            for (int n = 0; n < qz::kPresetCount; ++n) j.String(qz::PresetSummaryLine(n, snap.m_preset[n]));
            j.EndArray();
            j.Key("status_text");
            j.BeginObject();
            PutStatusTexts(j, st);
            j.EndObject();
            j.EndObject();
            m_out << j.Text() << "\n";
            return kExitOk;
        }
        auto section = [&](const char* title, const CLabelledLines& lines) {
            m_out << title << "\n";
            for (auto& [label, value] : lines) {
                std::string l = label;
                l.resize(std::max<size_t>(l.size(), 24), ' ');
                m_out << "  " << l << " : " << value << "\n";
            }
        };
        m_out << "Identity : " << identity << "\n";
        section("System", SystemSettingsText(snap.m_system, snap.m_preset));
        section("Timecode", TimecodeSettingsText(snap.m_timecode));
        m_out << "Presets\n";
        for (int n = 0; n < qz::kPresetCount; ++n) m_out << "  " << qz::PresetSummaryLine(n, snap.m_preset[n]) << "\n";
        CLabelledLines status = {{"Timecode", st.m_strTimecode},
                                 {"Video Format", st.m_strVideoFormat},
                                 {"IEEE1394 Format", st.m_strIEEE1394},
                                 {"Power Status", st.m_strPower}};
        if (snap.m_nControlMode >= 0) {
            status.emplace_back("Mode SW6", qz::ControlModeText(snap.m_nControlMode & 1));
            status.emplace_back("SW123456", qz::ModeSwitchText(static_cast<uint8_t>(snap.m_nControlMode)));
        }
        section("Status", status);
        return kExitOk;
    }

    std::string StatusLine(const CImageSnapshot& snap) {
        CStatusTexts st = StatusTexts(snap.m_status);
        std::string mode = snap.m_nControlMode < 0 ? " -" : qz::ControlModeText(snap.m_nControlMode & 1);
        if (m_options.m_bJson) {
            CJsonWriter j;
            j.BeginObject();
            PutStatusTexts(j, st);
            j.Key("control_mode");
            j.String(mode);
            j.EndObject();
            return j.Text();
        }
        return st.m_strTimecode + " | " + st.m_strVideoFormat + " | " + st.m_strIEEE1394 + " | " + st.m_strPower +
               " | " + mode;
    }

    int Status() {
        CCliSession& s = *m_session;
        auto nextTick = Clock::now() + std::chrono::milliseconds(CCliSession::kTickMs);
        auto deadline = Clock::now() + std::chrono::milliseconds(m_options.m_nTimeoutMs);
        auto nextRetry = Clock::now() + std::chrono::milliseconds(kRetryMs);
        bool bLinked = false;
        std::string strLast;
        for (;;) {
            if (Stopped()) return kExitOk;
            auto now = Clock::now();
            if (now >= nextTick) {
                nextTick += std::chrono::milliseconds(CCliSession::kTickMs);
                if (nextTick < now) nextTick = now + std::chrono::milliseconds(CCliSession::kTickMs);
                CLinkWatch::ETick t = s.Tick();
                if (t == CLinkWatch::kTickLinkUp) bLinked = true;
                if (t == CLinkWatch::kTickLinkLost) {
                    m_err << "qz81kt: no status reply for 5 s: the device is gone\n";
                    return kExitNoAnswer;
                }
            }
            if (!bLinked && now >= nextRetry) {
                // Until the first status reply the link watch sends nothing: ask again.
                nextRetry = now + std::chrono::milliseconds(kRetryMs);
                SendRQ1(s.MidiOut(), s.Image().m_byDeviceID.load(), qz::kAddrStatus, qz::kStatusSize);
            }
            if (!bLinked && now >= deadline) {
                m_err << "qz81kt: the device did not answer within " << m_options.m_nTimeoutMs
                      << " ms; missing: status\n";
                return kExitNoAnswer;
            }
            int w = -1, l = 0;
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
            bool bGot = s.WaitNotify(w, l, static_cast<uint32_t>(std::max<long long>(1, wait)));
            if (!bGot || (w != REPLY_STATUS && w != REPLY_CONTROL_MODE)) continue;
            std::string line = StatusLine(TakeSnapshot(s.Image()));
            if (!m_options.m_bWatch) {
                // One reading: wait a moment for the control mode, which the first poll brings.
                WaitFor([&] { return s.ControlModeSeen(); }, 300);
                m_out << StatusLine(TakeSnapshot(s.Image())) << "\n";
                return kExitOk;
            }
            if (line != strLast) {
                m_out << line << std::endl;
                strLast = line;
            }
        }
    }

    const CCliOptions& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
    std::unique_ptr<CLoopbackDriver> m_pLoopback;
    std::unique_ptr<CLoopbackEmulator> m_pEmulator;
    std::unique_ptr<CRtMidiDriver> m_pRtMidi;
    std::unique_ptr<CMidiInDevList> m_ins;
    std::unique_ptr<CMidiOutDevList> m_outs;
    std::unique_ptr<CCliSession> m_session;  // last: closed before the drivers go
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CMidiDriver* pDriver,
           const std::atomic<bool>* pStop) {
    CCliOptions options;
    std::string strError;
    if (!ParseCliOptions(args, options, strError)) {
        err << "qz81kt: " << strError << "\n" << CliUsage();
        return kExitUsage;
    }
    if (options.m_eCommand == CCliOptions::ECommand::Help) {
        out << CliUsage();
        return kExitOk;
    }
    CCliRun run(options, out, err, pStop);
    return run.Run(pDriver);
}
