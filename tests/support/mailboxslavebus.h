/*
 * A bus of a plain slave followed by one mailbox slave with a protocol server behind it,
 * enumerated to PRE-OP. The mailbox slave is slave 2, so every exchange passes another slave
 * first. `Made` is what the slave factory returns: the slave and its server.
 */
#ifndef TESTS_SUPPORT_MAILBOXSLAVEBUS_H
#define TESTS_SUPPORT_MAILBOXSLAVEBUS_H

#include <gtest/gtest.h>

#include <memory>

#include "core/layouts.h"
#include "errorlist.h"
#include "ethercatconfig.h"
#include "nicdrv.h"
#include "simbus.h"

template <typename Made>
class MailboxSlaveBus : public ::testing::Test
{
protected:
    static constexpr uint16 Slave = 2;

    /* Put `made` on the bus behind a plain slave and enumerate; the error list starts empty. */
    void startWith(Made made)
    {
        server = made.server;
        sim::Chain chain;
        chain.add(sim::makePlainSlave(1));
        chain.add(std::move(made.slave));
        bus = std::make_unique<SimBus>(std::move(chain));
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(ec_config_init(FALSE), 2);
        ASSERT_EQ(ec_statecheck(Slave, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        popErrors();
    }

    /* Replace the server by scripted replies, for answers no honest server gives. */
    std::shared_ptr<ScriptedMailbox> scriptReplies()
    {
        auto script = std::make_shared<ScriptedMailbox>();
        bus->slave(Slave).mailbox().setHandler(script, {sim::AlState::PreOp});
        return script;
    }

    void TearDown() override
    {
        if (bus) {
            EXPECT_TRUE(countersAdvance(bus->slave(Slave).mailbox().received()));
            ec_close();
        }
        popErrors();
    }

    static std::vector<ec_errort> errors() { return popErrors(); }

    std::unique_ptr<SimBus> bus;
    decltype(Made::server) server;
};

#endif
