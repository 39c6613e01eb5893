#pragma once
// The rows of the MIDI Monitor: one per message taken from the traffic tap, capped (the
// oldest go first and are counted), with the current filter applied as an index of the
// rows it shows. The decoded text is made when a row is shown, not when it arrives.
#include <QAbstractTableModel>
#include <QByteArray>
#include <deque>
#include <vector>

#include "midi/TrafficTap.h"
#include "protocol/wire/TrafficFilter.h"

class CTrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum EColumn { kColTime, kColDirection, kColText, kColHex, kColumns };
    static constexpr size_t kDefaultCap = 100000;

    struct CRow {
        uint64_t qwTimeUs = 0;
        uint16_t wLength = 0;  // the message's full length (the bytes may be cut short)
        uint8_t byDirection = CTrafficTap::kIn;
        qz::EMidiKind eKind = qz::EMidiKind::Invalid;
        bool bLinkPoll = false;
        QByteArray bytes;
        bool Truncated() const { return wLength > bytes.size(); }
    };

    explicit CTrafficModel(QObject* pParent = nullptr);

    void Append(const CTrafficTap::CRecord* pRecords, size_t nCount);
    void Clear();
    void SetFilter(const CTrafficFilter& filter);
    const CTrafficFilter& Filter() const { return m_filter; }
    void SetCap(size_t nCap);

    // Shown rows (after the filter), by their row number in the view.
    const CRow& Row(int nRow) const;
    // "time<TAB>direction<TAB>text<TAB>hex", as copied and saved.
    QString RowLine(int nRow) const;
    // Rows dropped by the cap since the last Clear, and rows held (shown or not).
    uint64_t RowsDropped() const { return m_nRowsDropped; }
    size_t RowsHeld() const { return m_rows.size(); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation eOrientation, int nRole = Qt::DisplayRole) const override;

private:
    bool Shows(const CRow& row) const;
    QString TimeText(const CRow& row) const;
    void TrimTo(size_t nKeep);

    std::deque<CRow> m_rows;
    uint64_t m_nFirstSeq = 0;       // sequence number of m_rows.front()
    std::deque<uint64_t> m_shown;   // sequence numbers of the rows the filter shows
    uint64_t m_qwOriginUs = 0;      // time 0 of the time column: the first row's time
    bool m_bHaveOrigin = false;
    uint64_t m_nRowsDropped = 0;
    size_t m_nCap = kDefaultCap;
    CTrafficFilter m_filter;
};
