#pragma once

#include <QByteArray>
#include <QStringList>
#include <QVector>

// The certificates section read back: each certificate's stored MD5 digest and DER bytes, with the
// names and validity read from the DER itself (a small reader of the few fields shown, which never
// reads outside the bytes it is given).
struct StoredCertificate {
    QByteArray storedMd5;
    QByteArray der;
    qint64 offset = 0; // of the DER bytes within the block
    bool md5Matches = false;
    bool decoded = false; // the fields below were read
    QString subject, issuer, notBefore, notAfter;
};

struct CertificatesBlock {
    QVector<StoredCertificate> certificates;
    QStringList problems;

    static CertificatesBlock read(const QByteArray &block);
};
