#pragma once
// The program's main window: port choice and connection, the 100 ms link watch, the
// status display and the everyday device commands. Its device session holds the ports,
// the device image and the link watch; the reply handlers' hooks reach the window
// through the session's listener, and the editors reach the image and the output port
// through the window.
//
// One file per concern: UtilQZ81KTDlgConnection.cpp (start-up, ports, link watch,
// control enabling, shutdown), UtilQZ81KTDlgDisplay.cpp (status display, lamps),
// UtilQZ81KTDlgCommands.cpp (device commands and the dialog gates),
// UtilQZ81KTDlgParameterFile.cpp (export and import of the parameter file).
#include <QDialog>
#include <QHash>
#include <QImage>
#include <QString>
#include <future>
#include <memory>
#include <span>

#include "midi/MidiDevList.h"
#include "midi/PortWatch.h"
#include "midi/TrafficTap.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/device/DeviceSession.h"
#include "resources/resource.h"
#include "ui/main/KeyWatcher.h"
#include "ui/main/WindowEvent.h"

class QAbstractButton;
class QAction;
class QComboBox;
class QLineEdit;
class QTimer;
class CBmpBtnBase;
class CBmpButton;
class CMidiMonitorWnd;
namespace Ui {
class CUtilQZ81KTDlg;
}

struct CMainWindowOptions {
    bool m_bServiceMode = false;
    bool m_bStartTimer = true;  // tests leave it stopped and call OnTimer
};

class CUtilQZ81KTDlg : public QDialog, public CDeviceOwner {
    Q_OBJECT
public:
    using COptions = CMainWindowOptions;

    // The preset radio buttons, preset 0 first (there is no 1089).
    static constexpr int kPresetIds[qz::kPresetCount] = {IDC_PRESET0, IDC_PRESET1, IDC_PRESET2, IDC_PRESET3,
                                                         IDC_PRESET4, IDC_PRESET5, IDC_PRESET6, IDC_PRESET7};

    // Lamp states (frames of the strip).
    enum ELamp { kLampOff = 0, kLampFirst = 1, kLampSecond = 2, kLampBoth = 3, kLampLink = 4 };

    // pDriver (not owned, must outlive the window): the MIDI ports; null: the default.
    explicit CUtilQZ81KTDlg(CMidiDriver* pDriver = nullptr, const COptions& options = COptions(),
                            QWidget* pParent = nullptr);
    // Stops and closes both ports before any widget goes.
    ~CUtilQZ81KTDlg() override;

    // CDeviceOwner, for the editors on the window's thread. The last two may also be
    // called on another thread: they are then posted to the window's thread and return.
    CDeviceImage& Image() override { return m_session.Image(); }
    CQZ81KTMidiOut& MidiOut() override { return m_session.MidiOut(); }
    void PostReplyNotify(int wParam, int lParam) override;
    void UpdatePresetLine(int nPreset) override;
    void UpdateControlEnable() override;

    // The watch behind the port lists, for whoever can give it a change source.
    CPortWatch& PortWatch() { return m_portWatch; }

    // The service dialog's "Go": fixed update mode frame, link dropped, display blanked.
    void EnterUpdateMode();
    void ClearPresetLines();
    // The service dialog's "Export" and "Import": file dialog, then the parameter file.
    void OnParameterExport();
    void OnParameterImport();
    CQZ81KTMidiIn& MidiIn() { return m_session.MidiIn(); }
    bool IsServiceMode() const { return m_session.Image().m_bServiceMode.load(); }
    // The preset the editor opens on: the device's current one, set as the editor opens.
    int EditPreset() const { return m_nEditPreset; }

    // One 100 ms tick; the timer calls it, tests call it directly.
    void OnTimer();
    // Lists the ports now and acts on a change as the tick does when the port watch
    // reports one (tests call it; the window's watch runs only with its timer).
    void CheckPorts();
    bool ReconnectsAutomatically() const;

