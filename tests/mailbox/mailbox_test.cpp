/*
 * The master's error list (first in, first out, the newest 64 kept), and mailbox transport against
 * emulated slaves: a message there and back, emergencies, a full mailbox, unusable mailboxes.
 */
#include "busfixture.h"
#include "core/siibuilder.h"
#include "core/slave.h"
#include "errorlist.h"

#include "ethercatconfig.h"
#include "ethercatmain.h"

#include <cstring>
#include <memory>

namespace {

class ErrorRing : public ::testing::Test
{
protected:
    void SetUp() override { drain(); }
    void TearDown() override { drain(); }

    static int drain() { return int(popErrors().size()); }

    static void pushSlave(uint16 slave)
    {
        ec_errort e = {};
        e.Slave = slave;
        e.Etype = EC_ERR_TYPE_SDO_ERROR;
        e.AbortCode = 0x06020000 + slave;
        ec_pusherror(&e);
    }
};

// First in, first out over many wrap-arounds; when more than 64 arrive unread, the oldest go.
TEST_F(ErrorRing, OrderSurvivesWrapAroundsAndTheNewestSixtyFourAreKept)
{
    uint16 next = 0;
    uint16 expected = 0;
    ec_errort e;
    for (int round = 0; round < 100; round++) {
        for (int i = 0; i < 3; i++)
            pushSlave(next++);
        for (int i = 0; i < 3; i++) {
            ASSERT_TRUE(ec_poperror(&e));
            ASSERT_EQ(e.Slave, expected++);
        }
    }
    EXPECT_FALSE(ec_iserror());
    for (int i = 0; i < 70; i++)
        pushSlave(next++);
    ASSERT_TRUE(ec_poperror(&e));
    EXPECT_EQ(e.Slave, next - 64) << "the 6 oldest of 70 overwritten";
    EXPECT_EQ(e.AbortCode, 0x06020000u + e.Slave);
    EXPECT_EQ(drain(), 63);
}

TEST_F(ErrorRing, FlagFollowsPushAndEmptyPop)
{
    EXPECT_FALSE(EcatError);
    pushSlave(7);
    EXPECT_TRUE(EcatError);
    ec_errort e;
    EXPECT_TRUE(ec_poperror(&e));
    EXPECT_TRUE(EcatError) << "cleared only by a pop that finds the ring empty";
    EXPECT_FALSE(ec_poperror(&e));
    EXPECT_FALSE(EcatError);
}

/* Answers every message with the same header and each payload byte plus one; may post messages
 * (emergencies) ahead of the answer. */
class EchoHandler : public sim::MailboxHandler
{
public:
    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        for (const sim::Bytes& m : ahead)
            out.post(m);
        if (!answer)
            return;
        sim::Bytes reply = message;
        for (size_t i = 6; i < reply.size(); i++)
            reply[i] = static_cast<uint8_t>(reply[i] + 1);
        out.post(reply);
    }

    std::vector<sim::Bytes> ahead;
    bool answer = true;
};

sim::Bytes emergency(uint16_t errorCode)
{
    return {10, 0, 0, 0, 0, ECT_MBXT_COE, 0x00, 0x10, /* CANOpen: service 1 */
        static_cast<uint8_t>(errorCode), static_cast<uint8_t>(errorCode >> 8), 0x11, 0x22, 0x44,
        0x33, 0x66, 0x55};
}

sim::Bytes mailboxSii(uint16_t size)
{
    return sim::SiiBuilder()
        .identity(0x286, 0x64A, 1)
        .name("Mailbox Slave")
        .standardMailbox(0x1000, size, static_cast<uint16_t>(0x1000 + size), size)
        .mailboxProtocols(sim::mbxproto::CoE)
        .build();
}

