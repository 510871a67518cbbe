// The controller model's own rules that the bus tests do not reach: read-only
// and motion parameters, unknown commands, and the firmware version an image brings.
#include <gtest/gtest.h>

#include "controller/commandinterpreter.h"

namespace {

using sim::CommandInterpreter;
using sim::CommandReply;
using sim::CommandRequest;

CommandReply send(CommandInterpreter &c, uint8_t command, uint8_t type, uint32_t value,
                  uint8_t motor = 0)
{
    CommandRequest r;
    r.address = 2;
    r.command = command;
    r.type = type;
    r.motor = motor;
    r.value = value;
    return c.handle(r);
}

void unlock(CommandInterpreter &c)
{
    ASSERT_EQ(send(c, sim::command::SetAxisParameter, 248, CommandInterpreter::kPassword).value,
              CommandInterpreter::kPassword);
}

TEST(CommandInterpreter, ErrorFlagsFirmwareAndMotionCommands)
{
    CommandInterpreter c;
    c.setErrorFlags(0x0C01);
    EXPECT_EQ(0x0C01u, send(c, sim::command::GetAxisParameter, 156, 0).value);
    unlock(c);
    EXPECT_EQ(sim::reply_status::ReadOnly, send(c, sim::command::SetAxisParameter, 156, 0).status);
    EXPECT_EQ(0x0C01u, c.errorFlags());

    const auto version = send(c, sim::command::FirmwareVersion, 0, 0);
    EXPECT_EQ(0x312E3438u, version.value); // "1.48"

    CommandInterpreter locked;
    EXPECT_EQ(1u, send(locked, sim::command::SetAxisParameter, 15, 1).value);
    EXPECT_TRUE(locked.sineStarted());
    send(locked, sim::command::Stop, 0, 0);
    EXPECT_EQ(1, locked.stopCount());
    EXPECT_EQ(sim::reply_status::UnknownCommand, send(locked, 200, 0, 0).status);
}

TEST(FirmwareSlot, AnImageTakesOverAtThePowerCycleWithTheVersionAfterItsMarker)
{
    sim::FirmwareSlot slot;
    EXPECT_EQ("1.48", slot.version());

    std::vector<uint8_t> image(300, 0xA5);
    const std::string tag = "ZVFW1.50";
    std::copy(tag.begin(), tag.end(), image.begin() + 0x100);
    slot.install(image);
    EXPECT_EQ("1.48", slot.version());
    EXPECT_EQ(image, slot.receivedImage());
    slot.powerCycle();
    EXPECT_EQ("1.50", slot.version());
    slot.powerCycle();
    EXPECT_EQ("1.50", slot.version());

    slot.install(std::vector<uint8_t>(100, 0x11)); // no marker
    slot.powerCycle();
    EXPECT_EQ("1.50", slot.version());
    // a marker without four bytes after it names no version
    EXPECT_FALSE(sim::FirmwareSlot::versionOf({'x', 'Z', 'V', 'F', 'W', '1', '.', '4'}));
}

} // namespace
