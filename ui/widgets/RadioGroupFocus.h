#pragma once
// Tab into a group of radio buttons lands on its checked button, as in a Windows dialog:
// Qt would land on the group's first one, and Space there would then change the setting.
// Arrow keys moving inside the group and Tab skipping its other buttons are Qt's own,
// once each group's buttons are children of their group box.
#include <QObject>

class QWidget;

class CRadioGroupFocus : public QObject {
public:
    // Watches every radio button below pRoot; the filter is a child of pRoot.
    static void Install(QWidget* pRoot);

protected:
    using QObject::QObject;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
};
