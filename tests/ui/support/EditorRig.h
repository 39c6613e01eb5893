#pragma once
// The editors' test bench: the real main window (its dialog seams not replaced)
// connected to the in-process emulator through the window tests' tap, with their
// services answering message boxes and handing each modal dialog to the test.
#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "support/WindowHarness.h"

using Bytes = std::vector<uint8_t>;

class CEditorRig {
public:
    // Connected, every block received and the link up, so both editor buttons work (and
    // "For Service" in service mode).
    explicit CEditorRig(bool bServiceMode = false);
    ~CEditorRig();

    CUtilQZ81KTDlg& Window() { return *m_pWindow; }
    QStringList Messages() const { return m_services.m_messages; }
    CTestServices& Services() { return m_services; }
    CQZ81KTEmulator& Emulator() { return m_emulator.Emulator(); }
    bool IsReady() const { return m_bReady; }

    // Clicks the window's button (IDC_EDIT_PRESET, IDC_TC, IDC_FOR_SERVICE); fn gets the open dialog.
    // False when no dialog of that class opened.
    template <class TDlg>
    bool Run(int nButtonId, const std::function<void(TDlg&)>& fn) {
        bool bRan = false;
        Click(nButtonId, [&](QDialog& d) {
            if (auto* p = qobject_cast<TDlg*>(&d)) {
                bRan = true;
                fn(*p);
            }
        });
        return bRan;
    }

    // Writes a block into the device and requests it back into the window's image.
    bool SetDeviceBlock(uint32_t dwAddress, const Bytes& data);
    Bytes DeviceBlock(uint32_t dwAddress);
    Bytes ImageBlock(uint32_t dwAddress);
    // Connect again; true once every editable block of the image came fresh from the device.
    bool Reconnect();
    // The frames the device received since the last call, once it has acted on them all
    // (a request queued behind them has been answered; it is not among them).
    std::vector<Bytes> TakeFrames();

private:
    void Click(int nButtonId, const std::function<void(QDialog&)>& fn);
    void ClearTap();
    bool ConnectAndWait();

    CLoopbackDriver m_driver;
    CLoopbackEmulator m_emulator{m_driver};
    CTapPeer m_tap{m_emulator.Emulator()};
    CTestServices m_services;
    std::unique_ptr<CUtilQZ81KTDlg> m_pWindow;
    bool m_bReady = false;
    uint64_t m_nAnsweredAtClear = 0;  // the device's answers when the tap was last cleared
};

// A DT1 frame's packed address and data; both empty or 0 for anything else.
uint32_t DT1Address(const Bytes& frame);
Bytes DT1Data(const Bytes& frame);
