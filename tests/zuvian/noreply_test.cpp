// Controllers that do not answer, answer wrongly or now and then, and slaves that cannot carry a
// command. (Late replies and replies taken for emergencies: the fault matrix and mailbox tests.)
#include "controllerbus.h"

#include "controller/commandinterpreter.h"
#include "core/siibuilder.h"

namespace {

const char kNoReplyText[]
    = "No reply from the controller: its error flags (parameter 156) could not be read";

using NoReplyTest = ControllerBusTest;

TEST_F(NoReplyTest, SilentControllerIsReadSevenTimesThenItsFlagsSevenTimesAndNoMore)
{
    sim::CommandFaults silent;
    silent.noReply = true;
    axis(4).commands().setFaults(silent);

    const std::uint64_t start = bus_->clock().nowUs();
    EXPECT_EQ(MCP_NOREPLY, readSingleParameter(4, 130));
    EXPECT_LE(bus_->clock().nowUs() - start, 14u * 1500u) << "given up within the documented time";
    std::vector<int> expected(7, 130);
    expected.insert(expected.end(), 7, 156);
    EXPECT_EQ(expected, types(axis(4).commands().requests()));
    EXPECT_STREQ(kNoReplyText, paramErrorMessage);

    // the firmware version is read as often, then the same check
    axis(4).commands().clearRequests();
    EXPECT_EQ(MCP_NOREPLY, getFirmwareVersion(4));
    expected.assign(7, 0);
    expected.insert(expected.end(), 7, 156);
    EXPECT_EQ(expected, types(axis(4).commands().requests()));
}

TEST_F(NoReplyTest, AValueOfAllOnesReadsAsNoReplyAndTheFlagsNameTheCause)
{
    axis(7).interpreter().parameters().setAxis(209, 0xFFFFFFFF);
    axis(7).interpreter().setErrorFlags(0x0C01);
    EXPECT_EQ(MCP_NOREPLY, readSingleParameter(7, 209));
    std::vector<int> expected(7, 209);
    expected.push_back(156);
    EXPECT_EQ(expected, types(axis(7).commands().requests()));
    EXPECT_STREQ("Motor was stopped at the end position.", paramErrorMessage);

    EXPECT_EQ(0u, readSingleParameter(7, 130));
    EXPECT_STREQ("", paramErrorMessage);
}

TEST_F(NoReplyTest, HighestSetFlagAmongBitsZeroToElevenDecides)
{
    const struct
    {
        uint32_t flags;
        const char* text;
    } cases[] = {
        {0x0C01, "Motor was stopped at the end position."},
        {0x0003, "Supply voltage is too low for motor operation"},
        {0x0001, "Overcurrent limit is exceeded"},
        {0x0200, "Initialization of sine commutation failed!"},
        {0x1000, ""},
        {0x0000, ""},
        {0xFFFFF7FF, "Module is in positioning mode."},
    };
    for (const auto& c : cases) {
        axis(8).interpreter().setErrorFlags(c.flags);
        EXPECT_STREQ(c.text, CheckParameterErrorFlags(8)) << std::hex << c.flags;
    }
}

// A controller that answers every third request is confirmed at the third send; the records have
// no mailbox header, so the value byte where a header's counter would be (0x30) does not make the
// repeated record a repeated message. (Eleven sends without confirmation: the command mailbox tests.)
TEST_F(NoReplyTest, WriteIsSentAgainUntilTheControllerConfirmsIt)
{
    unlock(5);
    sim::CommandFaults sometimes;
    sometimes.answerEveryNth = 3;
    axis(5).commands().setFaults(sometimes);
    axis(5).commands().clearRequests();
    EXPECT_EQ(1, writeParameter(5, 131, 0x00300007));
    EXPECT_EQ(3u, requestCount(5));
}

TEST_F(NoReplyTest, SlavesThatCannotCarryACommandGetNoTrafficAndNoValue)
{
    // position 1 is a board without mailbox; 12 and 255 are beyond the bus
    for (int position : {1, 12, 255, 0}) {
        EXPECT_EQ(MCP_NOREPLY, mbx_ethercatRead(position, 6, 4, 0, nullptr)) << position;
        EXPECT_EQ(MCP_NOREPLY, mbx_ethercatRecieve(position)) << position;
    }
    EXPECT_TRUE(slave(1).mailbox().received().empty());
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, writeParameter(255, 4, 1));
    EXPECT_EQ(
        "Fehler beim schreiben Parameter: 4 Achse: 255 \n", testing::internal::GetCapturedStdout());
}

// A slave whose read mailbox holds fewer than eight bytes: its replies cannot carry a value.
TEST(ShortMailbox, ReplyShorterThanARecordCountsAsNoReply)
{
    namespace cl = sim::controller_layout;
    sim::Chain chain;
    sim::Slave& shortSlave
        = chain.add(sim::Slave(sim::SiiBuilder()
                                   .identity(cl::VendorId, 0x64A, cl::Revision)
                                   .name("TMCM-1610")
                                   .standardMailbox(cl::MailboxOut, 0x80, cl::MailboxIn, 6)
                                   .build()));
    auto interpreter = std::make_shared<sim::CommandInterpreter>();
    interpreter->parameters().setAxis(4, 0x11223344);
    auto commands = std::make_shared<sim::CommandMailbox>(interpreter);
    shortSlave.mailbox().setHandler(commands, {sim::AlState::PreOp});

    SimBus bus(std::move(chain));
    ASSERT_GT(ec_init(SimBus::Primary), 0);
    ASSERT_EQ(1, ec_config_init(0));
    ASSERT_EQ(EC_STATE_PRE_OP, ec_statecheck(1, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE));
    ASSERT_EQ(6, ec_slave[1].mbx_rl);

    EXPECT_EQ(MCP_NOREPLY, readSingleParameter(1, 4));
    EXPECT_FALSE(commands->requests().empty()); // sent, but what came back is not a value
    ec_close();
}

} // namespace
