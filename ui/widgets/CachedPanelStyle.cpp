#include "ui/widgets/CachedPanelStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QStyleFactory>
#include <QStyleOptionFrame>

CCachedPanelStyle::CCachedPanelStyle(QObject* pParent) : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {
    setParent(pParent);
}

void CCachedPanelStyle::drawPrimitive(PrimitiveElement eElement, const QStyleOption* pOption, QPainter* pPainter,
                                      const QWidget* pWidget) const {
    const auto* pFrame = qstyleoption_cast<const QStyleOptionFrame*>(pOption);
    if (eElement != PE_PanelLineEdit || !pFrame || pOption->rect.isEmpty()) {
        QProxyStyle::drawPrimitive(eElement, pOption, pPainter, pWidget);
        return;
    }
    const qreal dpr = pPainter->device()->devicePixelRatio();
    const QString strKey = QStringLiteral("qz81kt-panel:%1x%2:%3:%4:%5:%6:%7")
                               .arg(pOption->rect.width())
                               .arg(pOption->rect.height())
                               .arg(static_cast<uint>(pOption->state))
                               .arg(pOption->palette.cacheKey())
                               .arg(pFrame->lineWidth)
                               .arg(static_cast<int>(pOption->direction))
                               .arg(dpr);
    QPixmap panel;
    if (!QPixmapCache::find(strKey, &panel)) {
        panel = QPixmap(pOption->rect.size() * dpr);
        panel.setDevicePixelRatio(dpr);
        panel.fill(Qt::transparent);
        QStyleOptionFrame atOrigin(*pFrame);
        atOrigin.rect.moveTopLeft(QPoint(0, 0));
        QPainter painter(&panel);
        QProxyStyle::drawPrimitive(eElement, &atOrigin, &painter, pWidget);
        painter.end();
        QPixmapCache::insert(strKey, panel);
    }
    pPainter->drawPixmap(pOption->rect.topLeft(), panel);
}
