#pragma once
// Runs a command once for each way an operator works a radio button or check box:
// a click (mouse, Space, a screen reader's press) and a screen reader's toggle, which
// changes the state without a click. Clicking the checked radio runs it too. State
// changes made under a QSignalBlocker (the display) run nothing.
#include <functional>

class QAbstractButton;

namespace qz {
void ConnectButtonCommand(QAbstractButton* pButton, std::function<void()> fnCommand);
}  // namespace qz
