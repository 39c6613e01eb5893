#include "ui/widgets/BmpBase.h"

#include <QPainter>

CBmpBase::CBmpBase(QString strResource) : m_strResource(std::move(strResource)) {}

CBmpBase::~CBmpBase() = default;

int CBmpBase::Load() { return Load(QImage(m_strResource)); }

int CBmpBase::Load(const QImage& picture) {
    m_bitmap = QPixmap();
    m_nWidth = 0;
    m_nHeight = 0;
    if (picture.isNull()) return 0;
    m_bitmap = QPixmap::fromImage(picture);
    m_nWidth = m_bitmap.width();
    m_nHeight = m_bitmap.height();
    OnLoaded();
    return 1;
}

void CBmpBase::Draw(QPainter& dc, QPoint pos) const {
    if (!m_bitmap.isNull()) dc.drawPixmap(pos, m_bitmap);
}
