// The firmware writer against the motor controller models of the virtual bus: every model takes
// the program's embedded image for it byte for byte and runs its version after a power cycle.
#include "controller/controllerlayouts.h"
#include "controller/motorcontroller.h"
#include "core/siibuilder.h"
#include "simbus.h"
#include "workdir.h"
#include "writefirmware.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> resource(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The four images as the firmware flow places them in the working directory.
void extractImages(const foetest::WorkDir &dir)
{
    for (const char *name : {"TMCM-841.bin", "TMCM-1610.bin", "TMCM-174.bin", "TMCM-1632.bin"}) {
        auto image = resource(QString(":/res/") + name);
        ASSERT_FALSE(image.empty()) << name;
        dir.put(name, image);
    }
}

int writeQuietly(int position)
{
    testing::internal::CaptureStdout();
    int result = WriteFirmware().writeFirmware(SimBus::Primary, position);
    testing::internal::GetCapturedStdout();
    return result;
}

TEST(ControllerModelFirmware, EachModelTakesItsEmbeddedImageAndRunsItAfterAPowerCycle)
{
    const struct {
        sim::ControllerModel model;
        const char *image;
    } models[] = {
        {sim::ControllerModel::Tmcm174, ":/res/TMCM-174.bin"},
        {sim::ControllerModel::Tmcm1632, ":/res/TMCM-1632.bin"},
        {sim::ControllerModel::TmcmZq841, ":/res/TMCM-841.bin"},
        {sim::ControllerModel::Tmcm1610, ":/res/TMCM-1610.bin"},
    };
    foetest::WorkDir dir;
    extractImages(dir);
    sim::Chain chain;
    chain.add(sim::Slave(sim::SiiBuilder().identity(0x5A5601, 1, 1).name("Zuvian board").build()));
    std::vector<std::shared_ptr<sim::MotorController>> controllers;
    for (const auto &m : models)
        controllers.push_back(sim::MotorController::addTo(chain, m.model, "1.40"));
    SimBus bus(std::move(chain));

    for (std::size_t i = 0; i < controllers.size(); ++i) {
        SCOPED_TRACE(models[i].image);
        sim::MotorController &controller = *controllers[i];
        EXPECT_EQ(writeQuietly(static_cast<int>(i) + 2), WriteFirmware::Written);
        EXPECT_EQ(controller.receivedImage(), resource(models[i].image));
        EXPECT_EQ(controller.firmwareVersion(), "1.40");
        controller.powerCycle();
        EXPECT_EQ(controller.firmwareVersion(), "1.48");
    }
}

TEST(ControllerModelFirmware, WholeRobotIsUpdatedAxisByAxis)
{
    foetest::WorkDir dir;
    extractImages(dir);
    sim::ControllerBus robot = sim::robotBus();
    auto controllers = robot.controllers;
    SimBus bus(std::move(robot.chain));

    for (int position : {7, 8, 9, 10, 11, 2, 3, 4, 5}) {
        SCOPED_TRACE(position);
        sim::MotorController &controller = *controllers.at(static_cast<std::size_t>(position));
        EXPECT_EQ(writeQuietly(position), WriteFirmware::Written);
        EXPECT_EQ(controller.receivedImage(), resource(QString(":/res/") + controller.info().firmwareFile.c_str()));
        EXPECT_EQ(bus.slave(static_cast<std::size_t>(position)).state(), sim::AlState::Init);
    }
    EXPECT_EQ(writeQuietly(1), WriteFirmware::WrongSlave);
    EXPECT_EQ(writeQuietly(6), WriteFirmware::WrongSlave);
}

TEST(ControllerModelFirmware, ControllerThatRefusesTheFileOrBootKeepsItsFirmware)
{
    foetest::WorkDir dir;
    extractImages(dir);
    sim::Chain chain;
    auto arm = sim::MotorController::addTo(chain, sim::ControllerModel::Tmcm1610, "1.40");
    SimBus bus(std::move(chain));

    // A controller that only knows another model's file refuses the write.
    arm->foe().setWriteAcceptor([](const std::string &name, uint32_t) {
        return name == "TMCM-174.bin" ? sim::FoeVerdict::accept()
                                      : sim::FoeVerdict::refuse(sim::foe_error::NotFound, "File not found");
    });
    EXPECT_EQ(writeQuietly(1), WriteFirmware::WriteFailed);
    EXPECT_FALSE(arm->interpreter().firmware().hasImage());

    bus.slave(1).alFaults().refuse = sim::AlState::Boot;
    EXPECT_EQ(writeQuietly(1), WriteFirmware::BootRefused);
    arm->powerCycle();
    EXPECT_EQ(arm->firmwareVersion(), "1.40");
}

} // namespace
