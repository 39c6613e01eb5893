#include "ui/monitor/TrafficModel.h"

#include "protocol/wire/MidiDescription.h"

CTrafficModel::CTrafficModel(QObject* pParent) : QAbstractTableModel(pParent) {}

bool CTrafficModel::Shows(const CRow& row) const {
    qz::CMidiDescription d;
    d.eKind = row.eKind;
    d.bLinkPoll = row.bLinkPoll;
    return m_filter.Shows(row.byDirection, d);
}

void CTrafficModel::TrimTo(size_t nKeep) {
    if (m_rows.size() <= nKeep) return;
    const size_t nGone = m_rows.size() - nKeep;
    const uint64_t nNewFirst = m_nFirstSeq + nGone;
    size_t nShownGone = 0;
    while (nShownGone < m_shown.size() && m_shown[nShownGone] < nNewFirst) ++nShownGone;
    if (nShownGone) beginRemoveRows(QModelIndex(), 0, static_cast<int>(nShownGone) - 1);
    m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(nGone));
    m_shown.erase(m_shown.begin(), m_shown.begin() + static_cast<std::ptrdiff_t>(nShownGone));
    m_nFirstSeq = nNewFirst;
    m_nRowsDropped += nGone;
    if (nShownGone) endRemoveRows();
}

void CTrafficModel::Append(const CTrafficTap::CRecord* pRecords, size_t nCount) {
    if (!pRecords || nCount == 0) return;
    if (nCount > m_nCap) {  // only the newest fit at all
        m_nRowsDropped += nCount - m_nCap;
        pRecords += nCount - m_nCap;
        nCount = m_nCap;
    }
    TrimTo(m_nCap - nCount);
    if (!m_bHaveOrigin) {
        m_qwOriginUs = pRecords[0].qwTimeUs;
        m_bHaveOrigin = true;
    }
    size_t nNewShown = 0;
    std::vector<uint64_t> shown;
    for (size_t i = 0; i < nCount; ++i) {
        const CTrafficTap::CRecord& r = pRecords[i];
        const qz::CMidiDescription d = qz::DescribeMidi(r.abyData, r.Stored());
        CRow row;
        row.qwTimeUs = r.qwTimeUs;
        row.wLength = r.wLength;
        row.byDirection = r.byDirection;
        row.eKind = d.eKind;
        row.bLinkPoll = d.bLinkPoll;
        row.bytes = QByteArray(reinterpret_cast<const char*>(r.abyData), static_cast<qsizetype>(r.Stored()));
        const uint64_t nSeq = m_nFirstSeq + m_rows.size();
        if (m_filter.Shows(row.byDirection, d)) {
            shown.push_back(nSeq);
            ++nNewShown;
        }
        m_rows.push_back(std::move(row));
    }
    if (nNewShown == 0) return;
    const int nFirst = static_cast<int>(m_shown.size());
    beginInsertRows(QModelIndex(), nFirst, nFirst + static_cast<int>(nNewShown) - 1);
    m_shown.insert(m_shown.end(), shown.begin(), shown.end());
    endInsertRows();
}

void CTrafficModel::Clear() {
    beginResetModel();
    m_nFirstSeq += m_rows.size();
    m_rows.clear();
    m_shown.clear();
    m_bHaveOrigin = false;
    m_nRowsDropped = 0;
    endResetModel();
}

void CTrafficModel::SetFilter(const CTrafficFilter& filter) {
    beginResetModel();
    m_filter = filter;
    m_shown.clear();
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (Shows(m_rows[i])) m_shown.push_back(m_nFirstSeq + i);
    endResetModel();
}

void CTrafficModel::SetCap(size_t nCap) {
    m_nCap = nCap ? nCap : 1;
    TrimTo(m_nCap);
}

const CTrafficModel::CRow& CTrafficModel::Row(int nRow) const {
    return m_rows[static_cast<size_t>(m_shown[static_cast<size_t>(nRow)] - m_nFirstSeq)];
}

QString CTrafficModel::TimeText(const CRow& row) const {
    const uint64_t us = row.qwTimeUs >= m_qwOriginUs ? row.qwTimeUs - m_qwOriginUs : 0;
    return QString::number(static_cast<double>(us) / 1e6, 'f', 6);
}

namespace {
QString RowText(const CTrafficModel::CRow& row) {
    const auto* p = reinterpret_cast<const uint8_t*>(row.bytes.constData());
    QString s = QString::fromStdString(qz::DescribeMidi(p, static_cast<size_t>(row.bytes.size())).strText);
    if (row.Truncated()) s += QStringLiteral(" [first %1 of %2 bytes]").arg(row.bytes.size()).arg(row.wLength);
    return s;
}

QString RowHex(const CTrafficModel::CRow& row) {
    const auto* p = reinterpret_cast<const uint8_t*>(row.bytes.constData());
    return QString::fromStdString(qz::HexBytes(p, static_cast<size_t>(row.bytes.size())));
}

QString DirectionText(const CTrafficModel::CRow& row) {
    return row.byDirection == CTrafficTap::kIn ? QStringLiteral("In") : QStringLiteral("Out");
}
}  // namespace

QString CTrafficModel::RowLine(int nRow) const {
    const CRow& row = Row(nRow);
    return TimeText(row) + u'\t' + DirectionText(row) + u'\t' + RowText(row) + u'\t' + RowHex(row);
}

int CTrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int CTrafficModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CTrafficModel::data(const QModelIndex& index, int nRole) const {
    if (!index.isValid() || index.row() >= rowCount() || nRole != Qt::DisplayRole) return {};
    const CRow& row = Row(index.row());
    switch (index.column()) {
    case kColTime: return TimeText(row);
    case kColDirection: return DirectionText(row);
    case kColText: return RowText(row);
    case kColHex: return RowHex(row);
    default: return {};
    }
}

QVariant CTrafficModel::headerData(int nSection, Qt::Orientation eOrientation, int nRole) const {
    if (eOrientation != Qt::Horizontal || nRole != Qt::DisplayRole) return {};
    static const char* const kHeaders[kColumns] = {"Time (s)", "Direction", "Message", "Bytes"};
    return nSection >= 0 && nSection < kColumns ? QString::fromLatin1(kHeaders[nSection]) : QVariant();
}
