#pragma once
// The editors' test bench: the real main window connected to the in-process emulator, a
// tap that records every frame the emulator receives, and services that answer message
// boxes and run each modal dialog through a test's function instead of a modal loop.
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "ui/main/UiServices.h"

class CUtilQZ81KTDlg;
class CPresetDlg;
class CTCDlg;
class QDialog;

using Bytes = std::vector<uint8_t>;

// Records what the program sends and hands it on to the emulator.
class CFrameTap : public CLoopbackPeer {
public:
    explicit CFrameTap(CQZ81KTEmulator& emulator) : m_emulator(emulator) {}
    void OnPeerReceive(const uint8_t* pData, size_t nLength) override;
    void OnPeerReceiveShort(uint32_t dwMsg) override { m_emulator.ReceiveShort(dwMsg); }
    std::vector<Bytes> Frames();
    void Clear();

private:
    CQZ81KTEmulator& m_emulator;
    std::mutex m_mutex;
    std::vector<Bytes> m_frames;
};

class CRigServices : public CUiServices {
public:
    void MessageBox(QWidget*, const QString& strText) override { m_messages << strText; }
    // Shows the dialog and hands it to m_fnRun, which answers it; then the dialog's result.
    int ExecDialog(QDialog& dlg) override;

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
    CQZ81KTEmulator& Device() { return m_emulator.Emulator(); }
    CRigServices& Services() { return m_services; }
    bool IsReady() const { return m_bReady; }

    // Click "Edit Preset" / "TC"; fn gets the open dialog. False when none opened.
    bool RunPresetEditor(const std::function<void(CPresetDlg&)>& fn);
    bool RunTimecodeDialog(const std::function<void(CTCDlg&)>& fn);

    // Writes a block into the device and reads it back into the window's image, as a
    // reply would bring it. dwAddress names the block.
    bool SetDeviceBlock(uint32_t dwAddress, const Bytes& data);
    Bytes DeviceBlock(uint32_t dwAddress);
    Bytes ImageBlock(uint32_t dwAddress);
    // Connect again and wait until every block of the image came fresh from the device.
    bool Reconnect();

    // Every frame the device received since the last call, once it has acted on them all:
    // a request sent behind them comes back first (it is not among the frames).
    std::vector<Bytes> TakeFrames();

private:
    bool ConnectAndWait();

    CLoopbackDriver m_driver;
    CLoopbackEmulator m_emulator{m_driver};
    CFrameTap m_tap{m_emulator.Emulator()};
    CRigServices m_services;
    std::unique_ptr<CUtilQZ81KTDlg> m_pWindow;
    bool m_bReady = false;
};

// A DT1 frame's address (packed 7-bit, as the block table spells it) and data.
uint32_t FrameAddress(const Bytes& frame);
Bytes FrameData(const Bytes& frame);
bool IsDT1(const Bytes& frame);
