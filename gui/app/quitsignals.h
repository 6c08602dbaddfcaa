#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C in the terminal, a closed terminal) into a Qt
// signal in the GUI thread, so velmo ends as closing its window does and its settings are saved.
// One instance at a time; the handlers stay installed while it lives.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    // False when the signals could not be caught; they then end the process as before.
    bool isActive() const { return notifier != nullptr; }

signals:
    void received(int signo);

private:
    void drain();

    QSocketNotifier *notifier = nullptr;
};
