/*
 * Mailbox SyncManagers and the slave's mailbox service: full flags, hand-over to the protocol
 * handler, replies, repeat request, per-state handlers and faults.
 */
#include "simtest.h"

#include <gtest/gtest.h>

#include <memory>

using namespace simtest;
using sim::Command;

namespace {

/* Answers each message with a tag byte followed by the message's first four bytes. */
class Echo : public sim::MailboxHandler
{
public:
    explicit Echo(std::uint8_t tag) : tag_(tag) {}
    void onMessage(const sim::Bytes &message, sim::MailboxReplies &out) override
    {
        messages.push_back(message);
        out.post({tag_, message[0], message[1], message[2], message[3]});
    }
    std::vector<sim::Bytes> messages;

private:
    std::uint8_t tag_;
};

class MailboxBus : public ::testing::Test
{
protected:
    void SetUp() override
    {
        slave = &chain.add(sim::Slave(mailboxSii()));
        slave->mailbox().setHandler(echo, {sim::AlState::PreOp, sim::AlState::SafeOp, sim::AlState::Op});
        addressAll(chain);
        ASSERT_EQ(toPreOp(chain, 1), 0x0002);
    }
    std::uint16_t send(const sim::Bytes &head)
    {
        sim::Bytes box(0x80, 0);
        std::copy(head.begin(), head.end(), box.begin());
        return exchange(chain, Command::Fpwr, station(1), 0x1000, box)->wkc;
    }
    std::uint8_t writeStatus() { return exchange(chain, Command::Fprd, station(1), 0x0805, 1)->data[0]; }
    std::uint16_t readStatus() { return word(exchange(chain, Command::Fprd, station(1), 0x080D, 2)->data); }
    std::optional<Reply> receive() { return exchange(chain, Command::Fprd, station(1), 0x1080, 0x80); }

    sim::Chain chain;
    sim::Slave *slave = nullptr;
    std::shared_ptr<Echo> echo = std::make_shared<Echo>(0xE1);
};

TEST_F(MailboxBus, FullFlagsFollowFirstAndLastByte)
{
    slave->mailboxFaults().holdWriteMailbox = true;
    // A write that does not reach the last byte leaves the mailbox empty.
    EXPECT_EQ(exchange(chain, Command::Fpwr, station(1), 0x1000, sim::Bytes(0x7F, 1))->wkc, 1);
    EXPECT_EQ(writeStatus() & 0x08, 0);
    EXPECT_EQ(exchange(chain, Command::Fpwr, station(1), 0x107F, sim::Bytes{1})->wkc, 1);
    EXPECT_EQ(writeStatus() & 0x08, 0x08);
    // While full, further writes are refused and the master cannot read it.
    EXPECT_EQ(send({9}), 0);
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x1000, 4)->wkc, 0);
    EXPECT_TRUE(echo->messages.empty());
    slave->mailboxFaults().holdWriteMailbox = false;
    EXPECT_EQ(writeStatus() & 0x08, 0x08); // the slave takes it behind this frame ...
    EXPECT_EQ(writeStatus() & 0x08, 0x00); // ... so the next one sees it empty
    ASSERT_EQ(echo->messages.size(), 1u);

    // A read that stops short of the last byte leaves the read mailbox full.
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x1080, 0x10)->wkc, 1);
    EXPECT_EQ(readStatus() & 0x08, 0x08);
    EXPECT_EQ(exchange(chain, Command::Fprd, station(1), 0x10FF, 1)->wkc, 1);
    EXPECT_EQ(readStatus() & 0x08, 0x00);
}

TEST_F(MailboxBus, DroppedDelayedAndNeverAnsweredReplies)
{
    slave->mailboxFaults().dropReplies = 1;
    send({1});
    EXPECT_EQ(readStatus() & 0x08, 0);
    send({2});
    EXPECT_EQ(receive()->data[1], 2);

    slave->mailboxFaults().delayPolls = 3;
    send({3});
    EXPECT_EQ(readStatus() & 0x08, 0);
    EXPECT_EQ(readStatus() & 0x08, 0);
    EXPECT_EQ(readStatus() & 0x08, 0); // third poll: posted behind it
    EXPECT_EQ(readStatus() & 0x08, 0x08);
    slave->mailboxFaults().delayPolls = 0;
    EXPECT_EQ(receive()->data[1], 3);

    slave->mailboxFaults().neverAnswer = true;
    send({4});
    EXPECT_EQ(writeStatus() & 0x08, 0); // taken ...
    EXPECT_EQ(readStatus() & 0x08, 0); // ... never answered
    EXPECT_EQ(slave->mailbox().received().size(), 4u);
}

TEST_F(MailboxBus, UnsolicitedMessagesQueueBeforeLaterReplies)
{
    slave->mailbox().post({0xEE, 0x01});
    send({7});
    EXPECT_EQ(receive()->data[0], 0xEE);
    EXPECT_EQ(receive()->data[0], 0xE1);
    EXPECT_EQ(slave->mailbox().pending(), 0u);
}

TEST_F(MailboxBus, RepliesAreCutOrPaddedToTheReadMailbox)
{
    struct Big : sim::MailboxHandler
    {
        void onMessage(const sim::Bytes &, sim::MailboxReplies &out) override { out.post(sim::Bytes(300, 0x5A)); }
    };
    slave->mailbox().setHandler(std::make_shared<Big>(), {sim::AlState::PreOp});
    send({1});
    auto r = receive();
    EXPECT_EQ(r->data, sim::Bytes(0x80, 0x5A));
}

TEST_F(MailboxBus, HandlersAreChosenByStateAndBootUsesTheBootstrapMailbox)
{
    auto boot = std::make_shared<Echo>(0xB0);
    slave->mailbox().setHandler(boot, {sim::AlState::Boot});
    requestState(chain, 1, 0x01);
    // In INIT the mailbox is out of use: nothing gets in.
    EXPECT_EQ(send({1}), 0);
    exchange(chain, Command::Fpwr, station(1), 0x0800, smBlock(0x1400, 0x100, 0x26, 0x01));
    exchange(chain, Command::Fpwr, station(1), 0x0808, smBlock(0x1600, 0x100, 0x22, 0x01));
    ASSERT_EQ(requestState(chain, 1, 0x03), 0x0003);
    EXPECT_EQ(exchange(chain, Command::Fpwr, station(1), 0x1400, sim::Bytes(0x100, 0x42))->wkc, 1);
    auto r = exchange(chain, Command::Fprd, station(1), 0x1600, 0x100);
    EXPECT_EQ(r->wkc, 1);
    EXPECT_EQ(r->data[0], 0xB0);
    EXPECT_EQ(boot->messages.size(), 1u);
    EXPECT_TRUE(echo->messages.empty());
}

TEST_F(MailboxBus, GoingToInitForgetsQueuedReplies)
{
    slave->mailboxFaults().delayPolls = 100;
    send({1});
    EXPECT_EQ(slave->mailbox().pending(), 1u);
    requestState(chain, 1, 0x01);
    EXPECT_EQ(slave->mailbox().pending(), 0u);
}

} // namespace
