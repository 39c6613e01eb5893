#pragma once
// The new product ID field's rule: printable ASCII only (a byte above 0x7F would end the
// System Exclusive frame that carries the ID), letters as capitals. Typing or pasting
// anything else is refused; the field's length limit does the rest.
#include <QValidator>

class CProductIDValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;

    // 0x20..0x7E.
    static bool IsAllowed(QChar c) { return c.unicode() >= 0x20 && c.unicode() <= 0x7E; }
    // Upper-cases a-z in place; Invalid when any character is not allowed.
    State validate(QString& strInput, int& nPos) const override;
};
