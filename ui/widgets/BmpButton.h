#pragma once
// A small window that shows one frame of a shared strip and, unless its input is off,
// changes its state by mouse clicks (toggle or push behaviour).
#include <QWidget>

class CBmpBtnBase;

class CBmpButton : public QWidget {
    Q_OBJECT
public:
    explicit CBmpButton(QWidget* pParent = nullptr);

    // Stores n limited to 0..highest state and redraws; 0 without a strip.
    virtual int SetState(int n);
    int State() const { return m_nState; }

    CBmpBtnBase* m_pStrip = nullptr;  // not owned; set before the window is shown
    bool m_bToggleMode = false;
    bool m_bInputOff = false;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    int Highest() const;
    int m_nState = 0;
};
