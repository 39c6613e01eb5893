#pragma once
// A picture seen as a horizontal strip of equal frames, one frame per state.
#include "ui/widgets/BmpBase.h"

class CBmpBtnBase : public CBmpBase {
public:
    using CBmpBase::CBmpBase;

    void OnLoaded() override;
    QSize GetSize() const override { return QSize(m_nFrameWidth, m_nHeight); }
    // Draws frame n at the painter's origin; nothing when no strip is loaded.
    virtual void DrawFrame(QPainter& dc, int n) const;

    int m_nHighestState = 0;  // frames less one; set before Load
    int FrameWidth() const { return m_nFrameWidth; }

private:
    int m_nFrameWidth = 0;
};
