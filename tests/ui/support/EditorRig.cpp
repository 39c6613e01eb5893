#include "support/EditorRig.h"

#include <QAbstractButton>
#include <QTest>
#include <algorithm>
#include <optional>

#include "protocol/device/DeviceImage.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

namespace {
constexpr int kWaitMs = 5000;

bool IsDT1(const Bytes& f) { return f.size() >= 12 && f[0] == 0xF0 && f[6] == qz::kCmdDT1 && f.back() == 0xF7; }
bool IsRQ1(const Bytes& f) { return f.size() == qz::kRQ1Length && f[0] == 0xF0 && f[6] == qz::kCmdRQ1; }
// The marker is a version request under a device ID the window never uses (the device
// answers any ID), so a version request of RequestAll cannot be taken for it.
constexpr uint8_t kMarkerDeviceID = 0x10;
bool IsMarker(const Bytes& f) {
    return f.size() == qz::kRQ1Length && f[2] == kMarkerDeviceID && f[6] == qz::kCmdRQ1 && f[7] == 0x7F &&
           f[8] == 0 && f[9] == 0;
}
}  // namespace

CEditorRig::CEditorRig(bool bServiceMode) {
    m_driver.SetPeer(m_emulator.Port(), &m_tap);
    if (!m_emulator.Start()) return;
    CUtilQZ81KTDlg::COptions options;
    options.m_bStartTimer = false;
    options.m_bServiceMode = bServiceMode;
    m_pWindow = std::make_unique<CUtilQZ81KTDlg>(&m_driver, options);
    m_pWindow->show();
    m_bReady = ConnectAndWait();
    ClearTap();
}

CEditorRig::~CEditorRig() {
    m_pWindow.reset();  // closes the ports: nothing reaches the tap after this
    m_driver.SetPeer(m_emulator.Port(), nullptr);
}

bool CEditorRig::ConnectAndWait() {
    CDeviceImage& img = m_pWindow->Image();
    qz::FindControl<QAbstractButton>(m_pWindow.get(), IDOK)->click();  // Connect; resets the status count
    if (!QTest::qWaitFor([&] { return img.m_bAllPresetsRcvd && img.m_bTimecodeRcvd && img.m_nStatusReplies > 0; },
                         kWaitMs))
        return false;
    m_pWindow->OnTimer();  // the link comes up; the system reply enables the editors' buttons
    return QTest::qWaitFor([&] { return m_pWindow->Control(IDC_EDIT_PRESET)->isEnabled() && m_pWindow->Control(IDC_TC)->isEnabled(); },
                           kWaitMs);
}

void CEditorRig::Click(int nButtonId, const std::function<void(QDialog&)>& fn) {
    // Shown and active, as a modal run would have it, so that keys reach its controls.
    m_services.m_fnOnDialog = [&](QDialog& dlg) {
        dlg.show();
        dlg.activateWindow();
        (void)QTest::qWaitForWindowActive(&dlg);
        fn(dlg);
    };
    // "Edit Preset" is hidden until its key sequence; a click still reaches the handler.
    qz::FindControl<QAbstractButton>(m_pWindow.get(), nButtonId)->click();
    m_services.m_fnOnDialog = nullptr;
}

Bytes CEditorRig::DeviceBlock(uint32_t dwAddress) {
    uint8_t b[qz::kMaxReplyData];
    return Bytes(b, b + m_emulator.Emulator().ReadBlock(dwAddress, b, sizeof b));
}

Bytes CEditorRig::ImageBlock(uint32_t dwAddress) {
    const qz::CBlockInfo* pInfo = qz::FindBlockByAddress(dwAddress);
    Bytes b(CDeviceImage::CopySize(pInfo->eBlock));
    m_pWindow->Image().Read(pInfo->eBlock, b.data(), b.size());
    b.resize(size_t(pInfo->nSize));
    return b;
}

bool CEditorRig::SetDeviceBlock(uint32_t dwAddress, const Bytes& data) {
    CQZ81KTMidiOut& out = m_pWindow->MidiOut();
    const bool bStored = qz::SendDT1(out, qz::kDefaultDeviceID, dwAddress, data.data(), data.size()) &&
                         qz::SendRQ1(out, qz::kDefaultDeviceID, dwAddress, uint32_t(data.size())) &&
                         QTest::qWaitFor([&] { return ImageBlock(dwAddress) == data; }, kWaitMs);
    ClearTap();
    return bStored;
}

bool CEditorRig::Reconnect() {
    // Blank the copies first: a block equal to the device's then came with the new replies.
    const uint8_t zeros[qz::kMaxReplyData] = {};
    auto editable = [](const qz::CBlockInfo& b) {
        return b.eBlock == qz::EBlock::Timecode || b.eBlock == qz::EBlock::System || qz::PresetIndex(b.eBlock) >= 0;
    };
    for (const qz::CBlockInfo& b : qz::kBlocks)
        if (editable(b)) m_pWindow->Image().Write(b.eBlock, zeros, CDeviceImage::WritableSize(b.eBlock));
    return ConnectAndWait() && QTest::qWaitFor(
                                   [&] {
                                       for (const qz::CBlockInfo& b : qz::kBlocks)
                                           if (editable(b) && ImageBlock(b.dwAddress) != DeviceBlock(b.dwAddress))
                                               return false;
                                       return true;
                                   },
                                   kWaitMs);
}

void CEditorRig::ClearTap() {
    // Counted first: every request recorded after the clear is answered after this.
    m_nAnsweredAtClear = m_emulator.Emulator().Counters().m_nRequestsAnswered;
    m_tap.Clear();
}

std::vector<Bytes> CEditorRig::TakeFrames() {
    std::vector<Bytes> frames;
    // The device answers requests in order: once every request up to the marker has its
    // answer, everything before the marker has been acted on. The window's input worker
    // may send a request of its own after the marker, so the marker need not come last.
    auto markerAt = [&] {
        for (size_t i = frames.size(); i-- > 0;)
            if (IsMarker(frames[i])) return std::optional<size_t>(i);
        return std::optional<size_t>();
    };
    auto acted = [&] {
        frames = m_tap.Messages();
        const std::optional<size_t> at = markerAt();
        if (!at) return false;
        const auto nRequests = std::count_if(frames.begin(), frames.begin() + long(*at) + 1, IsRQ1);
        return m_emulator.Emulator().Counters().m_nRequestsAnswered >= m_nAnsweredAtClear + uint64_t(nRequests);
    };
    // A closed port queues no marker, and then nothing else can be on its way either.
    if (qz::SendRQ1(m_pWindow->MidiOut(), kMarkerDeviceID, qz::kAddrVersion, qz::kVersionSize))
        (void)QTest::qWaitFor(acted, kWaitMs);
    frames = m_tap.Messages();
    ClearTap();
    if (const std::optional<size_t> at = markerAt()) frames.erase(frames.begin() + long(*at));
    return frames;
}

uint32_t DT1Address(const Bytes& f) { return IsDT1(f) ? (uint32_t(f[7]) << 16) | (uint32_t(f[8]) << 8) | f[9] : 0; }

Bytes DT1Data(const Bytes& f) { return IsDT1(f) ? Bytes(f.begin() + 10, f.end() - 2) : Bytes(); }
