#include "addressvalidator.h"

#include "hwaddress.h"

QValidator::State AddressValidator::validate(QString &text, int &pos) const
{
    switch (hwaddress::normalize(text, pos)) {
    case hwaddress::State::Acceptable:
        return Acceptable;
    case hwaddress::State::Intermediate:
        return Intermediate;
    case hwaddress::State::Invalid:
        break;
    }
    return Invalid;
}
