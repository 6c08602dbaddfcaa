#include "logsearchbar.h"

#include "logview.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

LogSearchBar::LogSearchBar(LogView *view, QWidget *parent) : QWidget(parent), view(view)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    field = new QLineEdit;
    field->setObjectName(QStringLiteral("logSearch"));
    field->setPlaceholderText(tr("Search the log: message, class or bytes"));
    field->setClearButtonEnabled(true);
    auto *previous = new QToolButton;
    previous->setText(tr("Previous"));
    auto *next = new QToolButton;
    next->setText(tr("Next"));
    filterBox = new QCheckBox(tr("Only matching"));
    filterBox->setObjectName(QStringLiteral("logFilter"));
    count = new QLabel;
    count->setObjectName(QStringLiteral("logMatches"));
    auto *save = new QPushButton(tr("Save log…"));
    save->setObjectName(QStringLiteral("logSave"));
    layout->addWidget(field, 1);
    layout->addWidget(previous);
    layout->addWidget(next);
    layout->addWidget(count);
    layout->addWidget(filterBox);
    layout->addWidget(save);

    connect(field, &QLineEdit::returnPressed, this, &LogSearchBar::findNext);
    connect(next, &QToolButton::clicked, this, &LogSearchBar::findNext);
    connect(previous, &QToolButton::clicked, this, &LogSearchBar::findPrevious);
    connect(filterBox, &QCheckBox::toggled, this, &LogSearchBar::setFiltering);
    connect(save, &QPushButton::clicked, this, &LogSearchBar::chooseSaveFile);
    connect(field, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (filterBox->isChecked()) this->view->setFilter(text);
        if (text.isEmpty()) find(false);
    });
}

void LogSearchBar::find(bool backwards)
{
    const int matches = view->findNext(field->text(), backwards);
    count->setText(field->text().isEmpty() ? QString()
                   : matches == 0          ? tr("no match")
                                           : tr("%1 of %2").arg(view->currentMatch()).arg(matches));
}

void LogSearchBar::findNext()
{
    find(false);
}

void LogSearchBar::findPrevious()
{
    find(true);
}

void LogSearchBar::setFiltering(bool on)
{
    view->setFilter(on ? field->text() : QString());
}

void LogSearchBar::chooseSaveFile()
{
    const QString suggested = QDir::home().filePath(
        QStringLiteral("velmo-log-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = QFileDialog::getSaveFileName(this, tr("Save log"), suggested, tr("Text (*.txt)"));
    QString why;
    if (!path.isEmpty() && !view->saveLog(path, &why)) emit failed(why);
}
