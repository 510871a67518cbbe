// Reads and confirmed writes through the command mailbox on the "robot" bus: what goes on the wire
// and what the controllers hold. (Stores outlasting a power cycle: the parameter flow's.)
#include "controllerbus.h"

namespace {

class GarbledHeaderEcho : public sim::MailboxHandler
{
public:
    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        out.post({0xDE, 0xAD, 0xBE, 0xEF, message[4], message[5], message[6], message[7]});
    }
};

using CommandMailboxTest = ControllerBusTest;

TEST_F(CommandMailboxTest, RequestsCarryEightBytesAtTheMailboxStartValueMostSignificantFirst)
{
    unlock(2);
    ASSERT_EQ(1, writeParameter(2, 130, 1000));
    EXPECT_EQ(mailboxWith({2, 5, 130, 0, 0x00, 0x00, 0x03, 0xE8}), lastWritten(2));

    EXPECT_EQ(1000u, readSingleParameter(2, 130));
    EXPECT_EQ(mailboxWith({2, 6, 130, 0, 0, 0, 0, 0}), lastWritten(2));

    uint8 scratch[4] = {9, 9, 9, 9};
    EXPECT_EQ(0x312E3438u, mbx_ethercatRead(2, 136, 0, 0, scratch));
    EXPECT_EQ(0, scratch[0] | scratch[1] | scratch[2] | scratch[3]);
    EXPECT_EQ(0x312E3438u, readFirmwareParameter(11, 0)); // command 136 whatever the mode

    unlock(7);
    ASSERT_EQ(1, writeGlobalPlatformParameter(7, 7, 1, 2, 0x01020304));
    EXPECT_EQ(mailboxWith({7, 9, 1, 2, 0x01, 0x02, 0x03, 0x04}), lastWritten(7));
}

TEST_F(CommandMailboxTest, ConfirmationLooksOnlyAtTheValueBytesOfTheReply)
{
    slave(3).mailbox().setHandler(std::make_shared<GarbledHeaderEcho>(),
        {sim::AlState::PreOp, sim::AlState::SafeOp, sim::AlState::Op});
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, writeParameter(3, 130, 1000));
    EXPECT_EQ(1, saveParameter(3, 130, 1000));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(2u, slave(3).mailbox().received().size()); // each confirmed at the first send
}

TEST_F(CommandMailboxTest, RangesAddressEveryAxisOnceInAscendingOrder)
{
    auto log = std::make_shared<std::vector<int>>();
    for (int position = 1; position <= 11; ++position) {
        if (position == 1 || position == 6)
            continue;
        slave(position).mailbox().setHandler(
            std::make_shared<AddressLog>(
                // The chain keeps the controller alive as long as the log.
                std::shared_ptr<sim::MailboxHandler>(
                    std::shared_ptr<void>(), &axis(position).commands()),
                position, log),
            {sim::AlState::PreOp, sim::AlState::SafeOp, sim::AlState::Op});
    }

    EXPECT_EQ(1, writePlatformParameter(2, 5, 248, kPassword));
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5}), *log);

    log->clear();
    EXPECT_EQ(1, writePlatformParameter(9, 8, 248, kPassword));
    EXPECT_EQ(1, writeGlobalPlatformParameter(11, 10, 0, 2, 5));
    EXPECT_TRUE(log->empty());

    // one failing axis in the middle does not stop the walk, and the range reports it
    unlock(7);
    unlock(9);
    log->clear();
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, writeGlobalPlatformParameter(7, 9, 1, 2, 77));
    EXPECT_EQ("Fehler beim globalen schreiben Parameter: 1 Achse: 8 \n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(77u, axis(7).interpreter().parameters().global(2, 1));
    EXPECT_EQ(77u, axis(9).interpreter().parameters().global(2, 1));
    std::vector<int> expected{7};
    expected.insert(expected.end(), 11, 8);
    expected.push_back(9);
    EXPECT_EQ(expected, *log);
}

TEST_F(CommandMailboxTest, WithoutPasswordNothingIsConfirmedAndEachFailureNamesParameterAndAxis)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, writeParameter(3, 130, 500));
    EXPECT_EQ(0, saveParameter(3, 130, 500));
    EXPECT_EQ(0, savePlatformParameter(10, 10, 131, 0));
    EXPECT_EQ(0, saveGlobalPlatformParameter(11, 11, 1, 2, 0)); // 0 is not echoed either
    EXPECT_EQ("Fehler beim schreiben Parameter: 130 Achse: 3 \n"
              "Fehler beim Speichern Parameter: 130 Achse: 3 \n"
              "Fehler beim schreiben Parameter: 131 Achse: 10 \n"
              "Fehler beim globalen speichern Parameter: 1 Achse: 11 \n",
        testing::internal::GetCapturedStdout());
    EXPECT_EQ(0u, axis(3).interpreter().parameters().axis(130));
    EXPECT_EQ(22u, requestCount(3)); // eleven sends each
}

} // namespace
