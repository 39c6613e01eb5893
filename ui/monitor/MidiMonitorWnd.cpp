#include "ui/monitor/MidiMonitorWnd.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "midi/MidiInMsg.h"
#include "ui/main/UiServices.h"
#include "ui/widgets/ControlId.h"

namespace {
template <class T>
T* Named(T* pWidget, int nId, const QString& strAccessible) {
    pWidget->setObjectName(qz::ControlNames(nId).value(0));
    pWidget->setAccessibleName(strAccessible);
    return pWidget;
}
}  // namespace

CMidiMonitorWnd::CMidiMonitorWnd(CTrafficTap& tap, const CMidiInMsg& inPort, QWidget* pParent, bool bStartTimer)
    : QWidget(pParent, Qt::Window), m_tap(tap), m_inPort(inPort), m_model(this), m_buffer(1024) {
    setWindowTitle(QStringLiteral("MIDI Monitor"));
    resize(900, 500);

    m_pHidePolls = Named(new QCheckBox(QStringLiteral("&Hide polls"), this), IDC_MON_HIDE_POLLS,
                         QStringLiteral("Hide polls"));
    m_pHidePolls->setToolTip(QStringLiteral("Hide the 100 ms status and control mode requests and their replies"));
    m_pSysExOnly = Named(new QCheckBox(QStringLiteral("&SysEx only"), this), IDC_MON_SYSEX_ONLY,
                         QStringLiteral("SysEx only"));
    m_pShowIn = Named(new QCheckBox(QStringLiteral("&In"), this), IDC_MON_SHOW_IN, QStringLiteral("Show In"));
    m_pShowOut = Named(new QCheckBox(QStringLiteral("&Out"), this), IDC_MON_SHOW_OUT, QStringLiteral("Show Out"));
    m_pShowIn->setChecked(true);
    m_pShowOut->setChecked(true);
    m_pPause = Named(new QPushButton(QStringLiteral("&Pause"), this), IDC_MON_PAUSE, QStringLiteral("Pause"));
    m_pPause->setCheckable(true);
    auto* pClear = Named(new QPushButton(QStringLiteral("C&lear"), this), IDC_MON_CLEAR, QStringLiteral("Clear"));
    auto* pCopy = Named(new QPushButton(QStringLiteral("&Copy"), this), IDC_MON_COPY, QStringLiteral("Copy"));
    auto* pSaveText = Named(new QPushButton(QStringLiteral("Save as &Text..."), this), IDC_MON_SAVE_TEXT,
                            QStringLiteral("Save as Text"));
    auto* pSaveSyx = Named(new QPushButton(QStringLiteral("Save as .s&yx..."), this), IDC_MON_SAVE_SYX,
                           QStringLiteral("Save as .syx"));

    m_pTable = Named(new QTableView(this), IDC_MON_TABLE, QStringLiteral("MIDI traffic"));
    m_pTable->setModel(&m_model);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pTable->setWordWrap(false);
    // Fixed row heights and no per-row sizing keep 100 000 rows fast.
    m_pTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_pTable->verticalHeader()->setDefaultSectionSize(m_pTable->fontMetrics().height() + 4);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pTable->setColumnWidth(CTrafficModel::kColTime, 90);
    m_pTable->setColumnWidth(CTrafficModel::kColDirection, 60);
    m_pTable->setColumnWidth(CTrafficModel::kColText, 420);

    m_pCounters = Named(new QLabel(this), IDC_MON_COUNTERS, QStringLiteral("Counters"));
    m_pCounters->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_pCounters->setFocusPolicy(Qt::StrongFocus);

    auto* pTop = new QHBoxLayout;
    for (QWidget* w : {static_cast<QWidget*>(m_pHidePolls), static_cast<QWidget*>(m_pSysExOnly),
                       static_cast<QWidget*>(m_pShowIn), static_cast<QWidget*>(m_pShowOut)})
        pTop->addWidget(w);
    pTop->addStretch();
    for (QWidget* w : {static_cast<QWidget*>(m_pPause), static_cast<QWidget*>(pClear), static_cast<QWidget*>(pCopy),
                       static_cast<QWidget*>(pSaveText), static_cast<QWidget*>(pSaveSyx)})
        pTop->addWidget(w);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pTop);
    pLayout->addWidget(m_pTable, 1);
    pLayout->addWidget(m_pCounters);

    for (QCheckBox* c : {m_pHidePolls, m_pSysExOnly, m_pShowIn, m_pShowOut})
        connect(c, &QCheckBox::toggled, this, &CMidiMonitorWnd::ApplyFilter);
    connect(pClear, &QPushButton::clicked, this, &CMidiMonitorWnd::OnClear);
    connect(pCopy, &QPushButton::clicked, this, &CMidiMonitorWnd::OnCopy);
    connect(pSaveText, &QPushButton::clicked, this, &CMidiMonitorWnd::OnSaveText);
    connect(pSaveSyx, &QPushButton::clicked, this, &CMidiMonitorWnd::OnSaveSysEx);
    auto* pCopyAction = new QAction(this);
    pCopyAction->setShortcut(QKeySequence::Copy);
    pCopyAction->setShortcutContext(Qt::WindowShortcut);
    connect(pCopyAction, &QAction::triggered, this, &CMidiMonitorWnd::OnCopy);
    addAction(pCopyAction);

    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(kPollMs);
    connect(m_pTimer, &QTimer::timeout, this, &CMidiMonitorWnd::Poll);
    if (bStartTimer) m_pTimer->start();
    UpdateCounters();
}

