// velmo's settings store under its own names, kept in a scratch folder so tests and pictures never
// read or change the user's settings; and a wait that keeps the event loop running.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QString>

inline void useScratchSettings(const QString &folder)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Halvane"));
    QCoreApplication::setApplicationName(QStringLiteral("velmo88"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setDefaultFormat(QSettings::NativeFormat);
}

inline void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
