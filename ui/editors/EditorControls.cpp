#include "ui/editors/EditorControls.h"

#include <QComboBox>

#include "protocol/fields/OperatorMessages.h"

void qz::FillList(QComboBox* pCombo, const qz::CItemList& items, int nCount) {
    for (int i = 0; i < nCount; ++i) pCombo->addItem(QString::fromStdString(qz::ItemText(items, i)));
}

int qz::ListIndex(const QComboBox* pCombo) {
    const int n = pCombo->currentIndex();
    return n < 0 ? qz::kNoSelection : n;
}

void qz::SetListIndex(QComboBox* pCombo, int nIndex) {
    pCombo->setCurrentIndex(nIndex >= 0 && nIndex < pCombo->count() ? nIndex : -1);
}

void qz::NameControl(QWidget* pControl, const char* pszGroup, const char* pszLabel, const char* pszNote) {
    const QString strLabel = QString::fromLatin1(pszLabel);
    pControl->setAccessibleName(*pszGroup ? QString::fromLatin1(pszGroup) + ' ' + strLabel : strLabel);
    if (*pszNote) pControl->setAccessibleDescription(QString::fromLatin1(pszNote));
}

QString qz::RefusedSendText() { return QString::fromLatin1(qz::kRefusedSendText); }
