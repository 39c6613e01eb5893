#include "ui/widgets/BmpBtnBase.h"

#include <QPainter>

void CBmpBtnBase::OnLoaded() { m_nFrameWidth = m_nWidth / (m_nHighestState + 1); }

void CBmpBtnBase::DrawFrame(QPainter& dc, int n) const {
    if (m_bitmap.isNull() || m_nFrameWidth <= 0) return;
    dc.drawPixmap(QPoint(0, 0), m_bitmap, QRect(n * m_nFrameWidth, 0, m_nFrameWidth, m_nHeight));
}
