#pragma once
// The editors' test bench: the real main window connected to the in-process emulator, a
// tap that records every frame the emulator receives, and services that answer message
// boxes and hand each modal dialog to the test instead of running a modal loop.
#include <QDialog>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "ui/main/UiServices.h"

class CUtilQZ81KTDlg;
using Bytes = std::vector<uint8_t>;

// Records what the program sends and hands it on to the emulator.
class CFrameTap : public CLoopbackPeer {
public:
    explicit CFrameTap(CQZ81KTEmulator& emulator) : m_emulator(emulator) {}
    void OnPeerReceive(const uint8_t* pData, size_t nLength) override;
    void OnPeerReceiveShort(uint32_t dwMsg) override { m_emulator.ReceiveShort(dwMsg); }
    std::vector<Bytes> Take();  // and forget

private:
    CQZ81KTEmulator& m_emulator;
    std::mutex m_mutex;
    std::vector<Bytes> m_frames;
};

class CRigServices : public CUiServices {
public:
    void MessageBox(QWidget*, const QString& strText) override { m_messages << strText; }
    int ExecDialog(QDialog& dlg) override;  // shows it, hands it to m_fnRun, returns its result

    QStringList m_messages;
    std::function<void(QDialog&)> m_fnRun;
    int m_nRuns = 0;
};

class CEditorRig {
public:
    // Connected, every block received and the link up, so both editor buttons work.
    CEditorRig();
    ~CEditorRig();

    CUtilQZ81KTDlg& Window() { return *m_pWindow; }
    QStringList Messages() const { return m_services.m_messages; }
    bool IsReady() const { return m_bReady; }

    // Clicks the window's button (IDC_EDIT_PRESET, IDC_TC); fn gets the open dialog.
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
    bool ConnectAndWait();

    CLoopbackDriver m_driver;
    CLoopbackEmulator m_emulator{m_driver};
    CFrameTap m_tap{m_emulator.Emulator()};
    CRigServices m_services;
    std::unique_ptr<CUtilQZ81KTDlg> m_pWindow;
    bool m_bReady = false;
};

// A DT1 frame's packed address and data; both empty or 0 for anything else.
uint32_t DT1Address(const Bytes& frame);
Bytes DT1Data(const Bytes& frame);
