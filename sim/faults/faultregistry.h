/*
 * Named faults of the virtual bus, switchable by name from tests and from zuvian-sim's command
 * line (`--fault NAME[:ARG...]`, repeatable). Each name installs one misbehaviour of the wire, a
 * slave or a motor controller on a bus; the catalogue lists them with their arguments.
 *
 *   sim::ControllerBus bus = sim::robotBus();
 *   sim::FaultSet faults;
 *   faults.install("power-loss:7:5000", bus.chain, bus.controllers);
 *   faults.install("late:20:3000", bus.chain, bus.controllers);
 *   link.setRule(faults.frameRule());       // the wire's faults need the link's frame rule
 *
 * Positions are 1-based bus positions. Faults on the wire (late, duplicated, echoed or garbled
 * frames, bursts of long round trips) act through a FrameRule; the others change the chain, a
 * slave or a controller at once and stay in force until the bus is dropped.
 */
#ifndef SIM_FAULTS_FAULTREGISTRY_H
#define SIM_FAULTS_FAULTREGISTRY_H

#include "controller/motorcontroller.h"
#include "core/chain.h"
#include "core/inprocesslink.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

struct FaultDescription
{
    std::string name;
    std::string args;
    std::string what;
};

/* Every fault the registry knows, in the order `--help` lists them. */
const std::vector<FaultDescription>& faultCatalogue();

class FaultSet
{
public:
    using Controllers = std::vector<std::shared_ptr<MotorController>>;

    /* Installs `spec` ("NAME" or "NAME:ARG:...") on `chain`, whose motor controllers are
     * `controllers` by bus position (empty entries elsewhere). Throws std::invalid_argument with
     * a text for the user when the name, an argument or a position does not fit. */
    void install(const std::string& spec, Chain& chain, const Controllers& controllers);

    /* The wire's faults installed so far as one rule: every rule's fate is merged. An empty rule
     * when there are none. */
    FrameRule frameRule() const;
    bool hasFrameRule() const { return !rules_.empty(); }

private:
    std::vector<FrameRule> rules_;
};

} // namespace sim

#endif
