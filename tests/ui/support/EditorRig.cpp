#include "support/EditorRig.h"

#include <QAbstractButton>
#include <QDialog>
#include <QTest>

#include "protocol/DeviceBlocks.h"
#include "protocol/DeviceImage.h"
#include "protocol/QZ81KTMidiOut.h"
#include "ui/editors/PresetDlg.h"
#include "ui/editors/TCDlg.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

namespace {
constexpr int kWaitMs = 5000;
}

void CFrameTap::OnPeerReceive(const uint8_t* pData, size_t nLength) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.emplace_back(pData, pData + nLength);
    }
    m_emulator.Receive(pData, nLength);
}

std::vector<Bytes> CFrameTap::Frames() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

void CFrameTap::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

int CRigServices::ExecDialog(QDialog& dlg) {
    ++m_nRuns;
    dlg.show();
    dlg.activateWindow();
    (void)QTest::qWaitForWindowActive(&dlg);
    if (m_fnRun) m_fnRun(dlg);
    return dlg.result();
}

CEditorRig::CEditorRig() {
    SetUiServices(&m_services);
    m_driver.SetPeer(m_emulator.Port(), &m_tap);
    if (!m_emulator.Start()) return;
    CUtilQZ81KTDlg::COptions options;
    options.m_bStartTimer = false;
    m_pWindow = std::make_unique<CUtilQZ81KTDlg>(&m_driver, options);
    m_pWindow->show();
    m_bReady = ConnectAndWait();
    m_tap.Clear();
}

CEditorRig::~CEditorRig() {
    m_pWindow.reset();  // closes the ports: nothing reaches the tap after this
    m_driver.SetPeer(m_emulator.Port(), nullptr);
    SetUiServices(nullptr);
}

bool CEditorRig::ConnectAndWait() {
    CDeviceImage& img = m_pWindow->Image();
    FindControl<QAbstractButton>(m_pWindow.get(), IDOK)->click();  // resets the status count
    if (!QTest::qWaitFor([&] { return img.m_bAllPresetsRcvd && img.m_bTimecodeRcvd && img.m_nStatusReplies > 0; },
                         kWaitMs))
        return false;
    // One tick of the link watch brings the link up; the system reply enables the editors.
    m_pWindow->OnTimer();
    QWidget* pEdit = FindControl(m_pWindow.get(), IDC_EDIT_PRESET);
    QWidget* pTc = FindControl(m_pWindow.get(), IDC_TC);
    return QTest::qWaitFor([&] { return pEdit->isEnabled() && pTc->isEnabled(); }, kWaitMs);
}

bool CEditorRig::RunPresetEditor(const std::function<void(CPresetDlg&)>& fn) {
    const int nBefore = m_services.m_nRuns;
    m_services.m_fnRun = [&](QDialog& d) {
        if (auto* p = qobject_cast<CPresetDlg*>(&d)) fn(*p);
    };
    // The button is hidden until the key sequence; a click still reaches its handler.
    FindControl<QAbstractButton>(m_pWindow.get(), IDC_EDIT_PRESET)->click();
    m_services.m_fnRun = nullptr;
    return m_services.m_nRuns > nBefore;
}

bool CEditorRig::RunTimecodeDialog(const std::function<void(CTCDlg&)>& fn) {
    const int nBefore = m_services.m_nRuns;
    m_services.m_fnRun = [&](QDialog& d) {
        if (auto* p = qobject_cast<CTCDlg*>(&d)) fn(*p);
    };
    FindControl<QAbstractButton>(m_pWindow.get(), IDC_TC)->click();
    m_services.m_fnRun = nullptr;
    return m_services.m_nRuns > nBefore;
}

Bytes CEditorRig::DeviceBlock(uint32_t dwAddress) {
    uint8_t b[qz::kMaxReplyData];
    const size_t n = Device().ReadBlock(dwAddress, b, sizeof b);
    return Bytes(b, b + n);
}

Bytes CEditorRig::ImageBlock(uint32_t dwAddress) {
    const qz::CBlockInfo* pInfo = qz::FindBlockByAddress(dwAddress);
    if (!pInfo) return {};
    Bytes b(CDeviceImage::CopySize(pInfo->eBlock));
    m_pWindow->Image().Read(pInfo->eBlock, b.data(), b.size());
    b.resize(static_cast<size_t>(pInfo->nSize));
    return b;
}

bool CEditorRig::SetDeviceBlock(uint32_t dwAddress, const Bytes& data) {
    CQZ81KTMidiOut& out = m_pWindow->MidiOut();
    if (!SendDT1(out, qz::kDefaultDeviceID, dwAddress, data.data(), data.size())) return false;
    if (!QTest::qWaitFor([&] { return DeviceBlock(dwAddress) == data; }, kWaitMs)) return false;
    if (!SendRQ1(out, qz::kDefaultDeviceID, dwAddress, static_cast<uint32_t>(data.size()))) return false;
    const bool bStored = QTest::qWaitFor([&] { return ImageBlock(dwAddress) == data; }, kWaitMs);
    m_tap.Clear();
    return bStored;
}

bool CEditorRig::Reconnect() {
    // Blank the copies first, so that equal blocks can only have come with the new replies.
    CDeviceImage& img = m_pWindow->Image();
    const uint8_t zeros[qz::kMaxReplyData] = {};
    const qz::EBlock blocks[] = {qz::EBlock::System,     qz::EBlock::Timecode,   qz::PresetBlock(0),
                                 qz::PresetBlock(1),     qz::PresetBlock(2),     qz::PresetBlock(3),
                                 qz::PresetBlock(4),     qz::PresetBlock(5),     qz::PresetBlock(6),
                                 qz::PresetBlock(7)};
    for (qz::EBlock e : blocks) img.Write(e, zeros, CDeviceImage::WritableSize(e));
    if (!ConnectAndWait()) return false;
    return QTest::qWaitFor(
        [&] {
            for (qz::EBlock e : blocks) {
                const uint32_t a = qz::BlockInfo(e).dwAddress;
                if (ImageBlock(a) != DeviceBlock(a)) return false;
            }
            return true;
        },
        kWaitMs);
}

std::vector<Bytes> CEditorRig::TakeFrames() {
    const uint64_t nAnswered = Device().Counters().m_nRequestsAnswered;
    auto isMarker = [](const Bytes& f) { return f.size() > 9 && f[6] == qz::kCmdRQ1 && FrameAddress(f) == qz::kAddrVersion; };
    // A closed port sends no marker; then nothing can be on its way either.
    if (SendRQ1(m_pWindow->MidiOut(), qz::kDefaultDeviceID, qz::kAddrVersion, qz::kVersionSize))
        (void)QTest::qWaitFor(
            [&] {
                const std::vector<Bytes> frames = m_tap.Frames();
                return !frames.empty() && isMarker(frames.back()) && Device().Counters().m_nRequestsAnswered > nAnswered;
            },
            kWaitMs);
    std::vector<Bytes> frames = m_tap.Frames();
    m_tap.Clear();
    if (!frames.empty() && isMarker(frames.back())) frames.pop_back();
    return frames;
}

bool IsDT1(const Bytes& f) { return f.size() >= 12 && f[0] == 0xF0 && f[6] == qz::kCmdDT1 && f.back() == 0xF7; }

uint32_t FrameAddress(const Bytes& f) {
    return f.size() < 10 ? 0 : (uint32_t(f[7]) << 16) | (uint32_t(f[8]) << 8) | f[9];
}

Bytes FrameData(const Bytes& f) { return f.size() < 12 ? Bytes() : Bytes(f.begin() + 10, f.end() - 2); }
