// "Write Firmware" on the virtual robot: the question, the order in which the axes are written,
// the image each controller receives byte for byte, the texts and button states of every outcome
// (partial ones above all), and the image files in the working directory.
#include <QDir>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>

#include "boxanswerer.h"
#include "flowfixture.h"
#include "qtfiles.h"

namespace {

const QString kSuccessText = QStringLiteral("The firmware was written successfully!\nPower off the "
                                            "Zuvian. Wait 3 seconds, then power on it again.");
const QString kRestartText = QStringLiteral(
    "Restart the slaves! Unplug the device!\nPlug in again and press Write Parameters");

using WriteFirmwareFlow = FlowTest;

}

// A stale image and a symbolic link under the images' names are neither flashed nor followed.
TEST_F(WriteFirmwareFlow, RobotArmFirstThenPlatformEachWithItsImage)
{
    startBus(sim::robotBus());
    // Every controller runs its own old version, so the question shows which axis is which.
    int minor = 31;
    for (int position : {2, 3, 4, 5, 7, 8, 9, 10, 11})
        axis(position).interpreter().firmware() = sim::FirmwareSlot("1." + std::to_string(minor++));
    logBootTransfers();
    putFile(workPath("TMCM-174.bin"), "ZVFW9.99 left over from an interrupted run");
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    putFile(victim, "precious");
    ASSERT_TRUE(QFile::link(victim, workPath("TMCM-1632.bin")));
    {
        BoxAnswerer boxes({QMessageBox::Yes, QMessageBox::Ok});
        press("pbWriteFirmware");

        ASSERT_EQ((QStringList{"Write firmware?", "Firmware"}), boxes.titles());
        const SeenBox& question = boxes.seen()[0];
        EXPECT_EQ(QMessageBox::Question, question.icon);
        EXPECT_EQ(QMessageBox::Yes | QMessageBox::No, question.buttons);
        EXPECT_EQ(
            QStringLiteral("Current firmwareversion arm axis 1: 1.35\n"
                           "Current firmwareversion arm axis 2: 1.36\n"
                           "Current firmwareversion arm axis 3: 1.37\n"
                           "Current firmwareversion arm axis 4: 1.38\n"
                           "Current firmwareversion arm axis 5: 1.39\n"
                           "Current firmwareversion platform axis 1: 1.31\n"
                           "Current firmwareversion platform axis 2: 1.32\n"
                           "Current firmwareversion platform axis 3: 1.33\n"
                           "Current firmwareversion platform axis 4: 1.34\n"
                           "\nDo you really want to write firmware version 1.48 to all axis?"),
            question.text);
        EXPECT_EQ(QMessageBox::Information, boxes.seen()[1].icon);
        EXPECT_EQ(kSuccessText, boxes.seen()[1].text);
    }

    EXPECT_EQ((std::vector<int>{7, 8, 9, 10, 11, 2, 3, 4, 5}), bootOrder());
    expectImagesOnlyAt({2, 3, 4, 5, 7, 8, 9, 10, 11});
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_EQ(kRestartText, output());
    EXPECT_TRUE(enabled("pbWriteParameters"));
    EXPECT_TRUE(enabled("pbCheck"));
    QFile target(victim);
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_EQ(QByteArray("precious"), target.readAll());
}

// A download that breaks off on platform axis 3: the text names it and what was updated before,
// and the controller may be left in BOOT; a refused BOOT names its axis but leaves nothing in BOOT.
TEST_F(WriteFirmwareFlow, FailedAxisIsNamedWithTheAxesUpdatedBeforeIt)
{
    startBus(sim::robotBus());
    axis(4).foe().breakOffAfterPacket(3, 0x8003, "Disk full");
    {
        BoxAnswerer boxes({QMessageBox::Yes});
        press("pbWriteFirmware");
        EXPECT_EQ((QStringList{"Write firmware?"}), boxes.titles());
    }
    EXPECT_EQ(QStringLiteral("not successfull: Writing was not successful!\n"
                             "Platform axis 3 (TMCM-1632, bus position 4) was not updated.\n"
                             "Updated: arm axes 1 to 5, platform axes 1 to 2.\n"
                             "Power-cycle the robot: that controller may still be in BOOT."),
        output());
    expectImagesOnlyAt({7, 8, 9, 10, 11, 2, 3});
    EXPECT_LT(progressBar()->value(), 1000);
    EXPECT_TRUE(workFiles().isEmpty());
    EXPECT_TRUE(allButtonsEnabled());

    startBus(sim::robotBus());
    bus().slave(8).alFaults().refuse = sim::AlState::Boot;
    BoxAnswerer refused({QMessageBox::Yes});
    press("pbWriteFirmware");
    EXPECT_EQ(
        QStringLiteral("not successfull: The slave did not enter the BOOT state! AL status code "
                       "0x0011 (Invalid requested state change)\n"
                       "Arm axis 2 (TMCM-ZQ-841, bus position 8) was not updated.\n"
                       "Updated: arm axis 1.\n"
                       "Power-cycle the robot to start the new firmware on the updated axes."),
        output());
    expectImagesOnlyAt({7});
    EXPECT_TRUE(allButtonsEnabled());
}

