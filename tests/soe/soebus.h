// The SoE-only test drive as slave 2 of a bus at PRE-OP, for the SoE tests.
#pragma once

#include "mailboxslavebus.h"
#include "soe/soeslave.h"

#include "ethercatsoe.h"

class SoeBus : public MailboxSlaveBus<sim::soe::SoeSlave>
{
protected:
    void start(const sim::soe::SoeSlaveOptions& options = {})
    {
        startWith(sim::soe::makeSoeSlave(options));
    }
};
