// A bus of a plain slave followed by the CoE-only test slave, enumerated to PRE-OP, for the CoE
// tests. The CoE slave is slave 2, so that every exchange has to pass another slave first.
#pragma once

#include "coe/coeslave.h"
#include "core/layouts.h"
#include "simbus.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "ethercatcoe.h"
#include "ethercatconfig.h"
#include "ethercatmain.h"
#include "nicdrv.h"

class CoeBus : public ::testing::Test
{
protected:
    static constexpr uint16 Slave = 2;

    // Build the bus with these slave options; call at the start of a test (SetUp uses the default).
    void start(const sim::coe::CoeSlaveOptions &options = {})
    {
        sim::Chain chain;
        chain.add(sim::makePlainSlave(1));
        auto coe = sim::coe::makeCoeSlave(options);
        server = coe.server;
        chain.add(std::move(coe.slave));
        bus = std::make_unique<SimBus>(std::move(chain));
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(ec_config_init(FALSE), 2);
        ASSERT_EQ(ec_statecheck(Slave, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        drainErrors();
    }

    void TearDown() override
    {
        if (bus)
            ec_close();
        drainErrors();
    }

    static void drainErrors()
    {
        ec_errort e;
        while (ec_poperror(&e)) {
        }
    }

    // Every error list entry, oldest first; the list is empty afterwards.
    static std::vector<ec_errort> errors()
    {
        std::vector<ec_errort> list;
        ec_errort e;
        while (ec_poperror(&e))
            list.push_back(e);
        return list;
    }

    // The only error on the list, or nothing when there are none or several.
    static std::optional<ec_errort> onlyError()
    {
        auto list = errors();
        if (list.size() != 1)
            return std::nullopt;
        return list.front();
    }

    // The messages the CoE slave's write mailbox took so far.
    const std::vector<sim::Bytes> &received() { return bus->slave(Slave).mailbox().received(); }

    std::unique_ptr<SimBus> bus;
    std::shared_ptr<sim::coe::CoeServer> server;
};
