// Answers the window's modal message boxes from inside their own event loop, in the order they
// appear, and keeps what each box showed. A zero-interval timer polls the event loop, not the
// clock, so nothing depends on the machine's speed.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <initializer_list>
#include <vector>

struct SeenBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

class BoxAnswerer : public QObject
{
public:
    // Presses `answers` on the next boxes, one each. A box beyond the list, or one without the
    // button expected, is noted and rejected so that a wrong flow cannot hang the test.
    explicit BoxAnswerer(std::initializer_list<QMessageBox::StandardButton> answers);

    const std::vector<SeenBox>& seen() const { return seen_; }
    QStringList titles() const;

private:
    void poll();

    QTimer timer_;
    std::deque<QMessageBox::StandardButton> answers_;
    std::vector<SeenBox> seen_;
    QPointer<QMessageBox> last_;
};
