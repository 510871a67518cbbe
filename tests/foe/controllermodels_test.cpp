// The firmware writer against the motor controller models of the virtual bus: every model takes
// the program's embedded image for it byte for byte and runs its version after a power cycle.
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

TEST(ControllerModelFirmware, EachModelTakesItsEmbeddedImageAndRunsItAfterAPowerCycle)
{
    const std::pair<sim::ControllerModel, const char *> models[] = {
        {sim::ControllerModel::Tmcm174, "TMCM-174.bin"},
        {sim::ControllerModel::Tmcm1632, "TMCM-1632.bin"},
        {sim::ControllerModel::TmcmZq841, "TMCM-841.bin"},
        {sim::ControllerModel::Tmcm1610, "TMCM-1610.bin"},
    };
    // The images as the firmware flow places them in the working directory.
    foetest::WorkDir dir;
    for (const auto &m : models) {
        ASSERT_FALSE(resource(QString(":/res/") + m.second).empty()) << m.second;
        dir.put(m.second, resource(QString(":/res/") + m.second));
    }
    sim::Chain chain;
    chain.add(sim::Slave(sim::SiiBuilder().identity(0x5A5601, 1, 1).name("Zuvian board").build()));
    std::vector<std::shared_ptr<sim::MotorController>> controllers;
    for (const auto &m : models)
        controllers.push_back(sim::MotorController::addTo(chain, m.first, "1.40"));
    SimBus bus(std::move(chain));

    for (std::size_t i = 0; i < controllers.size(); ++i) {
        SCOPED_TRACE(models[i].second);
        testing::internal::CaptureStdout();
        EXPECT_EQ(WriteFirmware().writeFirmware(SimBus::Primary, static_cast<int>(i) + 2), WriteFirmware::Written);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "write successfull\n");
        EXPECT_EQ(controllers[i]->receivedImage(), resource(QString(":/res/") + models[i].second));
        EXPECT_EQ(bus.slave(i + 2).state(), sim::AlState::Init);
        EXPECT_EQ(controllers[i]->firmwareVersion(), "1.40");
        controllers[i]->powerCycle();
        EXPECT_EQ(controllers[i]->firmwareVersion(), "1.48");
    }
}

} // namespace
