#include "ui/widgets/BmpButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "ui/widgets/BmpBtnBase.h"

CBmpButton::CBmpButton(QWidget* pParent) : QWidget(pParent) {}

int CBmpButton::Highest() const { return m_pStrip ? m_pStrip->m_nHighestState : 0; }

int CBmpButton::SetState(int n) {
    if (!m_pStrip) return 0;
    const int nState = std::clamp(n, 0, Highest());
    if (nState == m_nState) return 1;  // the blink step sets most lamps as they are
    m_nState = nState;
    update();
    return 1;
}

void CBmpButton::paintEvent(QPaintEvent*) {
    if (!m_pStrip) return;
    QPainter dc(this);
    m_pStrip->DrawFrame(dc, m_nState);
}

void CBmpButton::mousePressEvent(QMouseEvent* pEvent) {
    if (m_bInputOff || pEvent->button() != Qt::LeftButton) return QWidget::mousePressEvent(pEvent);
    int nHighest = Highest();
    if (m_bToggleMode)
        SetState(nHighest == 1 ? 1 - m_nState : (m_nState + 1 > nHighest ? 0 : m_nState + 1));
    else
        SetState(nHighest == 1 ? 1 : m_nState + 1);  // Qt grabs the mouse until the release
    QWidget::mousePressEvent(pEvent);
}

void CBmpButton::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (!m_bInputOff && !m_bToggleMode && pEvent->button() == Qt::LeftButton)
        SetState(Highest() == 1 ? 0 : (m_nState - 1) ^ 2);
    QWidget::mouseReleaseEvent(pEvent);
}
