// The axis service on the virtual bus: which buses make a session usable for which setup, the
// slave ranges offered, the motion commands, and that a stopped session leaves nothing open.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "BusSession.h"
#include "EtherCatWrapper.h"
#include "controller/controllerlayouts.h"
#include "core/layouts.h"
#include "writefirmware.h"
#include "qtprint.h"
#include "simbus.h"

namespace {

const QString kSim = QString::fromLatin1(SimBus::Primary);
const QString kBoth = QStringLiteral("Arm1 + Platform");

QMap<int, QString> axes(int firstKey, int count)
{
    QMap<int, QString> map;
    for (int axis = 1; axis <= count; ++axis)
        map.insert(firstKey + axis - 1, QStringLiteral("Achse%1").arg(axis));
    return map;
}

std::pair<int, int> selected(
    const EtherCatWrapper& wrapper, const QMap<int, QString>& map, int index)
{
    int from = -7;
    int to = -7;
    wrapper.GetSelectedArmSlave(map, index, from, to);
    return {from, to};
}

std::size_t sineStarts(sim::MotorController& controller)
{
    std::size_t n = 0;
    for (const auto& r : controller.commands().requests())
        n += r.command == 5 && r.type == 15 && r.value == 1;
    return n;
}

}

TEST(EtherCatWrapper, ArmAloneIsUsableWithItsAxesAtTwoToSix)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    SimBus bus(sim::armBus().chain);
    EtherCatWrapper wrapper;
    EXPECT_FALSE(wrapper.isEthercatRunning());
    ASSERT_EQ(0, wrapper.InitEtherCat(QStringLiteral("Arm1"), kSim));
    EXPECT_TRUE(wrapper.isEthercatRunning());
    EXPECT_EQ(6, wrapper.GetAllSlaves());
    EXPECT_EQ(5, wrapper.GetArmSlaves());
    EXPECT_EQ(0, wrapper.GetPlatformSlaves());
    EXPECT_EQ(1, wrapper.GetArmOffset());
    EXPECT_EQ(QStringLiteral("TMCM-174"), wrapper.GetPlatformSlaveName());
    EXPECT_EQ(QStringLiteral("TMCM-ZQ-841"), wrapper.GetArmSlaveName());

    QMap<int, QString> expected = axes(2, 5);
    expected.insert(0, QStringLiteral("Alle Achsen"));
    const QMap<int, QString> range = wrapper.GetSlaveRange(EtherCatWrapper::Arm1);
    EXPECT_EQ(expected, range);
    EXPECT_EQ(std::make_pair(2, 6), selected(wrapper, range, 0));
    EXPECT_EQ(std::make_pair(4, 4), selected(wrapper, range, 3));
    // An index past the map leaves the start as the caller set it and ends at the last axis.
    EXPECT_EQ(std::make_pair(-7, 6), selected(wrapper, range, 9));

    EXPECT_EQ(
        QStringLiteral("Die erforderliche Anzahl der Slaves (4) für die Platform konnte nicht "
                       "ermittelt werden. Aktuell: 0"),
        wrapper.GetSlaveRange(EtherCatWrapper::Platform).value(0));

    EXPECT_EQ(QString(), wrapper.GetSlaveName(7));

    wrapper.StopEthercat();
    EXPECT_FALSE(wrapper.isEthercatRunning());
    EXPECT_EQ(0, bus.openHandles());
    for (std::size_t s = 1; s <= 6; ++s)
        EXPECT_EQ(sim::AlState::SafeOp, bus.slave(s).state()) << "slave " << s;
    // The counts stay readable after the session.
    EXPECT_EQ(5, wrapper.GetArmSlaves());
}

TEST(EtherCatWrapper, ArmOfFiveOnSevenSlavesOffersOnlyAllAxes)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    SimBus bus(sim::controllerBus("BaaawwB"));
    EtherCatWrapper wrapper;
    ASSERT_EQ(0, wrapper.InitEtherCat(QStringLiteral("Arm1"), kSim));
    EXPECT_EQ(0, wrapper.GetArmOffset());
    const QMap<int, QString> range = wrapper.GetSlaveRange(EtherCatWrapper::Arm1);
    EXPECT_EQ((QMap<int, QString>{{0, QStringLiteral("Alle Achsen")}}), range);
    EXPECT_EQ(std::make_pair(0, 0), selected(wrapper, range, 0));
}

TEST(EtherCatWrapper, MissingAxesAreReportedInKeyZero)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    {
        SimBus bus(sim::controllerBus("Bww"));
        EtherCatWrapper wrapper;
        EXPECT_EQ(-1, wrapper.InitEtherCat(QStringLiteral("Arm1"), kSim));
        const QString text
            = QStringLiteral("Die Anzahl aller gefundenen Slaves (3) ist unterhalb der "
                             "erforderlichen Mindestanzahl (5)");
        EXPECT_EQ((QMap<int, QString>{{0, text}}), wrapper.GetSlaveRange(EtherCatWrapper::Arm1));
        EXPECT_EQ(
            (QMap<int, QString>{{0, text}}), wrapper.GetSlaveRange(EtherCatWrapper::Platform));
    }
    SimBus bus(sim::controllerBus("Bppqqw"));
    EtherCatWrapper wrapper;
    ASSERT_EQ(0, wrapper.InitEtherCat(QStringLiteral("Platform"), kSim));
    EXPECT_EQ(QStringLiteral(
                  "Die erforderliche Anzahl der Slaves (5) für den Arm1 konnte nicht ermittelt "
                  "werden. Aktuell: 1"),
        wrapper.GetSlaveRange(EtherCatWrapper::Arm1).value(0));
    EXPECT_EQ(axes(2, 4), wrapper.GetSlaveRange(EtherCatWrapper::Platform));
}

