#pragma once

#include <QWidget>

class LogView;
class QCheckBox;
class QLabel;
class QLineEdit;

// The log pane's search line: find next and previous with the matches marked, a filter that shows only
// the lines containing the text, and saving the kept lines as text.
class LogSearchBar : public QWidget
{
    Q_OBJECT

public:
    LogSearchBar(LogView *view, QWidget *parent = nullptr);

    QLineEdit *searchField() const { return field; }

public slots:
    void findNext();
    void findPrevious();
    void setFiltering(bool on);
    void chooseSaveFile();

signals:
    // Saving failed: why.
    void failed(const QString &reason);

private:
    void find(bool backwards);

    LogView *view;
    QLineEdit *field;
    QCheckBox *filterBox;
    QLabel *count;
};
