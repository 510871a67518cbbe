// The operator's message boxes, answered by the test from inside their event loop.
#include <QMainWindow>
#include <QStatusBar>

#include <gtest/gtest.h>

#include "Messages.h"
#include "boxanswerer.h"

TEST(Messages, QuestionAndSaveAreTrueOnlyForTheirYes)
{
    BoxAnswerer answers({QMessageBox::Yes, QMessageBox::No, QMessageBox::Save, QMessageBox::Cancel});
    EXPECT_TRUE(Messages::question("Firmware", "Write firmware 1.48?"));
    EXPECT_FALSE(Messages::question("Firmware", "Again?"));
    EXPECT_TRUE(Messages::saveMessage("Report", "Speichern? \xc3\xa4"));
    EXPECT_FALSE(Messages::saveMessage("Report", "Save?"));
    ASSERT_EQ(answers.seen().size(), 4u);

    const SeenBox& question = answers.seen()[0];
    EXPECT_EQ(question.title, QString("Firmware"));
    EXPECT_EQ(question.text, QString("Write firmware 1.48?"));
    EXPECT_EQ(question.icon, QMessageBox::Question);
    EXPECT_EQ(question.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(question.parentless);
    EXPECT_TRUE(question.modal);

    const SeenBox& save = answers.seen()[2];
    EXPECT_EQ(save.text, QString::fromUtf8("Speichern? \xc3\xa4"));
    EXPECT_EQ(save.icon, QMessageBox::NoIcon);
    EXPECT_EQ(save.buttons, QMessageBox::Save | QMessageBox::Cancel);
}

TEST(Messages, InformationCriticalWarningWithOk)
{
    BoxAnswerer answers({QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok});
    Messages::info("Title", "Message");
    Messages::critical("Title", "Message");
    Messages::warning("Title", "Message");
    const QMessageBox::Icon icons[] = {QMessageBox::Information, QMessageBox::Critical, QMessageBox::Warning};
    ASSERT_EQ(answers.seen().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const SeenBox& box = answers.seen()[size_t(i)];
        EXPECT_EQ(box.icon, icons[i]);
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
