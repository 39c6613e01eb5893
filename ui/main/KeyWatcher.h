#pragma once
// The hidden key sequence that reveals "Edit Preset": only the first two fresh key
// presses after start-up or after a Connect count. An application event filter sees one
// key press up to three times (window, then each widget), so only deliveries to a
// top-level QWindow are counted.
#include <QObject>

class CKeyWatcher : public QObject {
    Q_OBJECT
public:
    // The access sequence, typed in this order.
    static constexpr int kFirstKey = Qt::Key_K;
    static constexpr int kSecondKey = Qt::Key_T;

    using QObject::QObject;

    // Clears the three flags (start-up and every Connect).
    void Rearm();
    bool IsSequenceOK() const { return m_bKeySequenceOK; }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnKeyPress(int nKey);

    bool m_bKeyFirstSeen = false;
    bool m_bKeyWatchDone = false;
    bool m_bKeySequenceOK = false;
};
