#include "cli/CliApp.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <memory>
#include <ostream>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/Completion.h"
#include "cli/DeviceCommands.h"
#include "cli/DeviceReport.h"
#include "cli/FileCommands.h"
#include "cli/JsonReport.h"
#include "cli/MonitorCommand.h"
#include "cli/ServeCommand.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/MidiApi.h"
#include "midi/MidiDevList.h"
#include "midi/PortWatch.h"
#include "midi/PortSelection.h"
#include "midi/platform/CompositeMidiDriver.h"
#include "midi/platform/LoopbackDriver.h"
#include "midi/platform/SystemMidiDriver.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/StatusText.h"

namespace {

using Clock = std::chrono::steady_clock;

// The longest a wait goes without looking at the stop flag.
constexpr uint32_t kStopPollMs = 10;

std::string Join(const std::vector<std::string>& items) {
    std::string s;
    for (const auto& i : items) s += (s.empty() ? "" : ", ") + i;
    return s;
}

uint32_t MsUntil(Clock::time_point t) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return ms <= 0 ? 0 : static_cast<uint32_t>(std::min<long long>(ms, 0xFFFFFFFF));
}

// A port given as a number or as a prefix of its name or of its device's name; -1 when
// nothing matches (a number of any length is taken as a number, never as a name).
int ResolveGivenPort(const std::string& strWanted, const CMidiDevListBase& list) {
    if (strWanted.find_first_not_of("0123456789") == std::string::npos) {
        size_t n = 0;
        const char* pEnd = strWanted.data() + strWanted.size();
        auto [p, ec] = std::from_chars(strWanted.data(), pEnd, n);
        return ec == std::errc() && p == pEnd && n < list.size() ? static_cast<int>(n) : -1;
    }
    return qz::FindPortByPrefix(strWanted, list, list.Devices());
}

// The ports --in and --out name. A side not given takes the given side's partner when
// that is a converter's port, else the preselection.
qz::CPortPair ResolvePorts(const std::string& strIn, const std::string& strOut, const CMidiDevListBase& ins,
                           const CMidiDevListBase& outs) {
    const qz::CPortPair preselected = qz::PreselectPorts(ins.Devices(), outs.Devices());
    qz::CPortPair ports{strIn.empty() ? -1 : ResolveGivenPort(strIn, ins),
                        strOut.empty() ? -1 : ResolveGivenPort(strOut, outs)};
    if (strIn.empty()) {
        const int nPartner = strOut.empty() ? -1 : qz::PairedPort(ins.Devices(), outs.Devices(), false, ports.m_nOut);
        ports.m_nIn = nPartner >= 0 ? nPartner : preselected.m_nIn;
    }
    if (strOut.empty()) {
        const int nPartner = strIn.empty() ? -1 : qz::PairedPort(ins.Devices(), outs.Devices(), true, ports.m_nIn);
        ports.m_nOut = nPartner >= 0 ? nPartner : preselected.m_nOut;
    }
    return ports;
}

// The arguments of set, get and preset, checked before any port is opened.
struct CCommandArgs {
    std::vector<CSettingChoice> m_settings;
    std::vector<const qz::CSystemSetting*> m_names;
    int m_nPreset = 0;
    std::vector<CPresetFieldChoice> m_fields;
};

bool ParseCommandArgs(const CCliOptions& o, CCommandArgs& parsed, std::string& strError) {
    using E = CCliOptions::ECommand;
    if (o.m_bList) return true;
    switch (o.m_eCommand) {
        case E::Set: return qz::ParseSettingChoices(o.m_args, parsed.m_settings, strError);
        case E::Get: return ParseSettingNames(o.m_args, parsed.m_names, strError);
        case E::Preset: return qz::ParsePresetArgs(o.m_args, parsed.m_nPreset, parsed.m_fields, strError);
        case E::Serve: return CServeCommand::CheckOptions(o, strError);
        case E::FactoryReset:
            if (o.m_bYes) return true;
            strError = "factory-reset erases every setting of the device; give --yes to do it";
            return false;
        default: return true;
    }
}

class CCliRun {
public:
    static constexpr uint32_t kRetryMs = 500;

