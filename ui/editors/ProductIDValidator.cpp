#include "ui/editors/ProductIDValidator.h"

QValidator::State CProductIDValidator::validate(QString& strInput, int&) const {
    for (QChar& c : strInput) {
        if (!IsAllowed(c)) return Invalid;
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - (u'a' - u'A'));
    }
    return Acceptable;
}
