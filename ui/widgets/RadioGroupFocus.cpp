#include "ui/widgets/RadioGroupFocus.h"

#include <QFocusEvent>
#include <QRadioButton>
#include <QWidget>

void CRadioGroupFocus::Install(QWidget* pRoot) {
    auto* pFilter = new CRadioGroupFocus(pRoot);
    for (QRadioButton* pRadio : pRoot->findChildren<QRadioButton*>()) pRadio->installEventFilter(pFilter);
}

bool CRadioGroupFocus::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pEvent->type() != QEvent::FocusIn) return false;
    const Qt::FocusReason eReason = static_cast<QFocusEvent*>(pEvent)->reason();
    auto* pRadio = qobject_cast<QRadioButton*>(pWatched);
    if (!pRadio || pRadio->isChecked() || (eReason != Qt::TabFocusReason && eReason != Qt::BacktabFocusReason))
        return false;
    // Auto-exclusive buttons form a group with their siblings.
    for (QRadioButton* pSibling : pRadio->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
        if (pSibling->isChecked() && pSibling->isEnabled() && pSibling->isVisible()) {
            pSibling->setFocus(eReason);
            break;
        }
    }
    return false;
}
