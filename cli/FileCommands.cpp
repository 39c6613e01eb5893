#include "cli/FileCommands.h"

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/CliSession.h"
#include "cli/SettingsDiff.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/paramfile/FileReplace.h"
#include "protocol/device/ParameterTransfer.h"
#include "protocol/paramfile/ProfileText.h"
#include "ProgramVersion.h"

namespace {

using Clock = std::chrono::steady_clock;
using qz::EBlock;

constexpr auto kRetry = std::chrono::milliseconds(500);
constexpr auto kPoll = std::chrono::milliseconds(5);

bool Same(const uint8_t* a, const uint8_t* b, size_t n) { return std::memcmp(a, b, n) == 0; }

// The saved blocks in which the device differs from what was sent.
std::vector<EBlock> Differing(const qz::CParameterSet& sent, const qz::CParameterSet& device) {
    std::vector<EBlock> v;
    if (sent.m_bSystem && !Same(sent.m_system, device.m_system, qz::kSystemSize)) v.push_back(EBlock::System);
    if (sent.m_bTimecode && !Same(sent.m_timecode, device.m_timecode, qz::kTimecodeSize)) v.push_back(EBlock::Timecode);
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (sent.m_bPreset[n] && !Same(sent.m_preset[n], device.m_preset[n], qz::kPresetSize))
            v.push_back(qz::PresetBlock(n));
    return v;
}

bool AnyBlock(const qz::CParameterSet& s) {
    bool any = s.m_bSystem || s.m_bTimecode;
    for (bool b : s.m_bPreset) any |= b;
    return any;
}

}  // namespace

const char* CFileCommands::ToolVersion() { return QZ81KT_TOOL_VERSION; }

