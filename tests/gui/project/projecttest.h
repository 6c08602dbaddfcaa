// Helpers of the project tests: files written in one call, and message boxes answered.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>
#include <functional>

// Writes `data` to `path`, creating the directories above it.
inline void writeFile(const QString &path, const QByteArray &data, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(data);
    f.close();
    if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner);
}

// Answers the message boxes that the code under test shows (they run their own event loop), in
// order from a list of buttons, and remembers what each box said.

class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {}) : answers(std::move(answers))
    {
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer.start(5);
    }

    // "critical:" or "warning:" followed by the box's text, one entry per box.
    QStringList seen;
    // Run as each box is seen, to look at the state the box is shown in.
    std::function<void()> atBox;
    QList<QMessageBox::StandardButton> answers;

private:
    void poll()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible()) continue;
            const char *kind = box->icon() == QMessageBox::Critical  ? "critical:"
                               : box->icon() == QMessageBox::Warning ? "warning:"
                                                                     : "other:";
            seen.append(QLatin1String(kind) + box->text());
            if (atBox) atBox();
            QAbstractButton *button = nullptr;
            if (!answers.isEmpty()) button = box->button(answers.takeFirst());
            if (!button) button = box->escapeButton() ? box->escapeButton() : box->buttons().value(0);
            button->click();
        }
    }

    QTimer timer;
};
