#pragma once
// What the two editors share: lists filled from the field tables, selections with "no
// selection" carried through, accessible names made from the labels, and the sending of
// a block whose refusal the operator is told about.
#include <QString>

#include "protocol/fields/ItemList.h"

class QComboBox;
class QWidget;

namespace qz {
// Puts the first nCount items of the list into the combo box (which must be empty).
void FillList(QComboBox* pCombo, const qz::CItemList& items, int nCount);
// The combo box's selection as an index, kNoSelection when it shows nothing, and back.
int ListIndex(const QComboBox* pCombo);
void SetListIndex(QComboBox* pCombo, int nIndex);

// "Timecode Preset Hour": the group's caption before the label, so that lists with the
// same label in different groups can be told apart. pszNote becomes the description.
void NameControl(QWidget* pControl, const char* pszGroup, const char* pszLabel, const char* pszNote = "");

// The message a refused send shows, in the window and in the editors alike.
QString RefusedSendText();
}  // namespace qz