class Mailbox : public BusTest
{
protected:
    /* Slave 1 a mailbox slave, slave 2 without mailbox, slave 3 with 2048-byte mailboxes, slave 4
     * with mailboxes of the largest size the master takes, 1024 bytes. */
    void SetUp() override
    {
        sim::Chain chain;
        chain.add(sim::Slave(mailboxSii(0x80)));
        chain.add(sim::Slave(sim::SiiBuilder().identity(0xA5A, 1, 1).name("Plain").build()));
        chain.add(sim::Slave(mailboxSii(2048)));
        chain.add(sim::Slave(mailboxSii(EC_MAXMBX)));
        echo_ = std::make_shared<EchoHandler>();
        for (std::size_t n : {1, 3, 4})
            chain.slave(n).mailbox().setHandler(echo_, {sim::AlState::PreOp});
        start(std::move(chain));
        ASSERT_EQ(ec_config_init(0), 4);
        ASSERT_EQ(ec_statecheck(1, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        popErrors();
        ec_clearmbx(&tx_);
        ec_clearmbx(&rx_);
    }

    void TearDown() override
    {
        BusTest::TearDown();
        popErrors();
    }

    /* A CoE request with a 4-byte payload in tx_, with the slave's next counter. */
    void request(uint16 slave)
    {
        ec_slave[slave].mbx_cnt = ec_nextmbxcnt(ec_slave[slave].mbx_cnt);
        const uint8 type = static_cast<uint8>(ECT_MBXT_COE + (ec_slave[slave].mbx_cnt << 4));
        const uint8 msg[10] = {4, 0, 0, 0, 0, type, 0xA0, 0xB0, 0xC0, 0xD0};
        memcpy(tx_, msg, sizeof msg);
    }

    void expectEcho()
    {
        EXPECT_EQ(rx_[0], 4);
        EXPECT_EQ(rx_[5] & 0x0F, ECT_MBXT_COE);
        EXPECT_EQ(rx_[6], 0xA1);
        EXPECT_EQ(rx_[9], 0xD1);
    }

    std::shared_ptr<EchoHandler> echo_;
    ec_mbxbuft tx_;
    ec_mbxbuft rx_;
};

// Slave 4 has the largest mailbox the master takes.
TEST_F(Mailbox, MessageThereAndBack)
{
    for (uint16 slave : {1, 4}) {
        SCOPED_TRACE(slave);
        ASSERT_EQ(ec_statecheck(slave, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        request(slave);
        ASSERT_EQ(ec_mbxsend(slave, &tx_, EC_TIMEOUT_SAFE), 1);
        const auto& received = bus_->slave(slave).mailbox().received();
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].size(), ec_slave[slave].mbx_l) << "the whole mailbox area is written";
        EXPECT_EQ(0, memcmp(received[0].data(), tx_, ec_slave[slave].mbx_l));
        EXPECT_GT(ec_mbxreceive(slave, &rx_, EC_TIMEOUT_MBXRX), 0);
        expectEcho();
        EXPECT_FALSE(ec_iserror());
    }
}

TEST_F(Mailbox, EmergenciesGoToTheErrorListWithOrWithoutAReply)
{
    echo_->ahead = {emergency(0x8110)};
    request(1);
    ASSERT_EQ(ec_mbxsend(1, &tx_, EC_TIMEOUT_SAFE), 1);
    EXPECT_GT(ec_mbxreceive(1, &rx_, EC_TIMEOUT_MBXRX), 0);
    expectEcho();
    ec_errort e;
    ASSERT_TRUE(ec_poperror(&e));
    EXPECT_EQ(e.Etype, EC_ERR_TYPE_EMERGENCY);
    EXPECT_EQ(e.Slave, 1);
    EXPECT_EQ(e.ErrorCode, 0x8110);
    EXPECT_EQ(e.ErrorReg, 0x11);
    EXPECT_EQ(e.b1, 0x22);
    EXPECT_EQ(e.w1, 0x3344);
    EXPECT_EQ(e.w2, 0x5566);
    EXPECT_FALSE(ec_poperror(&e)) << "recorded once";

    // Without a reply behind it, the emergency is still recorded once and nothing is returned.
    echo_->ahead = {emergency(0x5000)};
    echo_->answer = false;
    request(1);
    ASSERT_EQ(ec_mbxsend(1, &tx_, EC_TIMEOUT_SAFE), 1);
    EXPECT_LE(ec_mbxreceive(1, &rx_, 20000), 0);
    size_t emergencies = 0;
    for (const ec_errort& error : popErrors())
        emergencies += error.Etype == EC_ERR_TYPE_EMERGENCY;
    EXPECT_EQ(emergencies, 1u);
}

TEST_F(Mailbox, FullWriteMailboxThatNeverEmpties)
{
    bus_->slave(1).mailboxFaults().holdWriteMailbox = true;
    request(1);
    ASSERT_EQ(ec_mbxsend(1, &tx_, EC_TIMEOUT_SAFE), 1);
    EXPECT_EQ(ec_mbxempty(1, 1000), 0);
    uint64_t before = bus_->clock().nowUs();
    request(1);
    EXPECT_EQ(ec_mbxsend(1, &tx_, 5000), 0);
    EXPECT_GE(bus_->clock().nowUs() - before, 5000u);
    EXPECT_EQ(bus_->slave(1).mailbox().received().size(), 0u) << "the slave never took a message";
    EXPECT_EQ(bus_->slave(1).esc().memory()[0x1000 + 6], 0xA0) << "the first message stays";
}

// The fuzz targets bound a run by frames: past the budget the bus is gone, and every wait the
// master still makes ends after a poll or two however many exchanges the run goes on with; with
// the bound lifted the bus answers again.
TEST_F(Mailbox, AFrameBudgetBoundsWhatUnansweredExchangesCost)
{
    bus_->slave(1).mailboxFaults().neverAnswer = true;
    constexpr std::uint64_t budget = 100;
    bus_->limitFrames(budget);
    constexpr int exchanges = 50;
    for (int i = 0; i < exchanges; i++) {
        request(1);
        if (ec_mbxsend(1, &tx_, EC_TIMEOUT_SAFE) > 0) {
            EXPECT_EQ(ec_mbxreceive(1, &rx_, EC_TIMEOUT_MBXRX), 0);
        }
    }
    EXPECT_GT(bus_->framesSinceLimit(), budget);
    EXPECT_LE(bus_->framesSinceLimit() - budget, std::uint64_t(4 * exchanges))
        << "an unanswered receive alone polls thousands of times without the bound";

    bus_->limitFrames(0);
    bus_->slave(1).mailboxFaults().neverAnswer = false;
    request(1);
    ASSERT_EQ(ec_mbxsend(1, &tx_, EC_TIMEOUT_SAFE), 1);
    ASSERT_GT(ec_mbxreceive(1, &rx_, EC_TIMEOUT_MBXRX), 0);
    expectEcho();
}

TEST_F(Mailbox, SlavesWithoutUsableMailboxAreRefusedWithoutBusAccess)
{
    EXPECT_EQ(ec_slave[2].mbx_l, 0);
    EXPECT_EQ(ec_slave[3].mbx_l, 2048) << "the slave's word is kept as read";
    uint64_t frames = bus_->chain().frames();
    request(2);
    EXPECT_EQ(ec_mbxsend(2, &tx_, EC_TIMEOUT_SAFE), 0);
    EXPECT_EQ(ec_mbxreceive(2, &rx_, EC_TIMEOUT_SAFE), 0);
    /* 2048 bytes would not fit the 1024-byte buffer: refused rather than overrun. */
    EXPECT_EQ(ec_mbxsend(3, &tx_, EC_TIMEOUT_SAFE), 0);
    EXPECT_EQ(ec_mbxreceive(3, &rx_, EC_TIMEOUT_SAFE), 0);
    EXPECT_EQ(ec_mbxsend(EC_MAXSLAVE, &tx_, EC_TIMEOUT_SAFE), 0);
    EXPECT_EQ(ec_mbxreceive(60000, &rx_, EC_TIMEOUT_SAFE), 0);
    EXPECT_EQ(bus_->chain().frames(), frames);
    EXPECT_TRUE(bus_->slave(3).mailbox().received().empty());
}

TEST_F(Mailbox, ShortCoeMessageIsNotTakenForAnEmergency)
{
    /* CoE header announcing only 2 bytes: not a whole emergency, so it goes to the caller. */
    sim::Bytes shortMsg = {2, 0, 0, 0, 0, ECT_MBXT_COE, 0x00, 0x10};
    echo_->ahead = {shortMsg};
    echo_->answer = false;
    request(1);
    ASSERT_EQ(ec_mbxsend(1, &tx_, EC_TIMEOUT_SAFE), 1);
    EXPECT_GT(ec_mbxreceive(1, &rx_, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(rx_[0], 2);
    EXPECT_FALSE(ec_iserror());
}

} // namespace
