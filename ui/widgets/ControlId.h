#pragma once
// Controls are reached by their IDs from resources/resource.h. A control's objectName is
// its symbolic name there (IDC_SCAN); FindControl looks the ID's names up and finds the
// control in the given dialog's own window (not inside a child dialog).
#include <QWidget>

#include "resources/resource.h"

namespace qz {
// The control with the ID in pDialog's window, or null.
QWidget* FindControl(const QWidget* pDialog, int nId);

template <class T>
T* FindControl(const QWidget* pDialog, int nId) {
    return qobject_cast<T*>(FindControl(pDialog, nId));
}

// The symbolic names that carry an ID (several dialogs may use the same number).
QStringList ControlNames(int nId);
}  // namespace qz
