// Answers the window's modal message boxes from inside their own event loop, in the order they
// appear, and keeps what each box showed. A zero-interval timer polls the event loop, not the
// clock, so nothing depends on the machine's speed. Header-only: only the Qt test programs use it,
// and the support library itself does not link Qt.
#pragma once

#include <QAbstractButton>
#include <QApplication>
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
    bool parentless = false;
    bool modal = false;
};

class BoxAnswerer : public QObject
{
public:
    // Presses `answers` on the next boxes, one each. A box beyond the list, or one without the
    // button expected, is noted and rejected so that a wrong flow cannot hang the test.
    explicit BoxAnswerer(std::initializer_list<QMessageBox::StandardButton> answers)
        : answers_(answers)
    {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer_.start();
    }

    const std::vector<SeenBox>& seen() const { return seen_; }

    QStringList titles() const
    {
        QStringList titles;
        for (const SeenBox& box : seen_)
            titles << box.title;
        return titles;
    }

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == last_)
            return;
        last_ = box;
        seen_.push_back(SeenBox{box->windowTitle(), box->text(), box->icon(),
            box->standardButtons(), box->parentWidget() == nullptr, box->isModal()});

        QAbstractButton* button = answers_.empty() ? nullptr : box->button(answers_.front());
        if (!answers_.empty())
            answers_.pop_front();
        if (button == nullptr) {
            box->reject();
            return;
        }
        button->click();
    }

    QTimer timer_;
    std::deque<QMessageBox::StandardButton> answers_;
    std::vector<SeenBox> seen_;
    QPointer<QMessageBox> last_;
};
