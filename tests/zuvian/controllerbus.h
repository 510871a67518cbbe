// The "robot" bus with its controller models in reach, enumerated to PRE-OP through the master.
// Positions: 1 board, 2..5 wheel base, 6 board, 7..11 arm.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controller/controllerlayouts.h"
#include "ethercatconfig.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "simbus.h"
#include "zuvian.h"

#include <algorithm>

constexpr uint32 kPassword = 47193856;

/* The parameter types of `requests`, in order. */
inline std::vector<int> types(const std::vector<sim::CommandRequest>& requests)
{
    std::vector<int> out;
    for (const auto& r : requests)
        out.push_back(r.type);
    return out;
}

/* Passes the messages of one slave on to its handler and notes the slave's position in a log
 * shared by several slaves, so a test sees the order in which the master addressed them. */
class AddressLog : public sim::MailboxHandler
{
public:
    AddressLog(std::shared_ptr<sim::MailboxHandler> inner, int position,
        std::shared_ptr<std::vector<int>> log)
        : inner_(std::move(inner))
        , position_(position)
        , log_(std::move(log))
    {}
    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        log_->push_back(position_);
        inner_->onMessage(message, out);
    }

private:
    std::shared_ptr<sim::MailboxHandler> inner_;
    int position_;
    std::shared_ptr<std::vector<int>> log_;
};

class ControllerBusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bus_ = std::make_unique<SimBus>(sim::robotBus());
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(11, ec_config_init(0));
        ASSERT_EQ(EC_STATE_PRE_OP, ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE));
    }

    void TearDown() override
    {
        ec_close();
        bus_.reset();
    }

    sim::MotorController& axis(int position) { return bus_->controller(std::size_t(position)); }
    sim::Slave& slave(int position) { return bus_->slave(position); }

    /* What the master last wrote into the slave's write mailbox, whole. */
    sim::Bytes lastWritten(int position)
    {
        const auto& received = slave(position).mailbox().received();
        return received.empty() ? sim::Bytes{} : received.back();
    }

    /* A write mailbox holding `record` at its start and zeros behind it. */
    static sim::Bytes mailboxWith(std::initializer_list<uint8> record)
    {
        sim::Bytes mailbox(sim::controller_layout::MailboxSize, 0);
        std::copy(record.begin(), record.end(), mailbox.begin());
        return mailbox;
    }

    std::size_t requestCount(int position) { return axis(position).commands().requests().size(); }

    void unlock(int position) { ASSERT_EQ(1, writeParameter(position, 248, kPassword)); }

    std::unique_ptr<SimBus> bus_;
};
