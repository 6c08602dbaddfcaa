// Validator for MAC address text: lower-case hex digits, colons re-inserted after every pair.
#pragma once

#include <QValidator>

class AddressValidator : public QValidator
{
    Q_OBJECT
public:
    explicit AddressValidator(QObject *parent = nullptr) : QValidator(parent) {}

    State validate(QString &text, int &pos) const override;
};
