#include "cli/DeviceCommands.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/CliSession.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/StatusText.h"

namespace {

using Clock = std::chrono::steady_clock;
using qz::EBlock;

constexpr auto kRetry = std::chrono::milliseconds(500);
constexpr auto kPoll = std::chrono::milliseconds(5);
constexpr uint32_t kFactoryResetPauseMs = 1000;  // the window's pause before it reads again

std::string Names(std::initializer_list<EBlock> blocks, const CCliSession& s) {
    std::string names;
    for (EBlock e : blocks)
        if (!s.Received(e)) names += (names.empty() ? "" : ", ") + std::string(qz::BlockInfo(e).pszName);
    return names;
}

std::string Choice(const CSettingChoice& c) {
    return std::string(c.pSetting->pszName) + "=" + qz::ItemText(c.pSetting->names, c.nValue);
}

bool AllHeld(const std::vector<CSettingChoice>& choices, const uint8_t (&sys)[qz::kSystemSize]) {
    for (const CSettingChoice& c : choices)
        if (sys[c.pSetting->nOffset] != c.nValue) return false;
    return true;
}

}  // namespace

CDeviceCommands::EWait CDeviceCommands::WaitForBlocks(std::initializer_list<EBlock> blocks, uint32_t nTimeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    auto retry = Clock::now();
    bool bFirst = true;  // Connect asked for the request-all blocks already; the others now
    const uint8_t id = m_session.Image().m_byDeviceID.load();
    for (;;) {
        bool bAll = true;
        for (EBlock e : blocks) bAll &= m_session.Received(e);
        if (bAll) return EWait::Done;
        if (Stopped()) return EWait::Stopped;
        const auto now = Clock::now();
        if (now >= deadline) return EWait::TimedOut;
        if (now >= retry) {
            for (EBlock e : blocks) {
                const qz::CBlockInfo& b = qz::BlockInfo(e);
                if (!m_session.Received(e) && (!bFirst || !b.bRequestAll))
                    qz::SendRQ1(m_session.MidiOut(), id, b.dwAddress, static_cast<uint32_t>(b.nSize));
            }
            bFirst = false;
            retry = now + kRetry;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

int CDeviceCommands::NoAnswer(EWait e, std::initializer_list<EBlock> blocks, const char* pszAfter) {
    if (e == EWait::Stopped) return kExitInterrupted;
    m_err << "qz81kt: the device did not answer within " << m_nTimeoutMs << " ms" << pszAfter
          << "; missing: " << Names(blocks, m_session) << "\n";
    return kExitNoAnswer;
}

CDeviceCommands::EWait CDeviceCommands::AwaitReply(EBlock eBlock) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    auto retry = Clock::now() + kRetry;
    while (!m_session.Received(eBlock)) {
        if (Stopped()) return EWait::Stopped;
        const auto now = Clock::now();
        if (now >= deadline) return EWait::TimedOut;
        if (now >= retry) {
            m_session.Device().Request(eBlock);
            retry = now + kRetry;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return EWait::Done;
}

CDeviceCommands::EWait CDeviceCommands::ReadBack(EBlock eBlock) {
    m_session.Image().ForgetReply(eBlock);
    m_session.Device().Request(eBlock);
    return AwaitReply(eBlock);
}

bool CDeviceCommands::ReportRefusals(const std::vector<CSettingChoice>& choices) {
    const std::vector<CDeviceSession::CRefusal> refusals = m_session.Device().SettingRefusals(choices);
    for (const CDeviceSession::CRefusal& r : refusals)
        m_err << "qz81kt: " << Choice(choices[r.nChoice]) << " refused: " << r.strReason << "\n";
    return !refusals.empty();
}

bool CDeviceCommands::ReportPresetRefusals(int nPreset, const std::vector<CPresetFieldChoice>& fields) {
    const std::vector<std::string> refusals = m_session.Device().PresetRefusals(nPreset, fields);
    for (const std::string& r : refusals) m_err << "qz81kt: preset " << nPreset << " refused: " << r << "\n";
    return !refusals.empty();
}

int CDeviceCommands::WriteSystem(const std::vector<CSettingChoice>& choices) {
    CDeviceImage& img = m_session.Image();
    // The read-back is the next system reply: the last one is forgotten before the write.
    img.ForgetReply(EBlock::System);
    switch (m_session.Device().WriteSettings(choices)) {
        case CDeviceSession::ESend::Sent: break;
        case CDeviceSession::ESend::Refused:  // a reply changed the device's mode meanwhile
            ReportRefusals(choices);
            return kExitRefused;
        case CDeviceSession::ESend::PortRefused: m_err << "qz81kt: the MIDI output port refused the write\n"; return kExitPort;
    }
    // A reply to an earlier request can cross the write: read twice before blaming the device.
    uint8_t sys[qz::kSystemSize];
    for (int round = 0; round < 2; ++round) {
        EWait w = round == 0 ? AwaitReply(EBlock::System) : ReadBack(EBlock::System);
        if (w != EWait::Done) return NoAnswer(w, {EBlock::System}, " after the write");
        img.Read(EBlock::System, sys);
        if (AllHeld(choices, sys)) return kExitOk;
    }
    for (const CSettingChoice& c : choices)
        if (sys[c.pSetting->nOffset] != c.nValue)
            m_err << "qz81kt: the device holds " << SettingText(*c.pSetting, sys) << " after the write of "
                  << Choice(c) << "\n";
    return kExitRefused;
}

int CDeviceCommands::Set(const std::vector<CSettingChoice>& choices) {
    const auto need = {EBlock::System, EBlock::ControlMode, EBlock::Status};
    EWait w = WaitForBlocks(need, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, need);
    if (ReportRefusals(choices)) return kExitRefused;
    // From Local the window's other controls work only once the device says Remote: the
    // switch goes first, and is read back, before the rest.
    const int nFirst = m_session.Device().RemoteFirst(choices);
    std::vector<CSettingChoice> rest;
    for (size_t i = 0; i < choices.size(); ++i)
        if (static_cast<int>(i) != nFirst) rest.push_back(choices[i]);
    if (nFirst >= 0) {
        if (int rc = WriteSystem({choices[static_cast<size_t>(nFirst)]}); rc != kExitOk) return rc;
    }
    if (!rest.empty()) {
        if (int rc = WriteSystem(rest); rc != kExitOk) return rc;
    }
    uint8_t sys[qz::kSystemSize];
    m_session.Image().Read(EBlock::System, sys);
    for (const CSettingChoice& c : choices) m_out << SettingText(*c.pSetting, sys) << "\n";
    return kExitOk;
}

int CDeviceCommands::Get(const std::vector<const qz::CSystemSetting*>& settings) {
    EWait w = WaitForBlocks({EBlock::System}, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, {EBlock::System});
    uint8_t sys[qz::kSystemSize];
    m_session.Image().Read(EBlock::System, sys);
    if (m_bJson) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        for (const qz::CSystemSetting* p : settings) j[p->pszName] = SettingValueText(*p, sys[p->nOffset]);
        m_out << j.dump() << "\n";
        return kExitOk;
    }
    for (const qz::CSystemSetting* p : settings) m_out << SettingText(*p, sys) << "\n";
    return kExitOk;
}

int CDeviceCommands::ShowPreset(int nPreset) {
    uint8_t p[qz::kPresetSize];
    m_session.Image().Read(qz::PresetBlock(nPreset), p);
    const bool bLow = m_session.Image().m_bLowLatencyAvail.load();
    std::vector<CPresetFieldChoice> all;
    for (int e = 0; e < qz::kPresetListCount; ++e) all.push_back({false, e, 0});
    for (int e = 0; e < qz::kPresetHexCount; ++e) all.push_back({true, e, 0});
    if (m_bJson) {
        nlohmann::ordered_json j = {{"preset", nPreset}};
        for (const CPresetFieldChoice& f : all) j[qz::PresetFieldName(f.bHex, f.nField)] = qz::PresetFieldText(f, p, bLow);
        m_out << j.dump() << "\n";
    } else {
        for (const CPresetFieldChoice& f : all)
            m_out << qz::PresetFieldName(f.bHex, f.nField) << "=" << qz::PresetFieldText(f, p, bLow) << "\n";
    }
    return kExitOk;
}

int CDeviceCommands::Preset(int nPreset, const std::vector<CPresetFieldChoice>& fields) {
    const EBlock eBlock = qz::PresetBlock(nPreset);
    if (fields.empty()) {
        EWait w = WaitForBlocks({eBlock, EBlock::Status}, m_nTimeoutMs);
        return w == EWait::Done ? ShowPreset(nPreset) : NoAnswer(w, {eBlock, EBlock::Status});
    }
    const auto need = {EBlock::System, EBlock::Status, EBlock::Preset0, EBlock::Preset1, EBlock::Preset2,
                       EBlock::Preset3, EBlock::Preset4, EBlock::Preset5, EBlock::Preset6, EBlock::Preset7};
    EWait w = WaitForBlocks(need, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, need);

    if (ReportPresetRefusals(nPreset, fields)) return kExitRefused;
    uint8_t sent[qz::kPresetSize];
    m_session.Image().ForgetReply(eBlock);  // the read-back is the next reply of the preset
    switch (m_session.Device().SavePreset(nPreset, fields, sent)) {
        case CDeviceSession::ESend::Sent: break;
        case CDeviceSession::ESend::Refused:
            ReportPresetRefusals(nPreset, fields);
            return kExitRefused;
        case CDeviceSession::ESend::PortRefused: m_err << "qz81kt: the MIDI output port refused the write\n"; return kExitPort;
    }
    return VerifyPreset(nPreset, fields, sent);
}

int CDeviceCommands::VerifyPreset(int nPreset, const std::vector<CPresetFieldChoice>& fields,
                                  const uint8_t (&sent)[qz::kPresetSize]) {
    CDeviceImage& img = m_session.Image();
    const EBlock eBlock = qz::PresetBlock(nPreset);
    const bool bLow = img.m_bLowLatencyAvail.load();
    uint8_t back[qz::kPresetSize];
    for (int round = 0; round < 2; ++round) {
        const EWait w = round == 0 ? AwaitReply(eBlock) : ReadBack(eBlock);
        if (w != EWait::Done) return NoAnswer(w, {eBlock}, " after the write");
        img.Read(eBlock, back);
        if (std::equal(std::begin(back), std::end(back), std::begin(sent))) return ShowPreset(nPreset);
    }
    for (const CPresetFieldChoice& f : fields)
        if (qz::PresetFieldText(f, back, bLow) != qz::PresetFieldText(f, sent, bLow))
            m_err << "qz81kt: preset " << nPreset << " holds " << qz::PresetFieldName(f.bHex, f.nField) << "="
                  << qz::PresetFieldText(f, back, bLow) << " after the write of " << qz::PresetFieldText(f, sent, bLow) << "\n";
    m_err << "qz81kt: preset " << nPreset << " does not hold what was sent\n";
    return kExitRefused;
}

int CDeviceCommands::Flash() {
    EWait w = WaitForBlocks({EBlock::System}, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, {EBlock::System});
    switch (m_session.Device().WriteFlash()) {
        case CDeviceSession::ESend::Sent: break;
        case CDeviceSession::ESend::Refused:
            m_err << "qz81kt: write to flash refused: " << m_session.Device().FlashRefusal() << "\n";
            return kExitRefused;
        case CDeviceSession::ESend::PortRefused:
            m_err << "qz81kt: the MIDI output port refused the write to flash\n";
            return kExitPort;
    }
    // The device does not acknowledge; an answer after the command shows it heard it.
    w = ReadBack(EBlock::System);
    if (w != EWait::Done) return NoAnswer(w, {EBlock::System}, " after the write to flash");
    m_out << "Wrote the settings to the device's flash memory\n";
    return kExitOk;
}

int CDeviceCommands::FactoryReset() {
    EWait w = WaitForBlocks({EBlock::System}, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, {EBlock::System});
    if (!m_session.MidiOut().SendLongMsg(qz::kFactoryResetFrame, sizeof qz::kFactoryResetFrame)) {
        m_err << "qz81kt: the MIDI output port refused the factory reset\n";
        return kExitPort;
    }
    m_out << "Factory reset sent; waiting for the device to answer again\n" << std::flush;
    for (auto end = Clock::now() + std::chrono::milliseconds(kFactoryResetPauseMs); Clock::now() < end;) {
        if (Stopped()) return kExitInterrupted;
        std::this_thread::sleep_for(kPoll);
    }
    // As the window does, the ports are closed; a new Connect reads the device afresh.
    m_session.Image().Clear();
    if (m_session.Reconnect() != CCliSession::EConnect::Ok) {
        m_err << "qz81kt: cannot open the MIDI ports again after the factory reset\n";
        return kExitPort;
    }
    const auto all = {EBlock::Version, EBlock::ProductID, EBlock::System, EBlock::Timecode, EBlock::Preset0,
                      EBlock::Preset1, EBlock::Preset2, EBlock::Preset3, EBlock::Preset4, EBlock::Preset5,
                      EBlock::Preset6, EBlock::Preset7, EBlock::Status};
    w = WaitForBlocks(all, m_nTimeoutMs);
    if (w == EWait::Stopped) return kExitInterrupted;
    if (w == EWait::TimedOut) {
        m_err << "qz81kt: the device has not answered within " << m_nTimeoutMs
              << " ms after the factory reset; switch it off and on again (Please Reboot QZ-81KT ...)\n";
        return kExitNoAnswer;
    }
    m_out << "The device answers again, with its factory settings\n";
    return kExitOk;
}
