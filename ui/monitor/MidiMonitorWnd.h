#pragma once
// "MIDI Monitor": a top-level window beside the panel that lists every message the panel
// sends and receives, taken from the traffic tap by a timer on the interface thread.
// Filters, pause, clear, copy, save as text or as a .syx file of the System Exclusive
// bytes, and the counters of everything that was not shown or was lost.
#include <QWidget>
#include <vector>

#include "midi/TrafficTap.h"
#include "ui/monitor/TrafficModel.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class CMidiInMsg;

class CMidiMonitorWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPollMs = 50;
    static constexpr size_t kMaxPerPoll = 20000;  // bounds one timer run under a flood

    // tap and input port must outlive the window. The tap is read while it is shown.
    CMidiMonitorWnd(CTrafficTap& tap, const CMidiInMsg& inPort, QWidget* pParent = nullptr, bool bStartTimer = true);
    ~CMidiMonitorWnd() override;

    // One run of the timer: takes what the tap holds into the table. Tests call it.
    void Poll();
    CTrafficModel& Model() { return m_model; }
    QTableView* Table() const { return m_pTable; }
    QString CountersText() const;

protected:
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;

private:
    void ApplyFilter();
    void OnClear();
    void OnCopy();
    void OnSaveText();
    void OnSaveSysEx();
    void UpdateCounters();
    bool WriteFile(const QString& strPath, const QByteArray& data);

    CTrafficTap& m_tap;
    const CMidiInMsg& m_inPort;
    CTrafficModel m_model;
    std::vector<CTrafficTap::CRecord> m_buffer;
    QTableView* m_pTable = nullptr;
    QCheckBox* m_pHidePolls = nullptr;
    QCheckBox* m_pSysExOnly = nullptr;
    QCheckBox* m_pShowIn = nullptr;
    QCheckBox* m_pShowOut = nullptr;
    QPushButton* m_pPause = nullptr;
    QLabel* m_pCounters = nullptr;
    QTimer* m_pTimer = nullptr;
    uint64_t m_nSkippedPaused = 0;
    // Messages per second each way, from the tap's counters over the last second.
    uint64_t m_qwRateStartUs = 0;
    uint64_t m_nRateStartSeen[2] = {};
    double m_dRate[2] = {};
};
