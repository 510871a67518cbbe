// "Check Version" on the virtual bus: which axes the box lists, in which order, with which names
// and versions, and what the operator sees when the bus cannot be read out or a part is not whole.
#include "boxanswerer.h"
#include "flowfixture.h"

#include "BusSession.h"

namespace {

const QString kSlavesNotFound
    = QStringLiteral("Slaves not found! Run firmwareupdate \nas root and check devicenumber!\n");

QString line(const char* part, int axis, const QString& version, const QString& name)
{
    return QStringLiteral("Current firmwareversion %1 axis %2: %3 name of the slave: %4\n")
        .arg(QLatin1String(part))
        .arg(axis)
        .arg(version, name);
}

QString armLines(const QString& version)
{
    return line("arm", 1, version, "TMCM-ZQ-841") + line("arm", 2, version, "TMCM-ZQ-841")
        + line("arm", 3, version, "TMCM-ZQ-841") + line("arm", 4, version, "TMCM-1610")
        + line("arm", 5, version, "TMCM-1610");
}

QString platformLines(const QString& version)
{
    return line("platform", 1, version, "TMCM-174") + line("platform", 2, version, "TMCM-174")
        + line("platform", 3, version, "TMCM-1632") + line("platform", 4, version, "TMCM-1632");
}

class CheckVersion : public FlowTest
{
protected:
    void expectIdle()
    {
        EXPECT_TRUE(allButtonsEnabled());
        EXPECT_TRUE(workFiles().isEmpty());
        EXPECT_EQ(0, bus().openHandles());
    }
};

}

// The summary names every axis that does not run the version the program carries: after the power
// cycle, an update that did not take.
TEST_F(CheckVersion, ArmAxesThenPlatformAxesOfEachLayout)
{
    QString behind;
    for (int k = 1; k <= 5; ++k)
        behind
            += QStringLiteral("%1rm axis %2 runs 1.40, not 1.48").arg(k == 1 ? "A" : ", a").arg(k);
    const struct
    {
        sim::ControllerBus (*layout)(const std::string&);
        std::string version;
        QString text;
        QString summary;
    } layouts[] = {
        {sim::robotBus, "1.48", armLines("1.48") + platformLines("1.48"),
            QStringLiteral("Versions read.")},
        {sim::armBus, "1.48", armLines("1.48"), QStringLiteral("Versions read.")},
        {sim::armBus, "1.40", armLines("1.40"), QStringLiteral("Versions read. ") + behind + "."},
    };
    for (const auto& [layout, version, text, summary] : layouts) {
        SCOPED_TRACE(text.toStdString());
        startBus(layout(version));
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");

        ASSERT_EQ(1u, boxes.seen().size());
        const SeenBox& box = boxes.seen().front();
        EXPECT_EQ(QStringLiteral("Firmware Version"), box.title);
        EXPECT_EQ(QMessageBox::Information, box.icon);
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(summary, output());
        expectIdle();
    }
}

// Buses that cannot be read out show the known text, a line with the actual cause, and no box
// (Write Firmware asks nothing), and leave no bus open and no file behind them.
TEST_F(CheckVersion, BusesThatCannotBeReadOutNameTheCauseAndStayClosed)
{
    struct Case
    {
        const char* name;
        const char* bus;
        bool noInterface;
        bool sessionTaken; // another job holds the bus
        QString label; // the label starts with this
        const char* button = "pbCheck";
    };
    const Case cases[] = {
        {"no interface chosen", "BppqqBaaaww", true, false,
            kSlavesNotFound + "No network interface is chosen; "},
        {"no interface chosen, firmware", "BppqqBaaaww", true, false,
            kSlavesNotFound + "No network interface is chosen; ", "pbWriteFirmware"},
        {"nobody answers", "", false, false,
            kSlavesNotFound + "No slave answered on sim0: check the cable"},
        {"an arm of three axes", "Baaa", false, false,
            kSlavesNotFound
                + "4 slaves answered, 3 of them arm and 0 platform controllers: an "
                  "arm of 5 axes, a wheel base of 4, or both on a bus of 11 are "
                  "expected."},
        // More slaves than the tool accounts for are refused rather than read out in part.
        {"18 slaves", "BaaawwBBBBBBBBBBBB", false, false,
            "Too many slaves on the bus (18)!\nAt most 17 can be handled."},
        {"the bus taken", "BppqqBaaaww", false, true,
            "Another job is using the bus. Try again when it has ended."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startBus(sim::controllerBus(c.bus));
        if (c.noInterface)
            useInterface(QString());
        BoxAnswerer boxes({});
        {
            std::optional<BusSession::Lock> taken;
            if (c.sessionTaken)
                taken.emplace();
            press(c.button);
        }
        EXPECT_TRUE(output().startsWith(c.label)) << output().toStdString();
        EXPECT_TRUE(boxes.seen().empty());
        expectIdle();
    }
}

// A part that is on the bus but not whole is named with the reason, never filled with other
// slaves; a controller that keeps silent reads "no reply" in its line (the summary is the fault
// matrix's); and a good check replaces the text of an earlier failure.
TEST_F(CheckVersion, IncompletePartsAndSilentAxesAreNamed)
{
    // Five arm controllers, but a board among the positions taken for their axes.
    startBus(sim::controllerBus("BppqqaaBaww"));
    useInterface(QString());
    press("pbCheck");
    ASSERT_TRUE(output().startsWith(kSlavesNotFound));

    useInterface(QString::fromLatin1(SimBus::Primary));
    BoxAnswerer boxes({QMessageBox::Ok, QMessageBox::Ok});
    press("pbCheck");
    ASSERT_EQ(1u, boxes.seen().size());
    EXPECT_EQ("arm not read: bus position 8 is \"Plain Slave 8\", not an arm controller\n"
            + platformLines("1.48"),
        boxes.seen().back().text);
    EXPECT_EQ(QStringLiteral("Versions read."), output());

    sim::ControllerBus bus = sim::controllerBus("BppqqBaaaww");
    sim::CommandFaults silent;
    silent.noReply = true;
    bus.controller(9).commands().setFaults(silent);
    replaceBus(std::move(bus));
    press("pbCheck");
    ASSERT_EQ(2u, boxes.seen().size());
    EXPECT_EQ(line("arm", 3, "no reply", "TMCM-ZQ-841"),
        boxes.seen().back().text.section(QLatin1Char('\n'), 2, 2) + QLatin1Char('\n'));
}
