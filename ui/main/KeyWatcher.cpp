#include "ui/main/KeyWatcher.h"

#include <QKeyEvent>
#include <QWindow>

#include "ui/main/TsanHandOver.h"

void CKeyWatcher::Rearm() {
    m_bKeyFirstSeen = false;
    m_bKeyWatchDone = false;
    m_bKeySequenceOK = false;
}

bool CKeyWatcher::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (qz::HandedOverType(pEvent) == QEvent::KeyPress && pWatched->isWindowType() &&
        !static_cast<QWindow*>(pWatched)->parent()) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (!pKey->isAutoRepeat()) OnKeyPress(pKey->key());
    }
    return false;  // the key goes on as usual
}

void CKeyWatcher::OnKeyPress(int nKey) {
    if (m_bKeyWatchDone) return;
    if (m_bKeyFirstSeen) {
        if (nKey == kSecondKey) m_bKeySequenceOK = true;
        m_bKeyWatchDone = true;
        m_bKeyFirstSeen = false;
    } else if (nKey == kFirstKey) {
        m_bKeyFirstSeen = true;
    } else {
        m_bKeyWatchDone = true;
    }
}