    // The control with the ID (resources/resource.h), or null.
    QWidget* Control(int nId) const;
    // "Version : " and the program's four-number version.
    QString AboutText() const;
    const CKeyWatcher& KeyWatcher() const { return m_keyWatcher; }
    // The MIDI Monitor window (context menu, Ctrl+M): made on first use, then shown and raised.
    CMidiMonitorWnd* ShowMonitor();
    CMidiMonitorWnd* Monitor() const { return m_pMonitor; }
    CTrafficTap& TrafficTap() { return m_session.Tap(); }

signals:
    // The About entry (context menu, F1) was chosen; the application shows the box.
    void AboutRequested(const QString& strVersionText);

protected:
    bool event(QEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;

private:
    // The session's listener: the reply handlers' hooks, posted to the window's thread
    // from the input worker. A member rather than the window itself: the worker must
    // never dispatch through the window's own virtual table, which its destructor
    // rewrites while the ports are still being stopped. The session's events are not
    // used: the window acts on Tick's result and on the port lists itself.
    class CSessionHooks : public CSessionListener {
    public:
        explicit CSessionHooks(CUtilQZ81KTDlg& window) : m_window(window) {}
        void OnSessionEvent(const CSessionEvent&) override {}
        void OnReplyNotify(int wParam, int lParam) override {
            m_window.Post(CWindowEvent::kReplyNotify, wParam, lParam);
        }
        void OnPresetLine(int nPreset) override { m_window.Post(CWindowEvent::kPresetLine, nPreset, 0); }
        void OnControlEnable() override { m_window.Post(CWindowEvent::kControlEnable, 0, 0); }

    private:
        CUtilQZ81KTDlg& m_window;
    };
    // Hands work to the window's thread (from any thread).
    void Post(CWindowEvent::EKind eKind, int wParam, int lParam);

    // Connection and link watch.
    void OnInitDialog();
    // The cached frames and indicators of the fields, radios and check boxes, and the
    // display fonts fitted to their fields.
    void SetUpDrawing();
    void FillPortLists();
    void ShowPortList(QComboBox* pCombo, const std::vector<std::string>& names,
                      const std::vector<qz::CPortDevice>& devices, int nSelect);
    void DescribeCurrentPort(QComboBox* pCombo);
    void OnScan();
    void OnConnect();
    void StopPorts();
    // The image's link state, the link watch's counts and the frame-rate buttons' count.
    void ResetLink();
    void DropLinkDisplay();
    // Ports that come and go: the lists follow, each keeping the name the operator chose;
    // the link drops when its ports vanish and comes back with them.
    void OnPortListsChanged();
    void ApplyControlEnable();

    // Status display.
    void OnReplyNotify(int wParam, int lParam);
    void BlankDisplay();
    void ShowIdentity();
    void ShowSystem();
    void ShowStatus(int nMask);
    void ShowControlMode();
    void BlinkStep();
    void SetLamp(CBmpButton* pLamp, int nState);
    void ResetLamps();
    void SetText(int nId, const QString& str);
    void SetRadioGroup(std::span<const int> ids, int nSelected);
    void SetCheck(int nId, int nState);
    void EnableRateButtons(bool bEnable);
    bool RateButtonsEnabled() const;

    // Commands.
    void ConnectCommands();
    void OnSystemByte(int nOffset, int nValue);
    int SendSystemBlock();
    void OnFrameRate(int nValue);
    void OnWriteFlash();
    void OnFactoryReset();
    void OnEditPreset();
    void OnTimecode();
    void OnForService();
    bool CheckLinkUp();
    // The dialogs behind the three gates; each is filled by the issue that builds it.
    virtual void RunPresetEditor();
    virtual void RunTimecodeDialog();
    virtual void RunServiceDialog();

    void ShowMessage(const QString& strText);
    QAbstractButton* Button(int nId) const;
    void Enable(int nId, bool bEnable);

    // The hooks before the session: its input worker calls them until its ports close.
    CSessionHooks m_sessionHooks{*this};
    // Ports, device image, traffic tap and link watch. The window's thread ticks the
    // link watch and runs every session operation.
    CDeviceSession m_session;
    CMidiInDevList m_inPorts;
    CMidiOutDevList m_outPorts;
    CPortWatch m_portWatch;
    uint32_t m_nPortGeneration = 0;
    QString m_strWantedIn, m_strWantedOut;  // the operator's choice, kept across list changes
    QString m_strLinkedIn, m_strLinkedOut;  // the ports of the last successful Connect
    bool m_bLinkedGone = false;             // they vanished; waiting for them to come back
    QAction* m_pReconnectAction = nullptr;

    // The window's pictures (front panel, lamp strip, icon), decoded on a worker while
    // the widgets are built.
    struct CArt {
        QImage panel, lamps, icon;
    };
    std::future<CArt> m_art;
    std::unique_ptr<Ui::CUtilQZ81KTDlg> m_pUi;
    QString m_strFileVersion;
    // Window thread only. System displays in a row without a frame-rate lock while the
    // rate buttons are disabled; five bring them back.
    int m_nRateEnableCount = 0;
    int m_nEditPreset = 0;
    int m_nBlinkTicks = 0;
    bool m_bSlowBlinkOn = false;
    bool m_bFastBlinkOn = false;
    int m_nLed1State = 0;
    int m_nLed2State = 0;
    std::unique_ptr<CBmpBtnBase> m_ledBitmap;
    CBmpButton* m_pLed1 = nullptr;
    CBmpButton* m_pLed2 = nullptr;
    CBmpButton* m_pLinkLed = nullptr;
    QWidget* m_presetRadio[qz::kPresetCount] = {};
    mutable QHash<int, QWidget*> m_controls;  // Control's lookups; the widgets live as long as the window
    QTimer* m_pTimer = nullptr;
    QAction* m_pAboutAction = nullptr;
    CMidiMonitorWnd* m_pMonitor = nullptr;  // a child top-level window; deleted before the tap goes
    CKeyWatcher m_keyWatcher;
    bool m_bStartTimer = true;
};
