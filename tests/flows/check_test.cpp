// "Check Version" on the virtual bus: which axes the box lists, in which order, with which names
// and versions, and what the operator sees when the bus cannot be read out.
#include "boxanswerer.h"
#include "flowfixture.h"

#include "core/layouts.h"

namespace {

const QString kSlavesNotFound = QStringLiteral("Slaves not found! Run firmwareupdate \nas root and check devicenumber!");

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

// Eleven slaves as on the robot, but the arm has only its three large joints and one wrist joint;
// the last slave is a plain board.
sim::ControllerBus robotWithFourArmAxes()
{
    using sim::ControllerModel;
    sim::ControllerBus bus;
    bus.controllers.emplace_back();
    auto board = [&bus] {
        bus.chain.add(sim::makePlainSlave(bus.chain.size() + 1));
        bus.controllers.emplace_back();
    };
    auto axis = [&bus](ControllerModel model) {
        bus.controllers.push_back(sim::MotorController::addTo(bus.chain, model));
    };
    board();
    for (ControllerModel model : {ControllerModel::Tmcm174, ControllerModel::Tmcm174, ControllerModel::Tmcm1632,
                                  ControllerModel::Tmcm1632})
        axis(model);
    board();
    for (ControllerModel model : {ControllerModel::TmcmZq841, ControllerModel::TmcmZq841,
                                  ControllerModel::TmcmZq841, ControllerModel::Tmcm1610})
        axis(model);
    board();
    return bus;
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

TEST_F(CheckVersion, RobotListsFiveArmAxesThenFourPlatformAxes)
{
    startBus(sim::robotBus());
    BoxAnswerer boxes({QMessageBox::Ok});
    press("pbCheck");

    ASSERT_EQ(1u, boxes.seen().size());
    const SeenBox& box = boxes.seen().front();
    EXPECT_EQ(QStringLiteral("Firmware Version"), box.title);
    EXPECT_EQ(QMessageBox::Information, box.icon);
    EXPECT_EQ(armLines("1.48") + platformLines("1.48"), box.text);
    EXPECT_EQ(QString(), output());
    expectIdle();
}

TEST_F(CheckVersion, ArmAloneListsOnlyTheArm)
{
    startBus(sim::armBus());
    BoxAnswerer boxes({QMessageBox::Ok});
    press("pbCheck");

    ASSERT_EQ(1u, boxes.seen().size());
    EXPECT_EQ(armLines("1.48"), boxes.seen().front().text);
    expectIdle();
}

// Buses that cannot be read out show a text and no box, and leave no bus open behind it: an
// empty interface name, an arm of three axes alone, and more slaves than the window has room for
// (17), which is refused rather than read out in part.
TEST_F(CheckVersion, BusesThatCannotBeReadOutShowTheirTextAndStayClosed)
{
    startBus(sim::robotBus());
    useInterface(QString());
    BoxAnswerer boxes({});
    press("pbCheck");
    EXPECT_EQ(kSlavesNotFound, output());
    expectIdle();

    sim::ControllerBus threeAxes = sim::armBus();
    threeAxes.chain.breakAfter(4);
    replaceBus(std::move(threeAxes));
    useInterface(QString::fromLatin1(SimBus::Primary));
    press("pbCheck");
    EXPECT_EQ(kSlavesNotFound, output());
    expectIdle();

    sim::ControllerBus eighteen = sim::armBus();
    for (int i = 0; i < 12; ++i)
        eighteen.chain.add(sim::makePlainSlave(eighteen.chain.size() + 1));
    replaceBus(std::move(eighteen));
    press("pbCheck");
    EXPECT_EQ(QStringLiteral("Too many slaves on the bus (18)!\nAt most 17 can be handled."), output());
    expectIdle();
    EXPECT_TRUE(boxes.seen().empty());
}

// An arm of four axes on an otherwise complete robot: the arm lines show the table as the name
// pass left it, so nothing of the earlier read-out may survive in it.
TEST_F(CheckVersion, EachReadOutStartsFromAnEmptyTable)
{
    startBus(sim::robotBus());
    {
        BoxAnswerer boxes({QMessageBox::Ok});
        press("pbCheck");
        ASSERT_EQ(1u, boxes.seen().size());
    }

    replaceBus(robotWithFourArmAxes());
    BoxAnswerer boxes({QMessageBox::Ok});
    press("pbCheck");

    ASSERT_EQ(1u, boxes.seen().size());
    const QString arm = line("arm", 1, QString(), "TMCM-1632") + line("arm", 2, QString(), "Plain Slave 6")
        + line("arm", 3, QString(), "TMCM-ZQ-841") + line("arm", 4, QString(), "TMCM-ZQ-841")
        + line("arm", 5, QString(), "TMCM-ZQ-841");
    EXPECT_EQ(arm + platformLines("1.48"), boxes.seen().front().text);
}