// Each row: the bus (see sim::controllerBus), the setup asked for, and whether the session is usable.
TEST(EtherCatWrapper, CountsDecideWhetherTheSessionIsUsable)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    const struct
    {
        const char* what;
        const char* bus;
        const char* setup;
        int result;
    } rows[] = {
        {"arm alone, both asked", "Baaaww", "Arm1 + Platform", 0},
        {"arm alone, platform asked", "Baaaww", "Platform", 0},
        {"wheel base alone, arm asked", "Bppqq", "Arm1", 0},
        {"wheel base alone, platform asked", "Bppqq", "Platform", 0},
        {"three wheels and an arm, arm asked", "Bppqaaaww", "Arm1", 0},
        {"three wheels and an arm, both asked", "Bppqaaaww", "Arm1 + Platform", -1},
        {"three wheels and an arm, platform asked", "Bppqaaaww", "Platform", -1},
        {"four wheels and four arm axes on eleven slaves", "BppqqaaawBB", "Arm1", 0},
        {"four wheels and four arm axes on ten slaves", "BppqqaaawB", "Arm1", -1},
        {"the setup is compared case-sensitively", "Bppqaaaww", "arm1", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SimBus bus(sim::controllerBus(row.bus));
        EtherCatWrapper wrapper;
        EXPECT_EQ(row.result, wrapper.InitEtherCat(QString::fromLatin1(row.setup), kSim));
    }
}

TEST(EtherCatWrapper, NoBusNoSlavesAndNoSetup)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    SimBus bus(sim::armBus().chain);
    EtherCatWrapper wrapper;
    EXPECT_EQ(-1, wrapper.InitEtherCat(kBoth, QString()));
    EXPECT_FALSE(wrapper.isEthercatRunning());
    EXPECT_EQ(0, wrapper.GetAllSlaves());
    EXPECT_EQ((QMap<int, QString>{{0, QStringLiteral("Keine Slaves vorhanden!")}}),
        wrapper.GetSlaveRange(EtherCatWrapper::Arm1));

    EtherCatException* thrown = nullptr;
    try {
        wrapper.InitEtherCat(QString(), kSim);
    } catch (EtherCatException* e) {
        thrown = e;
    }
    ASSERT_NE(nullptr, thrown);
    EXPECT_STREQ("ERROR: Missing parameter -> setup", thrown->what());
    delete thrown;
    EXPECT_EQ(0, bus.openHandles());
}

// The sine commutation starts once per session however often an axis is moved; a stop is sent
// every time.
TEST(EtherCatWrapper, MovesStartTheSineOncePerSessionAndStopIsSentEachTime)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    SimBus bus(sim::robotBus());
    sim::MotorController& arm1 = bus.controller(7);
    sim::MotorController& wheel2 = bus.controller(3);

    for (int session = 1; session <= 2; ++session) {
        SCOPED_TRACE(session);
        EtherCatWrapper wrapper;
        ASSERT_EQ(0, wrapper.InitEtherCat(kBoth, kSim));
        wrapper.MoveForward(7, 1000);
        wrapper.MoveBackward(7, 1000);
        wrapper.MoveForward(7, 0);
        wrapper.MoveBackward(3, 0);
        EXPECT_EQ(std::size_t(session), sineStarts(arm1));
        EXPECT_EQ(std::size_t(session), sineStarts(wheel2));
        EXPECT_TRUE(arm1.interpreter().sineStarted());

        wrapper.MotorStop(7);
        wrapper.MotorStop(7);
        EXPECT_EQ(2 * session, arm1.interpreter().stopCount());
        EXPECT_EQ(0, wheel2.interpreter().stopCount());
        wrapper.StopEthercat();
    }
}

namespace {

// The application's entries into the bus refuse a caller that does not hold the session, in every
// build: nothing reaches the wire, and no session is left open.
TEST(BusEntries, RefuseACallerWithoutTheSession)
{
    SimBus bus(sim::armBus().chain);
    EtherCatWrapper wrapper;
    EtherCatException* thrown = nullptr;
    try {
        wrapper.InitEtherCat(kBoth, kSim);
    } catch (EtherCatException* e) {
        thrown = e;
    }
    ASSERT_NE(nullptr, thrown);
    EXPECT_STREQ("ERROR: the bus session is not held by the caller", thrown->what());
    delete thrown;
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteFirmware::NoSession, WriteFirmware().writeFirmware(kSim, 2));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, bus.link().framesSent());
    EXPECT_EQ(0, bus.openHandles());
}

}
