// The operator's message boxes, answered by the test from inside their event loop.
#include <QMainWindow>
#include <QStatusBar>

#include <gtest/gtest.h>

#include "Messages.h"
#include "boxanswerer.h"

// Every box stands alone (no parent) and the program's own ones are modal; save is true only for
// Save. (The icons, buttons, texts and answers of the boxes the flows raise are the flow tests'.)
TEST(Messages, BoxesStandAloneAndSaveIsTrueOnlyForSave)
{
    BoxAnswerer answers(
        {QMessageBox::Yes, QMessageBox::Save, QMessageBox::Cancel, QMessageBox::Ok});
    EXPECT_TRUE(Messages::question("Firmware", "Write firmware 1.48?"));
    EXPECT_TRUE(Messages::saveMessage("Report", "Speichern? \xc3\xa4"));
    EXPECT_FALSE(Messages::saveMessage("Report", "Save?"));
    Messages::critical("Title", "Message");
    ASSERT_EQ(answers.seen().size(), 4u);
    for (const SeenBox& box : answers.seen())
        EXPECT_TRUE(box.parentless) << box.title.toStdString();
    EXPECT_TRUE(answers.seen()[0].modal);
    EXPECT_TRUE(answers.seen()[1].modal);

    const SeenBox& save = answers.seen()[1];
    EXPECT_EQ(save.text, QString::fromUtf8("Speichern? \xc3\xa4"));
    EXPECT_EQ(save.icon, QMessageBox::NoIcon);
    EXPECT_EQ(save.buttons, QMessageBox::Save | QMessageBox::Cancel);
    EXPECT_EQ(answers.seen()[3].icon, QMessageBox::Critical);
    EXPECT_EQ(answers.seen()[3].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
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
