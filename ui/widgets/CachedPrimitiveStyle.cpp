#include "ui/widgets/CachedPrimitiveStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPixmapCache>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <qdrawutil.h>

#include <cstdio>

namespace {

// A panel's corner (its rounding, the focus ring and the ends of the inner shadow) fits
// in this many pixels; between the corners every row and column repeats.
constexpr int kPanelCorner = 5;

// Qt's raster engine hands a fill of more than 95 rows to a pool of threads, which it
// starts on first use; a group box's frame drawn in bands of this many rows stays on the
// interface thread.
constexpr int kFrameBandRows = 64;

// A field marked so paints all of itself: Qt paints nothing beneath it.
bool PaintsAllOfItself(const QStyleOption* pOption, const QWidget* pWidget) {
    return qstyleoption_cast<const QStyleOptionFrame*>(pOption) && pWidget &&
           pWidget->testAttribute(Qt::WA_OpaquePaintEvent);
}

}  // namespace

CCachedPrimitiveStyle::CCachedPrimitiveStyle(QObject* pParent)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {
    setParent(pParent);
}

void CCachedPrimitiveStyle::drawPrimitive(PrimitiveElement eElement, const QStyleOption* pOption, QPainter* pPainter,
                                          const QWidget* pWidget) const {
    if (eElement == PE_FrameGroupBox && pPainter->transform().type() <= QTransform::TxTranslate) {
        DrawInBands(eElement, pOption, pPainter, pWidget);
        return;
    }
    const bool bPanel = eElement == PE_PanelLineEdit && qstyleoption_cast<const QStyleOptionFrame*>(pOption);
    const bool bIndicator = eElement == PE_IndicatorRadioButton || eElement == PE_IndicatorCheckBox;
    if ((!bPanel && !bIndicator) || pOption->rect.isEmpty() || pPainter->transform().type() > QTransform::TxTranslate) {
        if (bPanel && PaintsAllOfItself(pOption, pWidget)) pPainter->fillRect(pOption->rect, pOption->palette.window());
        QProxyStyle::drawPrimitive(eElement, pOption, pPainter, pWidget);
        return;
    }
    const QSize target = pOption->rect.size();
    const QSize nine(2 * kPanelCorner + 1, 2 * kPanelCorner + 1);
    const bool bStretch = bPanel && target.width() > nine.width() && target.height() > nine.height();
    const qreal dpr = pPainter->device()->devicePixelRatio();
    pPainter->drawPixmap(pOption->rect.topLeft(), Cached(eElement, *pOption, target, bStretch ? nine : target, dpr, pWidget));
}

QPixmap CCachedPrimitiveStyle::Cached(PrimitiveElement eElement, const QStyleOption& option, QSize size, QSize drawn,
                                      qreal dpr, const QWidget* pWidget) const {
    const auto* pFrame = qstyleoption_cast<const QStyleOptionFrame*>(&option);
    const bool bOpaque = PaintsAllOfItself(&option, pWidget);  // its panel over the window's background
    // Thirty controls look their key up on every paint: one format, one allocation.
    char szKey[160];
    std::snprintf(szKey, sizeof szKey, "qz81kt-primitive:%d:%dx%d:%u:%llu:%d:%d:%d:%g:%d", static_cast<int>(eElement),
                  size.width(), size.height(), static_cast<uint>(option.state),
                  static_cast<unsigned long long>(option.palette.cacheKey()),
                  static_cast<int>(option.palette.currentColorGroup()), pFrame ? pFrame->lineWidth : 0,
                  static_cast<int>(option.direction), dpr, bOpaque);
    const QString strKey = QString::fromLatin1(szKey);
    QPixmap pixmap;
    if (QPixmapCache::find(strKey, &pixmap)) return pixmap;
    pixmap = QPixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(bOpaque ? option.palette.color(QPalette::Window) : QColor(Qt::transparent));
    QPainter painter(&pixmap);
    if (drawn != size) {
        // Stretched pixel for pixel: a smooth scale would blend the corners into the edges.
        const QMargins corners(kPanelCorner, kPanelCorner, kPanelCorner, kPanelCorner);
        qDrawBorderPixmap(&painter, QRect(QPoint(0, 0), size), corners, Cached(eElement, option, drawn, drawn, dpr, pWidget));
    } else {
        // The style reads the option as its own type: the copy keeps it.
        auto draw = [&](auto atOrigin) {
            atOrigin.rect = QRect(QPoint(0, 0), size);
            QProxyStyle::drawPrimitive(eElement, &atOrigin, &painter, pWidget);
        };
        if (pFrame)
            draw(*pFrame);
        else if (const auto* pButton = qstyleoption_cast<const QStyleOptionButton*>(&option))
            draw(*pButton);
        else
            draw(option);
    }
    painter.end();
    QPixmapCache::insert(strKey, pixmap);
    return pixmap;
}

void CCachedPrimitiveStyle::DrawInBands(PrimitiveElement eElement, const QStyleOption* pOption, QPainter* pPainter,
                                        const QWidget* pWidget) const {
    const QRect r = pOption->rect;
    for (int y = r.top(); y <= r.bottom(); y += kFrameBandRows) {
        pPainter->save();
        pPainter->setClipRect(QRect(r.left(), y, r.width(), kFrameBandRows), Qt::IntersectClip);
        QProxyStyle::drawPrimitive(eElement, pOption, pPainter, pWidget);
        pPainter->restore();
    }
}
