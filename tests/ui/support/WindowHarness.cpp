#include "support/WindowHarness.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "protocol/wire/DeviceFrames.h"
#include "ui/main/TsanHandOver.h"
#include "ui/main/WindowEvent.h"

namespace {
std::vector<std::unique_ptr<CRecordingPeer>> AddExtraPorts(CLoopbackDriver& driver,
                                                           const std::vector<std::string>& names) {
    std::vector<std::unique_ptr<CRecordingPeer>> peers;
    for (const std::string& strName : names) {
        peers.push_back(std::make_unique<CRecordingPeer>());
        driver.AddPortPair(strName, peers.back().get());
    }
    return peers;
}
}  // namespace

bool CWindowHarness::CEventCounter::eventFilter(QObject*, QEvent* pEvent) {
    if (qz::HandedOverType(pEvent) == CWindowEvent::EventType()) ++m_nHandled;
    return false;
}

CWindowHarness::CWindowHarness(bool bServiceMode, const std::vector<std::string>& extraPorts)
    : m_extraPeers(AddExtraPorts(m_driver, extraPorts)), m_emulator(m_driver) {
    m_pTap = std::make_unique<CTapPeer>(m_emulator.Emulator());
    m_driver.SetPeer(m_emulator.Port(), m_pTap.get());
    m_emulator.Start();
    m_bServiceMode = bServiceMode;
    UseDriver(&m_driver);
}

void CWindowHarness::UseDriver(CMidiDriver* pDriver) {
    m_pWindow.reset();
    CUtilQZ81KTDlg::COptions options;
    options.m_bServiceMode = m_bServiceMode;
    options.m_bStartTimer = false;
    m_pWindow = std::make_unique<CGateWindow>(pDriver, options);
    m_pWindow->installEventFilter(&m_counter);
    m_pWindow->show();
}

CWindowHarness::~CWindowHarness() {
    m_pWindow.reset();
    m_driver.SetPeer(m_emulator.Port(), nullptr);
    m_emulator.Stop();
    for (size_t i = 0; i < m_extraPeers.size(); ++i) m_driver.SetPeer(static_cast<uint32_t>(i), nullptr);
}

QString CWindowHarness::Text(int nId) {
    if (auto* pEdit = Control<QLineEdit>(nId)) return pEdit->text();
    if (auto* pButton = Control<QAbstractButton>(nId)) return pButton->text();
    return QString();
}

void CWindowHarness::Click(int nId) { QTest::mouseClick(Control(nId), Qt::LeftButton); }

void CWindowHarness::ConnectAndWaitImage() {
    Click(IDOK);
    CDeviceImage& img = Image();
    // Status last: the request-all sequence asks for it after everything else.
    QTRY_VERIFY_WITH_TIMEOUT(img.m_bAllPresetsRcvd.load() && img.m_nStatusReplies.load() > 0, 5000);
    QCoreApplication::processEvents();
}

void CWindowHarness::ConnectAndLink() {
    ConnectAndWaitImage();
    Tick();
    QVERIFY(Image().m_bLinkUp.load());
}

void CWindowHarness::Tick(int n) {
    for (int i = 0; i < n; ++i) m_pWindow->OnTimer();
}

void CWindowHarness::InjectReply(uint32_t dwAddress, const Bytes& data, int nPosts) {
    uint8_t frame[qz::kDT1Overhead + qz::kMaxDT1Data];
    size_t n = qz::BuildDT1(frame, sizeof frame, qz::kDefaultDeviceID, dwAddress, data.data(), data.size());
    int nStatusBefore = Image().m_nStatusReplies.load();
    int nHandledBefore = m_counter.m_nHandled.load();
    QVERIFY(m_driver.PeerSend(m_emulator.Port(), frame, n));
    if (nPosts > 0)
        QTRY_VERIFY(m_counter.m_nHandled.load() >= nHandledBefore + nPosts);
    else if (dwAddress == qz::kAddrStatus)
        QTRY_VERIFY(Image().m_nStatusReplies.load() > nStatusBefore);
}

CWindowHarness::Bytes CWindowHarness::Block(qz::EBlock eBlock) {
    Bytes b(CDeviceImage::CopySize(eBlock));
    Image().Read(eBlock, b.data(), b.size());
    return b;
}

CWindowHarness::Bytes RequestFrame(uint32_t dwAddress, uint32_t dwSize) {
    uint8_t frame[qz::kRQ1Length];
    qz::BuildRQ1(frame, qz::kDefaultDeviceID, dwAddress, dwSize);
    return CWindowHarness::Bytes(frame, frame + sizeof frame);
}
