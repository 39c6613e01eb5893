#include "cli/DeviceCommands.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/CliSession.h"
#include "protocol/BlockLayout.h"
#include "protocol/DeviceFrames.h"
#include "protocol/PresetBlock.h"
#include "protocol/PresetOperations.h"
#include "protocol/StatusText.h"

namespace {

using Clock = std::chrono::steady_clock;
using qz::EBlock;

constexpr auto kRetry = std::chrono::milliseconds(500);
constexpr auto kPoll = std::chrono::milliseconds(5);
constexpr uint32_t kFactoryResetPauseMs = 1000;  // the window's pause before it reads again

const char* const kLocalReason =
    "the device is in Local mode (its front panel has the settings); set control-mode=remote first";

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
                    SendRQ1(m_session.MidiOut(), id, b.dwAddress, static_cast<uint32_t>(b.nSize));
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

CDeviceCommands::EWait CDeviceCommands::ReadBack(EBlock eBlock) {
    const qz::CBlockInfo& b = qz::BlockInfo(eBlock);
    m_session.Image().ForgetReply(eBlock);
    SendRQ1(m_session.MidiOut(), m_session.Image().m_byDeviceID.load(), b.dwAddress, static_cast<uint32_t>(b.nSize));
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    auto retry = Clock::now() + kRetry;
    while (!m_session.Received(eBlock)) {
        if (Stopped()) return EWait::Stopped;
        const auto now = Clock::now();
        if (now >= deadline) return EWait::TimedOut;
        if (now >= retry) {
            SendRQ1(m_session.MidiOut(), m_session.Image().m_byDeviceID.load(), b.dwAddress,
                    static_cast<uint32_t>(b.nSize));
            retry = now + kRetry;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return EWait::Done;
}

std::string CDeviceCommands::Refusal(const CSettingChoice& c, bool bGoesRemote) const {
    const CDeviceImage& img = m_session.Image();
    uint8_t sys[qz::kSystemSize], st[qz::kStatusSize];
    img.Read(EBlock::System, sys);
    img.Read(EBlock::Status, st);
    const bool bRemote = sys[qz::kSysRemote] != 0 || bGoesRemote;
    switch (c.pSetting->eRule) {
        case qz::ESettingRule::ControlMode:
            // With SW6 on the device stays in Remote and the window disables both buttons.
            if (img.m_bRemote.load() && c.nValue == 0) return "the mode switch SW6 holds the device in Remote";
            return {};
        case qz::ESettingRule::FrameRate:
            if (!bRemote) return kLocalReason;
            switch (qz::FrameRateLock(sys, st)) {
                case qz::ERateLock::Sdi:
                    return "the default frame rate follows the SDI input (" +
                           qz::VideoFormatName(qz::VideoFormatCode(st)) + ")";
                case qz::ERateLock::IEEE1394: return "the default frame rate follows the IEEE1394 input";
                case qz::ERateLock::None: return {};
            }
            return {};
        case qz::ESettingRule::Ready: return bRemote ? "" : kLocalReason;
    }
    return {};
}

int CDeviceCommands::WriteSystem(const std::vector<CSettingChoice>& choices) {
    CDeviceImage& img = m_session.Image();
    // The image keeps the new values whatever happens next; the read-back corrects them.
    for (const CSettingChoice& c : choices)
        img.WriteByte(EBlock::System, static_cast<size_t>(c.pSetting->nOffset), static_cast<uint8_t>(c.nValue));
    uint8_t sys[qz::kSystemSize];
    img.Read(EBlock::System, sys);
    if (!SendDT1(m_session.MidiOut(), img.m_byDeviceID.load(), qz::kAddrSystem, sys, sizeof sys)) {
        m_err << "qz81kt: the MIDI output port refused the write\n";
        return kExitPort;
    }
    // A reply to an earlier request can cross the write: read twice before blaming the device.
    for (int round = 0; round < 2; ++round) {
        EWait w = ReadBack(EBlock::System);
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
    const CSettingChoice* pToRemote = nullptr;
    const bool bLocal = m_session.Image().ReadByte(EBlock::System, qz::kSysRemote) == 0;
    for (const CSettingChoice& c : choices)
        if (c.pSetting->eRule == qz::ESettingRule::ControlMode && c.nValue == 1 && bLocal) pToRemote = &c;
    bool bRefused = false;
    for (const CSettingChoice& c : choices) {
        std::string why = Refusal(c, pToRemote != nullptr);
        if (why.empty()) continue;
        m_err << "qz81kt: " << Choice(c) << " refused: " << why << "\n";
        bRefused = true;
    }
    if (bRefused) return kExitRefused;
    // From Local the window's other controls work only once the device says Remote.
    std::vector<CSettingChoice> rest;
    for (const CSettingChoice& c : choices)
        if (&c != pToRemote) rest.push_back(c);
    if (pToRemote) {
        if (int rc = WriteSystem({*pToRemote}); rc != kExitOk) return rc;
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

int CDeviceCommands::Preset(int nPreset, const std::vector<CPresetFieldChoice>& fields) {
    CDeviceImage& img = m_session.Image();
    const EBlock eBlock = qz::PresetBlock(nPreset);
    auto show = [&] {
        uint8_t p[qz::kPresetSize];
        img.Read(eBlock, p);
        const bool bLow = img.m_bLowLatencyAvail.load() != 0;
        std::vector<CPresetFieldChoice> all;
        for (int e = 0; e < qz::kPresetListCount; ++e) all.push_back({false, e, 0});
        for (int e = 0; e < qz::kPresetHexCount; ++e) all.push_back({true, e, 0});
        if (m_bJson) {
            nlohmann::ordered_json j = {{"preset", nPreset}};
            for (const CPresetFieldChoice& f : all) j[PresetFieldName(f.bHex, f.nField)] = PresetFieldText(f, p, bLow);
            m_out << j.dump() << "\n";
        } else {
            for (const CPresetFieldChoice& f : all)
                m_out << PresetFieldName(f.bHex, f.nField) << "=" << PresetFieldText(f, p, bLow) << "\n";
        }
        return kExitOk;
    };
    if (fields.empty()) {
        EWait w = WaitForBlocks({eBlock, EBlock::Status}, m_nTimeoutMs);
        return w == EWait::Done ? show() : NoAnswer(w, {eBlock, EBlock::Status});
    }
    const auto need = {EBlock::System, EBlock::Status, EBlock::Preset0, EBlock::Preset1, EBlock::Preset2,
                       EBlock::Preset3, EBlock::Preset4, EBlock::Preset5, EBlock::Preset6, EBlock::Preset7};
    EWait w = WaitForBlocks(need, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, need);

    // The editor's rules: it opens only while the device is in Remote, offers LowLatency
    // only when the device does, and disables the fields its codec does not use.
    uint8_t p[qz::kPresetSize];
    img.Read(eBlock, p);
    const bool bLow = img.m_bLowLatencyAvail.load() != 0;
    int nCodec = std::max(qz::PresetListIndex(qz::kListCodec, p, qz::PresetListItemCount(qz::kListCodec, bLow)), 0);
    for (const CPresetFieldChoice& f : fields)
        if (!f.bHex && f.nField == qz::kListCodec) nCodec = f.nValue;
    std::vector<std::string> refusals;
    if (img.ReadByte(EBlock::System, qz::kSysRemote) == 0) refusals.push_back(kLocalReason);
    for (const CPresetFieldChoice& f : fields) {
        const std::string name = PresetFieldName(f.bHex, f.nField);
        if (!f.bHex && f.nField == qz::kListCodec && f.nValue >= qz::PresetListItemCount(qz::kListCodec, bLow))
            refusals.push_back("codec=" + qz::ItemText(qz::kPresetLists[qz::kListCodec].items, f.nValue) +
                               ": the device does not offer it");
        else if (!(f.bHex ? qz::PresetHexEnabled(nCodec)
                          : qz::PresetListEnabled(static_cast<qz::EPresetList>(f.nField), nCodec)))
            refusals.push_back(name + " is not used with codec " +
                               qz::ItemText(qz::kPresetLists[qz::kListCodec].items, nCodec) +
                               " (the preset editor disables it)");
    }
    if (!refusals.empty()) {
        for (const std::string& r : refusals) m_err << "qz81kt: preset " << nPreset << " refused: " << r << "\n";
        return kExitRefused;
    }
    // Every field is saved as the editor shows it (bit rates whole Mbit/s), then the changes.
    for (int e = 0; e < qz::kPresetListCount; ++e) {
        const auto eList = static_cast<qz::EPresetList>(e);
        qz::SavePresetList(eList, qz::PresetListIndex(eList, p, qz::PresetListItemCount(eList, bLow)), p);
    }
    for (const CPresetFieldChoice& f : fields) {
        if (f.bHex)
            qz::SavePresetHex(static_cast<qz::EPresetHex>(f.nField), qz::FormatHex16(f.nValue), p);
        else
            qz::SavePresetList(static_cast<qz::EPresetList>(f.nField), f.nValue, p);
    }
    img.Write(eBlock, p);
    int bSent = SendAllPresets(m_session);
    uint8_t sys[qz::kSystemSize];
    img.Read(EBlock::System, sys);
    bSent &= SendDT1(m_session.MidiOut(), img.m_byDeviceID.load(), qz::kAddrSystem, sys, sizeof sys);
    if (!bSent) {
        m_err << "qz81kt: the MIDI output port refused the write\n";
        return kExitPort;
    }
    uint8_t back[qz::kPresetSize];
    for (int round = 0; round < 2; ++round) {
        w = ReadBack(eBlock);
        if (w != EWait::Done) return NoAnswer(w, {eBlock}, " after the write");
        img.Read(eBlock, back);
        if (std::equal(std::begin(back), std::end(back), std::begin(p))) return show();
    }
    for (const CPresetFieldChoice& f : fields)
        if (PresetFieldText(f, back, bLow) != PresetFieldText(f, p, bLow))
            m_err << "qz81kt: preset " << nPreset << " holds " << PresetFieldName(f.bHex, f.nField) << "="
                  << PresetFieldText(f, back, bLow) << " after the write of " << PresetFieldText(f, p, bLow) << "\n";
    m_err << "qz81kt: preset " << nPreset << " does not hold what was sent\n";
    return kExitRefused;
}

int CDeviceCommands::Flash() {
    EWait w = WaitForBlocks({EBlock::System}, m_nTimeoutMs);
    if (w != EWait::Done) return NoAnswer(w, {EBlock::System});
    if (!m_session.MidiOut().SendLongMsg(qz::kWriteFlashFrame, sizeof qz::kWriteFlashFrame)) {
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
