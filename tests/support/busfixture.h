/*
 * A test fixture that puts a chain on the virtual bus, opens the master's port on it and closes
 * it again after the test.
 */
#ifndef TESTS_SUPPORT_BUSFIXTURE_H
#define TESTS_SUPPORT_BUSFIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "nicdrv.h"
#include "simbus.h"

class BusTest : public ::testing::Test
{
protected:
    void start(sim::Chain chain)
    {
        bus_ = std::make_unique<SimBus>(std::move(chain));
        ASSERT_GT(ec_init(SimBus::Primary), 0);
    }

    void TearDown() override
    {
        if (!bus_)
            return;
        ec_close();
        bus_.reset();
    }

    SimBus& bus() { return *bus_; }

    std::unique_ptr<SimBus> bus_;
};

#endif
