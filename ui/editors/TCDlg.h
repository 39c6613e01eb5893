#pragma once
// "Timecode": the timecode block of the device image on one page of lists and check
// boxes. OK and Apply send the whole block with one data set; Cancel puts back the block
// as it was at the opening or the last Apply.
#include <QDialog>
#include <cstdint>
#include <memory>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/TimecodeBlock.h"

class CDeviceOwner;
class QCheckBox;
class QComboBox;
class QPushButton;
namespace Ui {
class CTCDlg;
}

class CTCDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTCDlg(CDeviceOwner* pMainDlg, QWidget* pParent = nullptr);
    ~CTCDlg() override;

    // OK (also Enter) and Cancel (also Esc and the close box).
    void accept() override;
    void reject() override;

private:
    void LoadControls();
    void SaveControls();
    void OnApply();
    void OnChange();
    // Saves and sends the block; false when the port refused it.
    bool SaveAndSend();

    CDeviceOwner* m_pMainDlg;
    std::unique_ptr<Ui::CTCDlg> m_pUi;
    uint8_t m_savedTimecode[qz::kTimecodeSize] = {};
    QComboBox* m_pList[qz::kTimecodeListCount] = {};
    QCheckBox* m_pCheck[qz::kTimecodeCheckCount] = {};
    QPushButton* m_pApply = nullptr;
    bool m_bLoading = false;  // the controls are being set from the image, not by the operator
};
