#pragma once
// Work that the input worker hands to the main window's thread: the reply notification
// and the two handlers that must touch widgets (a preset line, the control enabling).
#include <QEvent>

class CWindowEvent : public QEvent {
public:
    enum EKind { kReplyNotify, kPresetLine, kControlEnable };
    static QEvent::Type EventType();

    CWindowEvent(EKind eKind, int wParam, int lParam)
        : QEvent(EventType()), m_eKind(eKind), m_wParam(wParam), m_lParam(lParam) {}

    const EKind m_eKind;
    const int m_wParam;
    const int m_lParam;
};
