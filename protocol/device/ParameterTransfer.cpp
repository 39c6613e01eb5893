#include "protocol/device/ParameterTransfer.h"

#include <cstring>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/paramfile/FileReplace.h"
#include "protocol/device/PresetOperations.h"
#include "protocol/paramfile/ProfileText.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "protocol/wire/QZ81KTMidiOut.h"

namespace {

using qz::EBlock;


}  // namespace

std::vector<EBlock> qz::MissingForExport(const CDeviceImage& image) {
    std::vector<EBlock> missing;
    if (!image.ReplyStored(EBlock::System)) missing.push_back(EBlock::System);
    if (!image.m_bTimecodeRcvd.load(std::memory_order_acquire)) missing.push_back(EBlock::Timecode);
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (!image.m_bPresetRcvd[n].load(std::memory_order_acquire)) missing.push_back(qz::PresetBlock(n));
    return missing;
}

std::string qz::BlockNames(const std::vector<EBlock>& blocks) {
    std::string s;
    for (EBlock e : blocks) s += (s.empty() ? "" : ", ") + std::string(qz::BlockInfo(e).pszName);
    return s;
}

std::string qz::ExportFailureText(const CExportResult& r, const std::string& strPath) {
    switch (r.m_eStatus) {
        case CExportResult::EStatus::Ok: break;
        case CExportResult::EStatus::Incomplete: return "not exported, not received: " + BlockNames(r.m_missing);
        case CExportResult::EStatus::CannotWrite:
            return "cannot write " + strPath + ": " + r.m_strReason + " (the file is unchanged)";
    }
    return std::string();
}

std::string qz::ReadFailureText(const std::string& strPath, const std::string& strReason) {
    return "cannot read " + strPath + ": " + strReason;
}

qz::CParameterSet qz::ImageParameterSet(const CDeviceImage& image) {
    qz::CParameterSet set;
    set.m_bSystem = image.Read(EBlock::System, set.m_system);
    set.m_bTimecode = image.Read(EBlock::Timecode, set.m_timecode);
    for (int n = 0; n < qz::kPresetCount; ++n) set.m_bPreset[n] = image.Read(qz::PresetBlock(n), set.m_preset[n]);
    return set;
}

CExportResult qz::ExportParameterFile(const CDeviceImage& image, const std::string& strPath, const std::string& strTool) {
    CExportResult r;
    r.m_missing = MissingForExport(image);
    if (!r.m_missing.empty()) {
        r.m_eStatus = CExportResult::EStatus::Incomplete;
        return r;
    }
    std::string text, reason;
    qz::EFileRead read = qz::ReadFileBounded(strPath, qz::kMaxParameterFileBytes, text, reason);
    if (read != qz::EFileRead::Ok && read != qz::EFileRead::Missing) {
        // Its other lines must be kept, so a file that cannot be read is not replaced.
        r.m_eStatus = CExportResult::EStatus::CannotWrite;
        r.m_strReason = reason;
        return r;
    }
    CProfileText file(std::move(text));
    uint8_t version[qz::kVersionSize];
    image.Read(EBlock::Version, version);
    qz::WriteParameterSet(file, ImageParameterSet(image), qz::FirmwareText(version), strTool);
    if (!qz::ReplaceFile(strPath, file.Text(), reason)) {
        r.m_eStatus = CExportResult::EStatus::CannotWrite;
        r.m_strReason = reason;
    }
    return r;
}

CImportResult qz::ImportParameterFile(CDeviceOwner& owner, const std::string& strPath) {
    std::string text, reason;
    if (qz::ReadFileBounded(strPath, qz::kMaxParameterFileBytes, text, reason) != qz::EFileRead::Ok) {
        CImportResult r;
        r.m_eStatus = CImportResult::EStatus::CannotRead;
        r.m_strReason = reason;
        return r;
    }
    return ImportParameterSet(owner, qz::ReadParameterSet(CProfileText(std::move(text))));
}

CImportResult qz::ImportParameterSet(CDeviceOwner& owner, const qz::CParameterSet& set) {
    CImportResult r;
    CDeviceImage& img = owner.Image();
    r.m_file = set;
    const bool bLowerLowLatency = !img.m_bLowLatencyAvail.load(std::memory_order_acquire);
    if (bLowerLowLatency) qz::LowerLowLatency(r.m_file);
    const qz::CParameterSet& f = r.m_file;

    // What is sent: each block from the file, else the image's copy when the device sent
    // it. The copies are taken once, so a reply stored meanwhile cannot mix into a block.
    qz::CParameterSet& sent = r.m_sent;
    sent = ImageParameterSet(img);
    sent.m_bSystem = f.m_bSystem || img.ReplyStored(EBlock::System);
    sent.m_bTimecode = f.m_bTimecode || img.m_bTimecodeRcvd.load(std::memory_order_acquire);
    if (f.m_bSystem) std::memcpy(sent.m_system, f.m_system, sizeof sent.m_system);
    if (f.m_bTimecode) std::memcpy(sent.m_timecode, f.m_timecode, sizeof sent.m_timecode);
    bool bAllPresets = true;
    for (int n = 0; n < qz::kPresetCount; ++n) {
        sent.m_bPreset[n] = f.m_bPreset[n] || img.m_bPresetRcvd[n].load(std::memory_order_acquire);
        if (f.m_bPreset[n]) std::memcpy(sent.m_preset[n], f.m_preset[n], sizeof sent.m_preset[n]);
        bAllPresets &= sent.m_bPreset[n];
    }
    // The rule covers the image's copies too, once the file has a preset section.
    sent.m_bPresetSection = f.m_bPresetSection;
    if (bLowerLowLatency) qz::LowerLowLatency(sent);
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (sent.m_bPreset[n] && f.m_bPresetSection) img.Write(qz::PresetBlock(n), sent.m_preset[n]);
    if (f.m_bTimecode) img.Write(EBlock::Timecode, f.m_timecode);
    if (!sent.m_bSystem) r.m_notSent.push_back(EBlock::System);
    if (!sent.m_bTimecode) r.m_notSent.push_back(EBlock::Timecode);
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (!sent.m_bPreset[n]) r.m_notSent.push_back(qz::PresetBlock(n));

    CQZ81KTMidiOut& out = owner.MidiOut();
    const uint8_t id = img.m_byDeviceID.load();
    const uint8_t byRemembered = sent.m_system[qz::kSysRemote];
    if (sent.m_bSystem) {
        sent.m_system[qz::kSysRemote] = 1;
        img.Write(EBlock::System, sent.m_system);
        // The first write puts a device in Local into Remote, the second is then taken whole.
        SendDT1(out, id, qz::kAddrSystem, sent.m_system, qz::kSystemSize);
        SendDT1(out, id, qz::kAddrSystem, sent.m_system, qz::kSystemSize);
    }
    if (sent.m_bTimecode) SendDT1(out, id, qz::kAddrTimecode, sent.m_timecode, qz::kTimecodeSize);
    if (bAllPresets) {
        SendAllPresets(owner);
    } else {
        for (int n = 0; n < qz::kPresetCount; ++n)
            if (sent.m_bPreset[n]) SendDT1(out, id, qz::PresetAddress(n), sent.m_preset[n], qz::kPresetSize);
    }
    if (sent.m_bSystem && byRemembered != 1) {
        sent.m_system[qz::kSysRemote] = 0;
        img.Write(EBlock::System, sent.m_system);
        SendDT1(out, id, qz::kAddrSystem, sent.m_system, qz::kSystemSize);
    }
    if (!RequestAll(out, id)) r.m_eStatus = CImportResult::EStatus::RequestRefused;
    return r;
}