// A part on the bus that cannot be written whole is named in the question and in the end, and
// "successfully" is never said for it; with no whole part nothing is asked or written.
TEST_F(WriteFirmwareFlow, PartsLeftOutAreNamedAndNeverCalledWritten)
{
    const QString armOfFour
        = QStringLiteral("The arm was not written: only 4 of 5 arm axes were found.");
    const QString brokenPlatform = QStringLiteral("The platform was not written: bus position 5 is "
                                                  "\"Plain Slave 5\", not a platform controller.");
    struct Case
    {
        const char* bus;
        std::vector<int> written;
        QStringList titles;
        QString questionEnd; // the question ends with this
        QString box;
        QString label;
    };
    const Case cases[] = {
        {"BppqqBaaawB", {2, 3, 4, 5}, {"Write firmware?", "Firmware"},
            "\n" + QString(armOfFour).replace("was not", "will not be")
                + "\nDo you really want to write firmware version 1.48 to the platform axes only?",
            "The firmware was written to the platform axes only.\n" + armOfFour
                + "\nPower off the Zuvian. Wait 3 seconds, then power on it again.",
            kRestartText + "\n" + armOfFour},
        {"BppqBqaaaww", {7, 8, 9, 10, 11}, {"Write firmware?", "Firmware"},
            "\n" + QString(brokenPlatform).replace("was not", "will not be")
                + "\nDo you really want to write firmware version 1.48 to the arm axes only?",
            "The firmware was written to the arm axes only.\n" + brokenPlatform
                + "\nPower off the Zuvian. Wait 3 seconds, then power on it again.",
            kRestartText + "\n" + brokenPlatform},
        {"BppqBqaaBaw", {}, {}, QString(), QString(),
            "No controller was updated!\n" + armOfFour + "\n" + brokenPlatform},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bus);
        startBus(sim::controllerBus(c.bus));
        BoxAnswerer boxes({QMessageBox::Yes, QMessageBox::Ok});
        press("pbWriteFirmware");

        ASSERT_EQ(c.titles, boxes.titles());
        if (!c.titles.isEmpty()) {
            EXPECT_TRUE(boxes.seen()[0].text.endsWith(c.questionEnd))
                << boxes.seen()[0].text.toStdString();
            EXPECT_EQ(QMessageBox::Warning, boxes.seen()[1].icon);
            EXPECT_EQ(c.box, boxes.seen()[1].text);
            EXPECT_FALSE(enabled("pbWriteFirmware"));
        }
        EXPECT_EQ(c.label, output());
        expectImagesOnlyAt(c.written);
        EXPECT_LT(progressBar()->value(), 1000);
        EXPECT_TRUE(workFiles().isEmpty());
    }
}

// A name that cannot be cleared would leave whatever stands there to be flashed: the flow
// refuses before any axis is written and removes the images it did place.
TEST_F(WriteFirmwareFlow, ImageThatCannotBePlacedStopsBeforeAnyAxis)
{
    startBus(sim::robotBus());
    ASSERT_TRUE(QDir(workPath(QString())).mkdir("TMCM-1610.bin"));

    BoxAnswerer boxes({QMessageBox::Yes});
    press("pbWriteFirmware");

    EXPECT_EQ((QStringList{"Write firmware?"}), boxes.titles());
    EXPECT_EQ(
        QStringLiteral("not successfull: The firmware files could not be created!"), output());
    expectImagesOnlyAt({});
    EXPECT_EQ((QStringList{"TMCM-1610.bin"}), workFiles());
    EXPECT_TRUE(allButtonsEnabled());
}

// While a flow runs, a press of another flow's button (here through its slot, the buttons being
// locked) starts no second bus session; answered No, the flow writes nothing and leaves no file.
TEST_F(WriteFirmwareFlow, NoSecondFlowStartsWhileOneRunsAndNoWritesNothing)
{
    startBus(sim::robotBus());
    BoxAnswerer boxes({QMessageBox::No});
    click("pbWriteFirmware");
    ASSERT_TRUE(window().isBusy());
    QMetaObject::invokeMethod(&window(), "Check");
    QMetaObject::invokeMethod(&window(), "WriteParameters");
    ASSERT_TRUE(waitForFlow());

    EXPECT_EQ((QStringList{"Write firmware?"}), boxes.titles());
    EXPECT_FALSE(window().isBusy());
    EXPECT_TRUE(allButtonsEnabled());
    EXPECT_TRUE(workFiles().isEmpty());
    expectImagesOnlyAt({});
    EXPECT_EQ(QString(), output());
}
