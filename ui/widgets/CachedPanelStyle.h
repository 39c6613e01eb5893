#pragma once
// A style for display fields rewritten on every poll: draws a line edit's panel (its
// rounded, antialiased frame) from a pixmap made once per size and state. The panel
// costs three times the text it holds, and the poll repaints the timecode ten times a
// second. Everything else is drawn by the application's style.
#include <QProxyStyle>

class CCachedPanelStyle final : public QProxyStyle {
public:
    // A copy of the application's current style; parent it to the window whose fields
    // use it, created after them, so that it goes after them.
    explicit CCachedPanelStyle(QObject* pParent);

    void drawPrimitive(PrimitiveElement eElement, const QStyleOption* pOption, QPainter* pPainter,
                       const QWidget* pWidget = nullptr) const override;
};
