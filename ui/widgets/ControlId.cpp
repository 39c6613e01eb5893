#include "ui/widgets/ControlId.h"

namespace {
struct CControlName {
    int nId;
    const char* pszName;
};

#define QZ81KT_CONTROL_NAME_ROW(name, value) {value, #name},
constexpr CControlName kControlNames[] = {QZ81KT_ALL_CONTROLS(QZ81KT_CONTROL_NAME_ROW)};
#undef QZ81KT_CONTROL_NAME_ROW
}  // namespace

QStringList qz::ControlNames(int nId) {
    QStringList names;
    for (const CControlName& row : kControlNames)
        if (row.nId == nId) names << QString::fromLatin1(row.pszName);
    return names;
}

QWidget* qz::FindControl(const QWidget* pDialog, int nId) {
    if (!pDialog) return nullptr;
    const QWidget* pWindow = pDialog->window();
    for (const CControlName& row : kControlNames) {
        if (row.nId != nId) continue;
        const QList<QWidget*> found = pWindow->findChildren<QWidget*>(QString::fromLatin1(row.pszName));
        for (QWidget* w : found)
            if (w->window() == pWindow) return w;
    }
    return nullptr;
}
