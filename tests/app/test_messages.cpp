// The operator's message boxes, answered by the test from inside their event loop.
#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QStatusBar>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include "Messages.h"

namespace {

struct SeenBox
{
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool parentless = false;
    bool modal = false;
};

// Waits, inside the box's own event loop, for the next modal box, notes what it shows and
// presses `answer`. The timer polls the event loop, not the clock, so nothing depends on speed.
void answerNextBox(QMessageBox::StandardButton answer, SeenBox* seen)
{
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, seen]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        timer->stop();
        timer->deleteLater();
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        seen->parentless = box->parentWidget() == nullptr;
        seen->modal = box->isModal();
        box->button(answer)->click();
    });
    timer->start();
}

}

TEST(Messages, QuestionIsTrueOnlyForYes)
{
    SeenBox box;
    answerNextBox(QMessageBox::Yes, &box);
    EXPECT_TRUE(Messages::question("Firmware", "Write firmware 1.48?"));
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, QString("Firmware"));
    EXPECT_EQ(box.text, QString("Write firmware 1.48?"));
    EXPECT_EQ(box.icon, QMessageBox::Question);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box.parentless);
    EXPECT_TRUE(box.modal);

    SeenBox no;
    answerNextBox(QMessageBox::No, &no);
    EXPECT_FALSE(Messages::question("Firmware", "Again?"));
    EXPECT_TRUE(no.seen);
}

TEST(Messages, SaveMessageIsTrueOnlyForSave)
{
    SeenBox save;
    answerNextBox(QMessageBox::Save, &save);
    EXPECT_TRUE(Messages::saveMessage("Report", "Speichern? \xc3\xa4"));
    ASSERT_TRUE(save.seen);
    EXPECT_EQ(save.text, QString::fromUtf8("Speichern? \xc3\xa4"));
    EXPECT_EQ(save.icon, QMessageBox::NoIcon);
    EXPECT_EQ(save.buttons, QMessageBox::Save | QMessageBox::Cancel);

    SeenBox cancel;
    answerNextBox(QMessageBox::Cancel, &cancel);
    EXPECT_FALSE(Messages::saveMessage("Report", "Save?"));
    EXPECT_TRUE(cancel.seen);
}

TEST(Messages, InformationCriticalWarningWithOk)
{
    struct Case { void (*show)(QString, QString); QMessageBox::Icon icon; };
    const Case cases[] = {
        {&Messages::info, QMessageBox::Information},
        {&Messages::critical, QMessageBox::Critical},
        {&Messages::warning, QMessageBox::Warning},
    };
    for (const Case& c : cases) {
        SeenBox box;
        answerNextBox(QMessageBox::Ok, &box);
        c.show("Title", "Message");
        ASSERT_TRUE(box.seen);
        EXPECT_EQ(box.icon, c.icon);
        EXPECT_EQ(box.title, QString("Title"));
        EXPECT_EQ(box.text, QString("Message"));
        EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_TRUE(box.parentless);
    }
}

TEST(Messages, StatusErrorInRedOnTheStatusBar)
{
    QMainWindow window;
    Messages::statusErrorMessage(&window, "Bus not found");
    QStatusBar* bar = window.statusBar();
    EXPECT_EQ(bar->currentMessage(), QString("Bus not found"));
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        EXPECT_EQ(bar->palette().color(group, QPalette::WindowText), QColor("red"));
        EXPECT_EQ(bar->palette().color(group, QPalette::Text), QColor("red"));
    }

    // Without a window or bar there is nothing to colour, and nothing may be touched.
    Messages::statusErrorMessage(nullptr, "lost");
    Messages::changeColor(nullptr, "red");
}
