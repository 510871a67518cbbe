// The axis service's motion commands reach the controllers: the sine commutation starts once per
// session however often an axis is moved, and a stop is sent every time.
#include <gtest/gtest.h>

#include "EtherCatWrapper.h"
#include "controller/controllerlayouts.h"
#include "simbus.h"

namespace {

std::size_t sineStarts(sim::MotorController &controller)
{
    std::size_t n = 0;
    for (const auto &r : controller.commands().requests())
        n += r.command == 5 && r.type == 15 && r.value == 1;
    return n;
}

}

TEST(EtherCatWrapper, MovesStartTheSineOncePerSessionAndStopIsSentEachTime)
{
    sim::ControllerBus robot = sim::robotBus();
    SimBus bus(std::move(robot.chain));
    const QString sim = QString::fromLatin1(SimBus::Primary);
    const QString both = QStringLiteral("Arm1 + Platform");
    sim::MotorController &arm1 = robot.controller(7);
    sim::MotorController &wheel2 = robot.controller(3);

    for (int session = 1; session <= 2; ++session) {
        SCOPED_TRACE(session);
        EtherCatWrapper wrapper;
        ASSERT_EQ(0, wrapper.InitEtherCat(both, sim));
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
