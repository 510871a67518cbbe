// Loading a parameter set on the virtual bus: the keys and records a file yields, entries that are
// left out, and the wheel-base values read from the four controllers that will be written.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "BusSession.h"
#include "EtherCatWrapper.h"
#include "controller/controllerlayouts.h"
#include "core/layouts.h"
#include "qtfiles.h"
#include "qtprint.h"
#include "simbus.h"

namespace {

const QString kSim = QString::fromLatin1(SimBus::Primary);

QString writeFile(const QTemporaryDir& dir, const QByteArray& body)
{
    const QString path = dir.filePath(QStringLiteral("param.xml"));
    putFile(path,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<zuvian><Parameters>" + body
            + "</Parameters></zuvian>\r\n");
    return path;
}

}

// Two boards put the wheel base at slaves 3 to 6; slave 2 is not read. A value on one axis alone
// is named with that axis's slave, and the value kept is that of the last axis.
TEST(ParameterLoading, WheelBaseValuesAreTalliedOverTheControllersToBeWritten)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    sim::ControllerBus robot = sim::controllerBus("BBppqq");
    struct Case
    {
        quint8 type;
        quint32 values[4];
        quint32 current;
        const char* message;
    };
    const Case cases[] = {
        {4, {500, 500, 400, 500}, 500,
            "Different Value for Axis 5 on Platform detected! CommonValue: 500. Different Value: "
            "400"},
        {5, {1, 2, 3, 4}, 4,
            "Different Value for Axis 6 on Platform detected! CommonValue: 0. Different Value: 4"},
        {6, {7, 7, 9, 9}, 9, ""},
    };
    QByteArray section = "<Platform>";
    for (const Case& c : cases) {
        for (int k = 0; k < 4; ++k)
            robot.controller(std::size_t(k + 3))
                .interpreter()
                .parameters()
                .setAxisDefault(c.type, c.values[k]);
        section += "<Parameter Type=\"" + QByteArray::number(c.type)
            + "\" Desc=\"d\" Value=\"1\"></Parameter>";
    }
    QTemporaryDir dir;
    const QString file = writeFile(dir, section + "</Platform>");
    SimBus bus(std::move(robot));

    EtherCatWrapper wrapper;
    ASSERT_EQ(0, wrapper.InitEtherCat(QStringLiteral("Platform"), kSim));
    wrapper.LoadConfiguration(file, 0, EtherCatWrapper::Platform, 3);
    const QMap<QString, EtherCatParameter> loaded = wrapper.GetConfigParameters();
    ASSERT_EQ(3, loaded.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        const EtherCatParameter entry
            = loaded.value(QStringLiteral("Platform_Axis0_000%1").arg(c.type));
        EXPECT_EQ(c.type, entry.ParameterType);
        EXPECT_EQ(0, entry.axis);
        EXPECT_EQ(c.current, entry.CurrentValue);
        EXPECT_EQ(QString::fromLatin1(c.message), entry.errorMessage);
    }
}

// On the robot arm axis n is slave n + 6. Types are padded to four digits, a repeated Type
// replaces the earlier entry, comments and entries out of range are left out, and the loading
// ends at the first axis the file lacks.
TEST(ParameterLoading, ArmKeysRecordsAndEntriesLeftOut)
{
    const BusSession::Lock session; // the wrapper is the bus entry; the test holds the bus
    sim::ControllerBus robot = sim::robotBus();
    robot.controller(7).interpreter().parameters().setAxisDefault(130, 42);
    sim::CommandFaults silent;
    silent.noReply = true;
    robot.controller(8).commands().setFaults(silent);
    QTemporaryDir dir;
    const QString file = writeFile(dir,
        "<Arm><Axis1>"
        "<Parameter Type=\"4\" Desc=\"speed\" Value=\"-200\"></Parameter>"
        "<!-- a comment -->"
        "<Parameter Type=\"130\" Desc=\"first\" Value=\"2\"></Parameter>"
        "<Parameter Type=\"130\" Desc=\"second\" Value=\"3\"></Parameter>"
        "<Parameter Type=\"300\" Desc=\"too large\" Value=\"1\"></Parameter>"
        "<Parameter Type=\"5\" Desc=\"no number\" Value=\"x\"></Parameter>"
        "<Parameter Type=\"6\" Desc=\"too large\" Value=\"4294967296\"></Parameter>"
        "</Axis1><Axis2>"
        "<Parameter Type=\"250\" Desc=\"steps\" Value=\"4000\"></Parameter>"
        "</Axis2><Axis4>"
        "<Parameter Type=\"7\" Desc=\"after a gap\" Value=\"1\"></Parameter>"
        "</Axis4></Arm>");
    SimBus bus(std::move(robot.chain));

    EtherCatWrapper wrapper;
    ASSERT_EQ(0, wrapper.InitEtherCat(QStringLiteral("Arm1"), kSim));
    wrapper.LoadConfiguration(file, 0, EtherCatWrapper::Arm1, 2);
    const QMap<QString, EtherCatParameter> loaded = wrapper.GetConfigParameters();
    EXPECT_EQ(
        (QStringList{"Arm1_Axis1_0004", "Arm1_Axis1_0130", "Arm1_Axis2_0250"}), loaded.keys());

    const EtherCatParameter speed = loaded.value(QStringLiteral("Arm1_Axis1_0004"));
    EXPECT_EQ(quint32(-200), speed.ParameterValue);
    EXPECT_EQ(7, speed.axis);
    const EtherCatParameter repeated = loaded.value(QStringLiteral("Arm1_Axis1_0130"));
    EXPECT_EQ(QStringLiteral("second"), repeated.Description);
    EXPECT_EQ(3u, repeated.ParameterValue);
    EXPECT_EQ(42u, repeated.CurrentValue);
    EXPECT_EQ(QString(), repeated.errorMessage);
    const EtherCatParameter silentAxis = loaded.value(QStringLiteral("Arm1_Axis2_0250"));
    EXPECT_EQ(8, silentAxis.axis);
    EXPECT_EQ(0xFFFFFFFFu, silentAxis.CurrentValue);
    EXPECT_EQ(
        QStringLiteral("Parameter Type No. 0250. No Value available!"), silentAxis.errorMessage);
}
