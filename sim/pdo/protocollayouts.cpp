/*
 * The robot's bus extended by the two test slaves that describe their process data only through a
 * mailbox protocol, so that both read-out paths of the master's mapping run next to the controllers.
 */
#include "coe/coeslave.h"
#include "controller/controllerlayouts.h"
#include "core/layouts.h"
#include "foe/filestore.h"
#include "soe/soeslave.h"

namespace sim {

void registerProtocolLayouts(LayoutRegistry& registry)
{
    registry.add("robot+protocols",
        "the \"robot\" layout followed by a slave whose process data only CoE describes and one "
        "whose process data only SoE describes (13 slaves)",
        [] {
            Chain chain = robotBus().chain;
            chain.add(coe::makeCoeSlave().slave);
            chain.add(soe::makeSoeSlave().slave);
            return chain;
        });
    registry.add("robot+files",
        "the \"robot\" layout followed by a slave that keeps every file it is sent by FoE in BOOT "
        "and reads it back (12 slaves)",
        [] {
            Chain chain = robotBus().chain;
            chain.add(makeFileStoreSlave().slave);
            return chain;
        });
}

} // namespace sim
