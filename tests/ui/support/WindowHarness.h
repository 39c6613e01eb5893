#pragma once
// The real main window on a loopback driver, against the in-process emulator. The
// emulator's pair is tapped: every frame the window sends is recorded and then handed
// to the emulator. The window's timer is stopped; tests step ticks by call. Replies can
// also be injected as if the device had sent them.
#include <QAbstractButton>
#include <QtTest>
#include <atomic>
#include <memory>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceBlocks.h"
#include "support/RecordingPeer.h"
#include "support/TestServices.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/ControlId.h"

// The window with its three dialog seams counted.
class CGateWindow : public CUtilQZ81KTDlg {
public:
    using CUtilQZ81KTDlg::CUtilQZ81KTDlg;
    int m_nPresetEditorRuns = 0, m_nTimecodeRuns = 0, m_nServiceRuns = 0;

private:
    void RunPresetEditor() override { ++m_nPresetEditorRuns; }
    void RunTimecodeDialog() override { ++m_nTimecodeRuns; }
    void RunServiceDialog() override { ++m_nServiceRuns; }
};

// Records what the window sends and passes it on to the emulator.
class CTapPeer : public CRecordingPeer {
public:
    explicit CTapPeer(CQZ81KTEmulator& emulator) : m_emulator(emulator) {}
    void OnPeerReceive(const uint8_t* pData, size_t nLength) override {
        CRecordingPeer::OnPeerReceive(pData, nLength);
        m_emulator.Receive(pData, nLength);
    }

private:
    CQZ81KTEmulator& m_emulator;
};

class CWindowHarness {
public:
    using Bytes = std::vector<uint8_t>;

    // Extra port pairs (silent peers) are added before the emulator's pair.
    explicit CWindowHarness(bool bServiceMode = false, const std::vector<std::string>& extraPorts = {});
    ~CWindowHarness();

    // Builds the window afresh on another driver (not owned; outlives the harness's window).
    void UseDriver(CMidiDriver* pDriver);

    CGateWindow& Window() { return *m_pWindow; }
    void DestroyWindow() { m_pWindow.reset(); }
    CDeviceImage& Image() { return m_pWindow->Image(); }
    CLoopbackDriver& Driver() { return m_driver; }
    CQZ81KTEmulator& Emulator() { return m_emulator.Emulator(); }
    uint32_t EmulatorPort() const { return m_emulator.Port(); }
    CTapPeer& Tap() { return *m_pTap; }

    template <class T = QWidget>
    T* Control(int nId) {
        return qz::FindControl<T>(m_pWindow.get(), nId);
    }
    QString Text(int nId);
    CBmpButton* Lamp(int nId) { return Control<CBmpButton>(nId); }
    void Click(int nId);

    // Clicks Connect and waits until the emulator's answers to the request-all sequence
    // are in the image (status included).
    void ConnectAndWaitImage();
    // ConnectAndWaitImage, then the tick that brings the link up.
    void ConnectAndLink();
    void Tick(int n = 1);

    // Sends a reply into the window's input port as the device would, and waits until
    // the nPosts pieces of work it posts to the window have been handled (with none, a
    // status reply is waited for by its counter).
    void InjectReply(uint32_t dwAddress, const Bytes& data, int nPosts = 1);
    void InjectStatus(const Bytes& status, int nPosts = 1) { InjectReply(qz::kAddrStatus, status, nPosts); }
    Bytes Block(qz::EBlock eBlock);  // the image's copy

    // How many pieces of work from the input worker the window has handled.
    int Handled() const { return m_counter.m_nHandled.load(); }

    // Frames the window sent since the last ClearSent.
    std::vector<Bytes> Sent() { return m_pTap->Messages(); }
    void ClearSent() { m_pTap->Clear(); }

    CTestServices m_services;

private:
    // Counts the work the input worker hands to the window.
    class CEventCounter : public QObject {
    public:
        bool eventFilter(QObject*, QEvent* pEvent) override;
        std::atomic<int> m_nHandled{0};
    };

    CLoopbackDriver m_driver;
    std::vector<std::unique_ptr<CRecordingPeer>> m_extraPeers;  // before the emulator's pair
    CLoopbackEmulator m_emulator;
    std::unique_ptr<CTapPeer> m_pTap;
    bool m_bServiceMode = false;
    std::unique_ptr<CGateWindow> m_pWindow;
    CEventCounter m_counter;
};

// An RQ1 frame for a block, as the window sends it.
CWindowHarness::Bytes RequestFrame(uint32_t dwAddress, uint32_t dwSize);
