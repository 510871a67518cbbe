// A bus of a plain slave followed by the SoE-only test drive, enumerated to PRE-OP, for the SoE
// tests. The drive is slave 2.
#pragma once

#include "core/layouts.h"
#include "simbus.h"
#include "soe/soeslave.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "ethercatconfig.h"
#include "ethercatmain.h"
#include "ethercatsoe.h"
#include "nicdrv.h"

class SoeBus : public ::testing::Test
{
protected:
    static constexpr uint16 Slave = 2;

    void start(const sim::soe::SoeSlaveOptions &options = {})
    {
        sim::Chain chain;
        chain.add(sim::makePlainSlave(1));
        auto drive = sim::soe::makeSoeSlave(options);
        server = drive.server;
        chain.add(std::move(drive.slave));
        bus = std::make_unique<SimBus>(std::move(chain));
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(ec_config_init(FALSE), 2);
        ASSERT_EQ(ec_statecheck(Slave, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        errors();
    }

    void TearDown() override
    {
        if (bus)
            ec_close();
        errors();
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

    static std::optional<ec_errort> onlyError()
    {
        auto list = errors();
        if (list.size() != 1)
            return std::nullopt;
        return list.front();
    }

    std::unique_ptr<SimBus> bus;
    std::shared_ptr<sim::soe::SoeServer> server;
};