CFileCommands::EWait CFileCommands::WaitForDevice() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    auto retry = Clock::now() + kRetry;
    while (!m_session.MissingBlocks().empty()) {
        if (Stopped()) return EWait::Stopped;
        auto now = Clock::now();
        if (now >= deadline) return EWait::TimedOut;
        if (now >= retry) {
            m_session.RequestMissing();
            retry = now + kRetry;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return EWait::Complete;
}

CFileCommands::EWait CFileCommands::ReadBackSaved() {
    CDeviceImage& img = m_session.Image();
    // Forget the blocks, then ask for them again: the replies come after the writes.
    img.Clear();
    const uint8_t id = img.m_byDeviceID.load();
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_nTimeoutMs);
    auto retry = Clock::now();
    for (std::vector<EBlock> missing = qz::MissingForExport(img); !missing.empty(); missing = qz::MissingForExport(img)) {
        if (Stopped()) return EWait::Stopped;
        auto now = Clock::now();
        if (now >= deadline) return EWait::TimedOut;
        if (now >= retry) {
            for (EBlock e : missing) {
                const qz::CBlockInfo& b = qz::BlockInfo(e);
                qz::SendRQ1(m_session.MidiOut(), id, b.dwAddress, static_cast<uint32_t>(b.nSize));
            }
            retry = now + kRetry;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return EWait::Complete;
}

int CFileCommands::ReportWait(EWait e, int nNoAnswerExit) {
    if (e == EWait::Stopped) return kExitInterrupted;
    std::vector<std::string> missing = m_session.MissingBlocks();
    std::string names;
    for (auto& m : missing) names += (names.empty() ? "" : ", ") + m;
    m_err << "qz81kt: the device did not answer within " << m_nTimeoutMs << " ms; missing: " << names << "\n";
    return nNoAnswerExit;
}

int CFileCommands::Export() {
    EWait w = WaitForDevice();
    if (w != EWait::Complete) return ReportWait(w, kExitNoAnswer);
    CExportResult r = qz::ExportParameterFile(m_session.Image(), m_strFile, ToolVersion());
    if (r.m_eStatus == CExportResult::EStatus::Ok) {
        m_out << "Exported the settings to " << m_strFile << "\n";
        return kExitOk;
    }
    m_err << "qz81kt: " << qz::ExportFailureText(r, m_strFile) << "\n";
    return r.m_eStatus == CExportResult::EStatus::Incomplete ? kExitNoAnswer : kExitFile;
}

int CFileCommands::Import() {
    std::string text, reason;
    if (qz::ReadFileBounded(m_strFile, qz::kMaxParameterFileBytes, text, reason) != qz::EFileRead::Ok) {
        m_err << "qz81kt: " << qz::ReadFailureText(m_strFile, reason) << "\n";
        return kExitFile;
    }
    qz::CParameterSet set = qz::ReadParameterSet(CProfileText(std::move(text)));
    if (!AnyBlock(set)) {
        m_err << "qz81kt: " << m_strFile << " holds no system, timecode or preset block; nothing sent\n";
        return kExitFile;
    }
    // Sending needs the device's capabilities (low latency) and its own copy of every
    // block the file does not give.
    EWait w = WaitForDevice();
    if (w != EWait::Complete) return ReportWait(w, kExitNoAnswer);
    CImportResult r = ImportParameterSet(m_session.Owner(), set);
    if (r.m_eStatus == CImportResult::EStatus::RequestRefused) {
        m_err << kImportRequestRefusedText << "\n";
        return kExitPort;
    }
    // A reply that crossed the writes can show an old block once: read twice before blaming the device.
    std::vector<EBlock> differ;
    for (int round = 0; round < 2; ++round) {
        w = ReadBackSaved();
        if (w == EWait::Stopped) return kExitInterrupted;
        if (w == EWait::TimedOut) {
            m_err << "qz81kt: the device did not answer within " << m_nTimeoutMs
                  << " ms after the import; missing: " << qz::BlockNames(qz::MissingForExport(m_session.Image())) << "\n";
            return kExitNoAnswer;
        }
        differ = Differing(r.m_sent, qz::ImageParameterSet(m_session.Image()));
        if (differ.empty()) break;
    }
    if (!differ.empty()) {
        m_err << "qz81kt: the device does not hold what was sent: " << BlockNames(differ) << "\n";
        return kExitNoAnswer;
    }
    m_out << "Imported " << m_strFile << "; the device holds its settings\n";
    return kExitOk;
}

int CFileCommands::Diff() {
    std::string text, reason;
    if (qz::ReadFileBounded(m_strFile, qz::kMaxParameterFileBytes, text, reason) != qz::EFileRead::Ok) {
        m_err << "qz81kt: " << qz::ReadFailureText(m_strFile, reason) << "\n";
        return kExitFile;
    }
    qz::CParameterSet file = qz::ReadParameterSet(CProfileText(std::move(text)));
    if (!AnyBlock(file)) {
        m_err << "qz81kt: " << m_strFile << " holds no system, timecode or preset block\n";
        return kExitFile;
    }
    EWait w = WaitForDevice();
    if (w != EWait::Complete) return ReportWait(w, kExitDiffNoAnswer);
    CDeviceImage& img = m_session.Image();
    // Compare with what an import would leave in the device.
    if (!img.m_bLowLatencyAvail.load()) qz::LowerLowLatency(file);
    if (file.m_system[qz::kSysRemote] != 1) file.m_system[qz::kSysRemote] = 0;
    std::vector<CSettingChange> changes = DiffSettings(file, qz::ImageParameterSet(img));
    if (m_bJson) {
        nlohmann::json j = nlohmann::json::array();
        for (const CSettingChange& c : changes)
            j.push_back({{"block", c.m_strBlock}, {"setting", c.m_strSetting}, {"file", c.m_strFile},
                         {"device", c.m_strDevice}, {"line", c.Line()}});
        nlohmann::json doc = {{"file", m_strFile}, {"differences", j}};
        m_out << doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } else {
        for (const CSettingChange& c : changes) m_out << c.Line() << "\n";
    }
    return changes.empty() ? kExitOk : 1;
}
