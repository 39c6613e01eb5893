#pragma once
// "Service": the product ID write, firmware update mode, the lamp and fan test, the six
// mode switches and the parameter file's Import and Export (the main window's own). The
// test outputs are switched off whenever the dialog goes, however it is closed.
#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>

#include "protocol/wire/DeviceBlocks.h"

class CUtilQZ81KTDlg;
class QCheckBox;
class QLineEdit;
namespace Ui {
class CServiceDlg;
}

class CServiceDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTestToggleCount = 6;  // FAN, POWER, LED1..LED4
    static constexpr int kRefreshMs = 500;

    // bStartTimer: false leaves the refresh to OnTimer calls (tests step it).
    explicit CServiceDlg(CUtilQZ81KTDlg* pMainDlg, QWidget* pParent = nullptr, bool bStartTimer = true);
    // Switches the test outputs off if closing has not done so.
    ~CServiceDlg() override;

    // Every ending (Go, Write, Exit, Esc, the close box) passes here.
    void done(int nResult) override;

    // One refresh of the mode switch field from the main window's control mode byte.
    void OnTimer();

private:
    void NameControls();
    void OnWrite();
    void OnGo();
    void OnCheckMode();
    void OnTestToggle();
    // One data set to the test block; "Write Error!!!" when the port refuses it.
    void SendTestBits(uint8_t byValue, QWidget* pMessageParent);
    void SwitchTestOff(QWidget* pMessageParent);

    CUtilQZ81KTDlg* m_pMainDlg;
    std::unique_ptr<Ui::CServiceDlg> m_pUi;
    QTimer m_timer;
    uint8_t m_byShownSwitches;  // the control mode byte last shown; "none yet" at first
    bool m_bTestSwitchedOff = false;
    QLineEdit* m_pNewID = nullptr;
    QCheckBox* m_pCheckMode = nullptr;
    QCheckBox* m_pToggle[kTestToggleCount] = {};
};
