#pragma once
// A style that draws the window's most repeated primitives from pixmaps made once:
// - a line edit's panel (its rounded, antialiased frame): the display fields are
//   rewritten on every poll, and the panel costs three times the text it holds. The
//   panel is the same all along its edges, so one small drawing, stretched between its
//   corners, serves fields of every size. A field marked Qt::WA_OpaquePaintEvent gets
//   it over the window's background, so that nothing beneath it is painted again;
// - radio buttons' and check boxes' indicators, each an antialiased path, of which the
//   window shows twenty-five in two or three looks.
// It also draws group boxes' frames in bands of rows, each on the calling thread: drawn
// whole, each frame's fill went to threads that Qt starts for large fills, and the first
// paint of the window waited for them (about 2 ms of its start-up).
// Everything else, and anything drawn through a scaling or rotating painter, is drawn by
// the application's style.
#include <QProxyStyle>

class CCachedPrimitiveStyle final : public QProxyStyle {
public:
    // A copy of the application's current style; parent it to the window whose controls
    // use it, created after them, so that it goes after them.
    explicit CCachedPrimitiveStyle(QObject* pParent);

    void drawPrimitive(PrimitiveElement eElement, const QStyleOption* pOption, QPainter* pPainter,
                       const QWidget* pWidget = nullptr) const override;

private:
    // The style's drawing, clipped to one band of rows after another.
    void DrawInBands(PrimitiveElement eElement, const QStyleOption* pOption, QPainter* pPainter,
                     const QWidget* pWidget) const;
    // The primitive at size, from the cache or drawn into it; drawn at a smaller size and
    // stretched between its corners when drawn differs.
    QPixmap Cached(PrimitiveElement eElement, const QStyleOption& option, QSize size, QSize drawn, qreal dpr,
                   const QWidget* pWidget) const;
};