    CCliRun(const CCliOptions& options, const CCommandArgs& parsed, std::ostream& out, std::ostream& err,
            const std::atomic<bool>* pStop)
        : m_options(options), m_parsed(parsed), m_out(out), m_err(err), m_pStop(pStop) {}

    int Run(CMidiDriver* pInjected) {
        CMidiDriver* pDriver = OpenMidiSystem(pInjected);
        if (!pDriver) return kExitPort;
        if (m_options.m_eCommand == CCliOptions::ECommand::Serve)
            return CServeCommand(m_options, *pDriver, m_pMidi.get(), m_out, m_err, m_pStop).Run(CFileCommands::ToolVersion());
        m_ins = std::make_unique<CMidiInDevList>(pDriver);
        m_outs = std::make_unique<CMidiOutDevList>(pDriver);
        m_ins->Refresh();
        m_outs->Refresh();
        if (m_options.m_eCommand == CCliOptions::ECommand::Ports) return Ports();
        if (m_pMidi) m_pMidi->ReleaseEnumerators();  // the ports are chosen: no more listing

        const qz::CPortPair ports = ResolvePorts(m_options.m_strIn, m_options.m_strOut, *m_ins, *m_outs);
        const int in = ports.m_nIn, outPort = ports.m_nOut;
        if (in < 0 || outPort < 0) {
            if (in < 0) m_err << "qz81kt: no MIDI input port " << Describe(m_options.m_strIn) << "\n";
            if (outPort < 0) m_err << "qz81kt: no MIDI output port " << Describe(m_options.m_strOut) << "\n";
            return kExitPort;
        }
        if (Stopped()) return kExitInterrupted;
        m_session = std::make_unique<CCliSession>(*pDriver);
        // The monitor shows the request-all sequence too.
        if (m_options.m_eCommand == CCliOptions::ECommand::Monitor) m_session->Tap().SetReading(true);
        m_pDriver = pDriver;
        m_strInName = (*m_ins)[in];
        m_strOutName = (*m_outs)[outPort];
        std::string inName = "(" + (*m_ins)[in] + ")", outName = "(" + (*m_outs)[outPort] + ")";
        switch (m_session->Connect(static_cast<uint32_t>(in), static_cast<uint32_t>(outPort))) {
            case CCliSession::EConnect::Ok:
                break;
            case CCliSession::EConnect::InFailed:
                m_err << "qz81kt: cannot open MIDI input port " << in << " " << inName << "\n";
                return kExitPort;
            case CCliSession::EConnect::OutFailed:
                m_err << "qz81kt: cannot open MIDI output port " << outPort << " " << outName << "\n";
                return kExitPort;
            case CCliSession::EConnect::RequestRefused:
                m_err << "qz81kt: MIDI output port " << outPort << " " << outName << " refused the requests\n";
                return kExitPort;
            case CCliSession::EConnect::BothFailed:
                m_err << "qz81kt: cannot open MIDI ports " << in << " " << inName << " and " << outPort << " "
                      << outName << "\n";
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

    // The real MIDI system (or the injected driver), with the built-in emulator's pair
    // after its ports for --emulate; the emulator alone when no MIDI system is reachable.
    CMidiDriver* OpenMidiSystem(CMidiDriver* pInjected) {
        CMidiDriver* pReal = pInjected;
        if (!pReal) {
            EMidiApi eApi = EMidiApi::Auto;
            qz::ParseMidiApi(m_options.m_strApi, eApi);  // left Auto when empty
            m_pMidi = qz::OpenSystemMidiDriver(eApi, "qz81kt-cli");
            if (m_pMidi->IsAvailable()) {
                pReal = m_pMidi.get();
            } else if (!m_options.m_bEmulate) {
                m_err << "qz81kt: no MIDI system reachable: " << m_pMidi->UnavailableReason() << "\n";
                return nullptr;
            } else {
                m_pMidi.reset();
            }
        }
        if (!m_options.m_bEmulate) return pReal;
        m_pLoopback = std::make_unique<CLoopbackDriver>();
        m_pEmulator = std::make_unique<CLoopbackEmulator>(*m_pLoopback);
        if (!m_pEmulator->Start()) {
            m_err << "qz81kt: cannot start the built-in emulator\n";
            return nullptr;
        }
        if (!pReal) return m_pLoopback.get();
        m_pComposite = std::make_unique<CCompositeMidiDriver>(*pReal, *m_pLoopback);
        return m_pComposite.get();
    }

    int RunCommand() {
        using E = CCliOptions::ECommand;
        CFileCommands files(*m_session, m_options.m_strFile, m_options.m_nTimeoutMs, m_options.m_bJson, m_out, m_err,
                            m_pStop);
        CDeviceCommands device(*m_session, m_options.m_nTimeoutMs, m_options.m_bJson, m_out, m_err, m_pStop);
        switch (m_options.m_eCommand) {
            case E::Dump: return Dump();
            case E::Export: return files.Export();
            case E::Import: return files.Import();
            case E::Diff: return files.Diff();
            case E::Set: return device.Set(m_parsed.m_settings);
            case E::Get: return device.Get(m_parsed.m_names);
            case E::Preset: return device.Preset(m_parsed.m_nPreset, m_parsed.m_fields);
            case E::Flash: return device.Flash();
            case E::FactoryReset: return device.FactoryReset();
            case E::Monitor: return CMonitorCommand(*m_session, {m_options.m_bJson, m_options.m_bRaw, m_options.m_monitorFilter}, m_out, m_err, m_pStop).Run();
            default: return Status();
        }
    }

    // A bridge's port shows the device behind it too: what --in and --out also match.
    int Ports() {
        const qz::CPortPair sel = qz::PreselectPorts(m_ins->Devices(), m_outs->Devices());
        if (m_options.m_bJson) {
            m_out << PortsJson(*m_ins, m_ins->Devices(), sel.m_nIn, *m_outs, m_outs->Devices(), sel.m_nOut) << "\n";
            return kExitOk;
        }
        for (int side = 0; side < 2; ++side) {
            const CMidiDevListBase& list = side == 0 ? static_cast<CMidiDevListBase&>(*m_ins) : *m_outs;
            const int nSel = side == 0 ? sel.m_nIn : sel.m_nOut;
            m_out << (side == 0 ? "MIDI input ports:\n" : "MIDI output ports:\n");
            if (list.empty()) m_out << "   (none)\n";
            for (size_t i = 0; i < list.size(); ++i) {
                const std::string& strDevice = list.Devices()[i].m_strName;
                m_out << (static_cast<int>(i) == nSel ? " * " : "   ") << i << ": " << list[i];
                if (!strDevice.empty() && strDevice != list[i]) m_out << "  (" << strDevice << ")";
                m_out << "\n";
            }
        }
        return kExitOk;
    }

    // Takes notifications until pred holds (true), the time is up or a stop is asked for
    // (false).
    template <class Pred>
    bool WaitFor(Pred pred, uint32_t nTimeoutMs) {
        auto end = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (!pred()) {
            uint32_t left = MsUntil(end);
            if (left == 0 || Stopped()) return false;
            m_session->WaitNotify(std::min(left, kStopPollMs));
        }
        return true;
    }

    // The control mode is not part of the request-all sequence, and the link watch polls
    // it only once the link is up.
    void RequestControlMode() {
        qz::SendRQ1(m_session->MidiOut(), m_session->Image().m_byDeviceID.load(), qz::kAddrControlMode,
                qz::kControlModeSize);
    }

    int Dump() {
        CCliSession& s = *m_session;
        RequestControlMode();
        // Blocks still missing are asked for again every half second until the time is up.
        auto deadline = Clock::now() + std::chrono::milliseconds(m_options.m_nTimeoutMs);
        for (;;) {
            uint32_t left = MsUntil(deadline);
            if (left == 0 || WaitFor([&] { return s.MissingBlocks().empty(); }, std::min(left, kRetryMs))) break;
            if (Stopped()) return kExitInterrupted;
            s.RequestMissing();
        }
        if (Stopped()) return kExitInterrupted;
        if (!s.MissingBlocks().empty()) {
            m_err << "qz81kt: the device did not answer within " << m_options.m_nTimeoutMs
                  << " ms; missing: " << Join(s.MissingBlocks()) << "\n";
            return kExitNoAnswer;
        }
        WaitFor([&] { return s.Received(qz::EBlock::ControlMode); }, 200);
        if (Stopped()) return kExitInterrupted;
        CImageSnapshot snap = qz::TakeSnapshot(s.Image());
        if (m_options.m_bJson) {
            m_out << qz::DumpJson(snap) << "\n";
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
        m_out << "Identity : "
              << qz::IdentityLine(snap.m_bVersionRcvd, snap.m_bProductIDRcvd, snap.m_version, snap.m_productID)
              << "\n";
        section("System", qz::SystemSettingsText(snap.m_system, snap.m_preset));
        section("Timecode", qz::TimecodeSettingsText(snap.m_timecode));
        m_out << "Presets\n";
        for (int n = 0; n < qz::kPresetCount; ++n) m_out << "  " << qz::PresetSummaryLine(n, snap.m_preset[n]) << "\n";
        CStatusTexts st = qz::StatusTexts(snap.m_status);
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
        if (m_options.m_bJson) return qz::StatusJson(snap);
        CStatusTexts st = qz::StatusTexts(snap.m_status);
        std::string mode = snap.m_nControlMode < 0 ? " -" : qz::ControlModeText(snap.m_nControlMode & 1);
        return st.m_strTimecode + " | " + st.m_strVideoFormat + " | " + st.m_strIEEE1394 + " | " + st.m_strPower +
               " | " + mode;
    }

    // status --watch --reconnect: the device's ports vanished (bGone) or came back.
    // Returns true while they are gone.
    bool FollowPorts(CPortWatch& watch, uint32_t& nGeneration, bool& bGone) {
        if (watch.Generation() == nGeneration) return bGone;
        nGeneration = watch.Generation();
        const std::vector<std::string> ins = watch.Inputs(), outs = watch.Outputs();
        auto at = [](const std::vector<std::string>& names, const std::string& str) {
            auto it = std::find(names.begin(), names.end(), str);
            return it == names.end() ? -1 : static_cast<int>(it - names.begin());
        };
        const int in = at(ins, m_strInName), out = at(outs, m_strOutName);
        if ((in < 0 || out < 0) && !bGone) {
            bGone = true;
            m_session->PortsGone();
            m_err << "qz81kt: the device's ports are gone; waiting for them to come back" << std::endl;
        } else if (in >= 0 && out >= 0 && bGone &&
                   m_session->Connect(static_cast<uint32_t>(in), static_cast<uint32_t>(out)) ==
                       CCliSession::EConnect::Ok) {
            bGone = false;
            RequestControlMode();
            m_err << "qz81kt: reconnected" << std::endl;
        }
        return bGone;
    }

    int Status() {
        CCliSession& s = *m_session;
        RequestControlMode();
        std::unique_ptr<CPortWatch> pWatch;
        if (m_options.m_bReconnect) {
            pWatch = std::make_unique<CPortWatch>(m_pDriver);
            if (m_pMidi) m_pMidi->FollowPortChanges(*pWatch);
            pWatch->Start();
        }
        uint32_t nPortGeneration = 0;
        bool bPortsGone = false;
        auto nextTick = Clock::now() + std::chrono::milliseconds(CCliSession::kTickMs);
        auto deadline = Clock::now() + std::chrono::milliseconds(m_options.m_nTimeoutMs);
        auto nextRetry = Clock::now() + std::chrono::milliseconds(kRetryMs);
        std::string strLast;
        for (;;) {
            if (Stopped()) return kExitInterrupted;
            if (pWatch && FollowPorts(*pWatch, nPortGeneration, bPortsGone)) {
                s.WaitNotify(kStopPollMs);
                continue;
            }
            auto now = Clock::now();
            if (now >= nextTick) {
                nextTick += std::chrono::milliseconds(CCliSession::kTickMs);
                if (nextTick < now) nextTick = now + std::chrono::milliseconds(CCliSession::kTickMs);
                if (s.Tick() == CLinkWatch::kTickLinkLost) {
                    if (!pWatch) {
                        m_err << "qz81kt: no status reply for 5 s: the device is gone\n";
                        return kExitNoAnswer;
                    }
                    m_err << "qz81kt: no status reply for 5 s; asking again" << std::endl;
                }
            }
            if (pWatch && !s.Image().m_bLinkUp.load() && s.Received(qz::EBlock::Status) && now >= nextRetry) {
                // The link watch sends nothing while the link is down: ask until it answers.
                nextRetry = now + std::chrono::milliseconds(kRetryMs);
                qz::SendRQ1(s.MidiOut(), s.Image().m_byDeviceID.load(), qz::kAddrStatus, qz::kStatusSize);
            }
            if (!s.Received(qz::EBlock::Status)) {
                if (now >= deadline) {
                    m_err << "qz81kt: the device did not answer within " << m_options.m_nTimeoutMs
                          << " ms; missing: status\n";
                    return kExitNoAnswer;
                }
                if (now >= nextRetry) {
                    // Until the first status reply the link watch sends nothing: ask again.
                    nextRetry = now + std::chrono::milliseconds(kRetryMs);
                    qz::SendRQ1(s.MidiOut(), s.Image().m_byDeviceID.load(), qz::kAddrStatus, qz::kStatusSize);
                    if (!s.Received(qz::EBlock::ControlMode)) RequestControlMode();
                }
            }
            // A watch sleeps until the next tick or reply: waking every 10 ms for Ctrl-C
            // cost it more than its JACK client; an interrupt is now seen within a tick.
            const uint32_t nSliceMs = m_options.m_bWatch ? CCliSession::kTickMs : kStopPollMs;
            uint32_t codes = s.WaitNotify(std::max<uint32_t>(1, std::min(MsUntil(nextTick), nSliceMs)));
            if (!m_options.m_bWatch) {
                if (!s.Received(qz::EBlock::Status)) continue;
                // One reading; the control mode asked for at the start comes with it.
                WaitFor([&] { return s.Received(qz::EBlock::ControlMode); }, 300);
                if (Stopped()) return kExitInterrupted;
                m_out << StatusLine(qz::TakeSnapshot(s.Image())) << "\n";
                return kExitOk;
            }
            if (!(codes & (CCliSession::Bit(REPLY_STATUS) | CCliSession::Bit(REPLY_CONTROL_MODE)))) continue;
            std::string line = StatusLine(qz::TakeSnapshot(s.Image()));
            if (line != strLast) {
                m_out << line << std::endl;
                if (!m_out) return kExitOk;  // the reader has gone (a closed pipe): nothing more to do
                strLast = line;
            }
        }
    }

    const CCliOptions& m_options;
    const CCommandArgs& m_parsed;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
    CMidiDriver* m_pDriver = nullptr;
    std::string m_strInName, m_strOutName;  // the ports connected to, by name
    // Destroyed from the bottom up: the session closes its ports before any driver goes.
    std::unique_ptr<CSystemMidiDriver> m_pMidi;
    std::unique_ptr<CLoopbackDriver> m_pLoopback;
    std::unique_ptr<CLoopbackEmulator> m_pEmulator;
    std::unique_ptr<CCompositeMidiDriver> m_pComposite;
    std::unique_ptr<CMidiInDevList> m_ins;
    std::unique_ptr<CMidiOutDevList> m_outs;
    std::unique_ptr<CCliSession> m_session;
};

}  // namespace

int qz::RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CMidiDriver* pDriver,
           const std::atomic<bool>* pStop) {
    using E = CCliOptions::ECommand;
    CCliOptions options;
    std::string strError;
    if (!ParseCliOptions(args, options, strError)) {
        err << "qz81kt: " << strError << "\n" << CliUsageLine();
        return kExitUsage;
    }
    CCommandArgs parsed;
    if (!ParseCommandArgs(options, parsed, strError)) {
        err << "qz81kt: " << strError << "\n";
        return kExitUsage;
    }
    switch (options.m_eCommand) {
        case E::Help: out << CliUsage(); return kExitOk;
        case E::Completion: out << BashCompletion(); return kExitOk;
        default: break;
    }
    if (options.m_bList) {
        out << (options.m_eCommand == E::Set ? SettingsListText() : PresetFieldsListText());
        return kExitOk;
    }
    CCliRun run(options, parsed, out, err, pStop);
    return run.Run(pDriver);
}
