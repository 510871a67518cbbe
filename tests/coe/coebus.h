// The CoE-only test slave as slave 2 of a bus at PRE-OP, for the CoE tests.
#pragma once

#include "coe/coeslave.h"
#include "mailboxslavebus.h"

#include "ethercatcoe.h"

#include <vector>

class CoeBus : public MailboxSlaveBus<sim::coe::CoeSlave>
{
protected:
    // Build the bus with these slave options; call at the start of a test.
    void start(const sim::coe::CoeSlaveOptions& options = {})
    {
        startWith(sim::coe::makeCoeSlave(options));
    }

    // The messages the CoE slave's write mailbox took so far.
    const std::vector<sim::Bytes>& received() { return bus->slave(Slave).mailbox().received(); }
};
