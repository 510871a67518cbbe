// Sine start for an axis the session cannot record, the stop record, the angle reads, the
// recording read and the parameter dump.
#include "controllerbus.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "qtfiles.h"
#include "zuvianbringup.h"
#include "zuvianmotion.h"

namespace {

class MotionTest : public ControllerBusTest
{
protected:
    void SetUp() override
    {
        ControllerBusTest::SetUp();
        std::memset(initSineAxis, 0, sizeof(initSineAxis));
    }
};

std::size_t sineStarts(sim::MotorController& controller)
{
    std::size_t n = 0;
    for (const auto& r : controller.commands().requests())
        n += r.command == 5 && r.type == 15 && r.value == 1;
    return n;
}

// Once per session is checked through the axis service; an axis beyond the five that the
// session can record gets the start every time.
TEST_F(MotionTest, SineStartIsSentEveryTimeForAnAxisThatCannotBeRecorded)
{
    for (uint8 a : {2, 3, 4, 5, 6})
        EXPECT_EQ(0, getAxisInitialization(a));
    EXPECT_EQ(1, getAxisInitialization(4));
    moveForward(8, 0);
    moveBackward(8, 100);
    EXPECT_EQ(2u, sineStarts(axis(8)));
    const uint8 expected[] = {2, 3, 4, 5, 6};
    EXPECT_EQ(0, std::memcmp(expected, initSineAxis, sizeof(expected)));
}

TEST_F(MotionTest, StopPutsTheStopCommandAtTheMailboxStart)
{
    motorStop(3);
    EXPECT_EQ(mailboxWith({3, 3, 0, 0, 0, 0, 0, 0}), lastWritten(3));
    EXPECT_EQ(1, axis(3).interpreter().stopCount());
}

TEST_F(MotionTest, SensedAngleCostsThreeReadsAndIsNotANumber)
{
    axis(9).interpreter().parameters().setAxis(211, 100);
    EXPECT_TRUE(std::isnan(getSensedAngle(9)));
    EXPECT_EQ((std::vector<int>{211, 250, 209}), types(axis(9).commands().requests()));
    EXPECT_EQ(100u, getGearRatio(9));

    testing::internal::CaptureStdout();
    calibrateJoint(9, 1);
    calibrateJoint(9, 2);
    EXPECT_EQ(
        "Missing parameter in function calibrateJoint!", testing::internal::GetCapturedStdout());
}

// The dump file lands in the working directory: a fresh one per test.
class DumpTest : public MotionTest
{
protected:
    std::string dump()
    {
        std::ifstream in(ZUVIAN_DUMPFILE);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    TestDirs dirs_;
    EtherCat_Info info_ = {};
};

TEST_F(DumpTest, RangeDumpReadsAxesUpToTheExclusiveEndAndRecordsEachRead)
{
    axis(3).interpreter().parameters().setAxis(130, 500);
    axis(4).interpreter().parameters().setAxis(4, static_cast<uint32_t>(-5));
    int params[] = {4, 0x182}; // only the low 8 bits name the parameter
    EXPECT_EQ(0, readParametersbyRange(2, 5, params, 2, &info_));
    EXPECT_EQ("2: reading 4 value        0 (0x       0)\n"
              "2: reading 386 value        0 (0x       0)\n"
              "3: reading 4 value        0 (0x       0)\n"
              "3: reading 386 value      500 (0x     1F4)\n"
              "4: reading 4 value       -5 (0xFFFFFFFB)\n"
              "4: reading 386 value        0 (0x       0)\n",
        dump());
    EXPECT_TRUE(axis(5).commands().requests().empty());
    EXPECT_EQ(6u, getLastIndexofArray(info_.params));
    EXPECT_EQ(3, info_.params[3].axis);
    EXPECT_EQ(130, info_.params[3].type);
    EXPECT_EQ(0xF4, info_.params[3].value);
}

TEST_F(DumpTest, FullDumpSkipsSilentValuesAndTheListStopsRecordingAtNinety)
{
    axis(7).interpreter().parameters().setAxis(20, 0xFFFFFFFF); // reads as no reply: no line
    EXPECT_EQ(0, readallParameters(7, 8, &info_));
    const std::string text = dump();
    EXPECT_EQ(255, std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(std::string::npos, text.find("7: reading 20 value"));
    EXPECT_NE(std::string::npos, text.find("7: reading 255 value"));
    EXPECT_EQ(0xFFFFFFFFu, getLastIndexofArray(info_.params));
    // parameter 0 is recorded like any other, but its entry stays free for the next one
    EXPECT_EQ(1, info_.params[0].type);
    EXPECT_EQ(90, info_.params[89].type);

    axis(7).interpreter().parameters().setAxis(21, 0x12345678);
    EXPECT_EQ(0x12345678u, readParameter(7, 21, &info_));
    EXPECT_EQ(90, info_.params[89].type);
}

} // namespace
