#include "ui/main/WindowEvent.h"

QEvent::Type CWindowEvent::EventType() {
    static const QEvent::Type eType = static_cast<QEvent::Type>(QEvent::registerEventType());
    return eType;
}
