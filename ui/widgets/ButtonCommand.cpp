#include "ui/widgets/ButtonCommand.h"

#include <QAbstractButton>
#include <QRadioButton>
#include <memory>

void qz::ConnectButtonCommand(QAbstractButton* pButton, std::function<void()> fnCommand) {
    // A click emits pressed, toggled, released, clicked in this order: between pressed
    // and released a toggle belongs to the click and is left to clicked.
    auto pPressing = std::make_shared<bool>(false);
    bool bRadio = qobject_cast<QRadioButton*>(pButton) != nullptr;
    QObject::connect(pButton, &QAbstractButton::pressed, pButton, [pPressing] { *pPressing = true; });
    QObject::connect(pButton, &QAbstractButton::released, pButton, [pPressing] { *pPressing = false; });
    QObject::connect(pButton, &QAbstractButton::toggled, pButton, [pPressing, bRadio, fnCommand](bool bOn) {
        if (*pPressing || (bRadio && !bOn)) return;  // a radio that goes off is not a command
        fnCommand();
    });
    QObject::connect(pButton, &QAbstractButton::clicked, pButton, [fnCommand] { fnCommand(); });
}