CMidiMonitorWnd::~CMidiMonitorWnd() { m_tap.SetReading(false); }

void CMidiMonitorWnd::showEvent(QShowEvent* pEvent) {
    m_tap.SetReading(true);
    QWidget::showEvent(pEvent);
}

void CMidiMonitorWnd::hideEvent(QHideEvent* pEvent) {
    // Nothing is copied while nobody looks; what was taken so far stays in the table.
    m_tap.SetReading(false);
    QWidget::hideEvent(pEvent);
}

void CMidiMonitorWnd::Poll() {
    QScrollBar* pBar = m_pTable->verticalScrollBar();
    const bool bAtEnd = pBar->value() >= pBar->maximum();
    size_t nTaken = 0;
    while (nTaken < kMaxPerPoll) {
        const size_t n = m_tap.Drain(m_buffer.data(), m_buffer.size());
        if (n == 0) break;
        nTaken += n;
        if (m_pPause->isChecked())
            m_nSkippedPaused += n;
        else
            m_model.Append(m_buffer.data(), n);
        if (n < m_buffer.size()) break;
    }
    if (nTaken && bAtEnd && !m_pPause->isChecked()) m_pTable->scrollToBottom();
    UpdateCounters();
}

void CMidiMonitorWnd::ApplyFilter() {
    CTrafficFilter f;
    f.bHidePolls = m_pHidePolls->isChecked();
    f.bSysExOnly = m_pSysExOnly->isChecked();
    f.bShowIn = m_pShowIn->isChecked();
    f.bShowOut = m_pShowOut->isChecked();
    m_model.SetFilter(f);
    m_pTable->scrollToBottom();
}

void CMidiMonitorWnd::OnClear() {
    m_model.Clear();
    m_nSkippedPaused = 0;
    UpdateCounters();
}

void CMidiMonitorWnd::OnCopy() {
    QModelIndexList rows = m_pTable->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QString strText;
    for (const QModelIndex& i : rows) strText += m_model.RowLine(i.row()) + u'\n';
    if (!strText.isEmpty()) QApplication::clipboard()->setText(strText);
}

bool CMidiMonitorWnd::WriteFile(const QString& strPath, const QByteArray& data) {
    QFile file(strPath);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size() && file.flush())
        return true;
    qz::UiServices().MessageBox(this, QStringLiteral("Cannot write %1").arg(strPath));
    return false;
}

void CMidiMonitorWnd::OnSaveText() {
    const QString strPath = qz::UiServices().SaveFileName(this, QStringLiteral("Text (*.txt)"), QStringLiteral("txt"));
    if (strPath.isEmpty()) return;
    QString strText;
    for (int i = 0; i < m_model.rowCount(); ++i) strText += m_model.RowLine(i) + u'\n';
    WriteFile(strPath, strText.toUtf8());
}

// The shown System Exclusive messages, back to back, exactly as they went over the port.
void CMidiMonitorWnd::OnSaveSysEx() {
    const QString strPath = qz::UiServices().SaveFileName(this, QStringLiteral("SysEx (*.syx)"), QStringLiteral("syx"));
    if (strPath.isEmpty()) return;
    QByteArray data;
    int nCut = 0;
    for (int i = 0; i < m_model.rowCount(); ++i) {
        const CTrafficModel::CRow& row = m_model.Row(i);
        if (row.bytes.isEmpty() || static_cast<uint8_t>(row.bytes[0]) != 0xF0) continue;
        if (row.Truncated()) {
            ++nCut;
            continue;
        }
        data += row.bytes;
    }
    if (!WriteFile(strPath, data)) return;
    if (nCut)
        qz::UiServices().MessageBox(this, QStringLiteral("%1 System Exclusive messages longer than %2 bytes were kept "
                                                     "only in part and are not in the file.")
                                          .arg(nCut)
                                          .arg(CTrafficTap::kRecordBytes));
}

QString CMidiMonitorWnd::CountersText() const {
    return QStringLiteral("In %1/s, Out %2/s | rows %3 shown of %4, %5 dropped (oldest) | records dropped %6 | "
                          "skipped while paused %7 | input buffers lost %8 | oversize SysEx dropped %9")
        .arg(m_dRate[CTrafficTap::kIn], 0, 'f', 0)
        .arg(m_dRate[CTrafficTap::kOut], 0, 'f', 0)
        .arg(m_model.rowCount())
        .arg(m_model.RowsHeld())
        .arg(m_model.RowsDropped())
        .arg(m_tap.DroppedTotal())
        .arg(m_nSkippedPaused)
        .arg(m_inPort.m_nDropped.load())
        .arg(m_inPort.m_nSysExDropped.load());
}

void CMidiMonitorWnd::UpdateCounters() {
    const uint64_t now = CTrafficTap::NowUs();
    if (m_qwRateStartUs == 0 || now - m_qwRateStartUs >= 1000000) {
        for (int d = 0; d < 2; ++d) {
            const uint64_t nSeen = m_tap.Seen(static_cast<CTrafficTap::EDirection>(d));
            if (m_qwRateStartUs) m_dRate[d] = static_cast<double>(nSeen - m_nRateStartSeen[d]) * 1e6 / static_cast<double>(now - m_qwRateStartUs);
            m_nRateStartSeen[d] = nSeen;
        }
        m_qwRateStartUs = now;
    }
    m_pCounters->setText(CountersText());
}
