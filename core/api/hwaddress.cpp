#include "hwaddress.h"

#include <QtGlobal>

hwaddress::State hwaddress::normalize(QString &text, int &pos)
{
    if (text.isEmpty()) return State::Intermediate;

    QString digits;
    int newPos = pos;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
            (c >= QLatin1Char('a') && c <= QLatin1Char('f'))) {
            digits.append(c);
        } else if (c == QLatin1Char(':')) {
            if (i < pos) --newPos;
        } else {
            return State::Invalid;
        }
    }

    text = digits.left(12);
    if (text.isEmpty()) return State::Invalid;

    const int pairs = (text.size() - 1) / 2;
    for (int i = 0; i < pairs; ++i) {
        const int at = 3 * i + 2;
        text.insert(at, QLatin1Char(':'));
        if (at < newPos) ++newPos;
    }
    pos = qBound(0, newPos, text.size());

    // Twelve digits and five colons.
    return text.size() > 16 ? State::Acceptable : State::Intermediate;
}
