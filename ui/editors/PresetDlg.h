#pragma once
// "Preset Parameter": the eight presets of the device image, one at a time on one set of
// controls chosen by a row of tabs. OK and Apply send all eight presets and the system
// block; Cancel puts back the presets as they were at the opening or the last Apply.
#include <QDialog>
#include <cstdint>
#include <memory>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/PresetFields.h"

class CDeviceOwner;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabBar;
namespace Ui {
class CPresetDlg;
}

class CPresetDlg : public QDialog {
    Q_OBJECT
public:
    // Starts on preset nEditPreset (the last one when beyond).
    CPresetDlg(CDeviceOwner* pMainDlg, int nEditPreset, QWidget* pParent = nullptr);
    ~CPresetDlg() override;

    // OK (also Enter) and Cancel (also Esc and the close box).
    void accept() override;
    void reject() override;

private:
    void OnInitDialog();
    void LoadControls();
    void SaveControls();
    void UpdateEnables();
    void RefreshPacketIds();
    void OnTabChange(int nTab);
    void OnApply();
    void OnChange();
    // Saves, sends the eight presets and the system block, rebuilds the summary lines;
    // false when the port refused any of the frames.
    bool SaveAndSend();

    CDeviceOwner* m_pMainDlg;
    int m_nEditPreset;  // the preset of the tab shown
    std::unique_ptr<Ui::CPresetDlg> m_pUi;
    uint8_t m_savedPresets[qz::kPresetCount][qz::kPresetSize] = {};
    QComboBox* m_pList[qz::kPresetListCount] = {};
    QLineEdit* m_pHex[qz::kPresetHexCount] = {};
    QTabBar* m_pTab = nullptr;
    QPushButton* m_pApply = nullptr;
    bool m_bLoading = false;  // the controls are being set from the image, not by the operator
};
