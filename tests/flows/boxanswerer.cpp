#include "boxanswerer.h"

#include <QAbstractButton>
#include <QApplication>

BoxAnswerer::BoxAnswerer(std::initializer_list<QMessageBox::StandardButton> answers) : answers_(answers)
{
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer_.start();
}

QStringList BoxAnswerer::titles() const
{
    QStringList titles;
    for (const SeenBox& box : seen_)
        titles << box.title;
    return titles;
}

void BoxAnswerer::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box == last_)
        return;
    last_ = box;
    seen_.push_back(SeenBox{box->windowTitle(), box->text(), box->icon(), box->standardButtons()});

    QAbstractButton* button = answers_.empty() ? nullptr : box->button(answers_.front());
    if (!answers_.empty())
        answers_.pop_front();
    if (button == nullptr) {
        box->reject();
        return;
    }
    button->click();
}
