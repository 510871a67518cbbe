// Controller buses built from letters, and the "arm" and "robot" layouts among them.
#include "controller/controllerlayouts.h"

#include <stdexcept>

namespace sim {

MotorController& ControllerBus::controller(std::size_t position) const
{
    if (position >= controllers.size() || !controllers[position])
        throw std::out_of_range("no motor controller at this bus position");
    return *controllers[position];
}

ControllerBus controllerBus(const std::string& slaves, const std::string& firmwareVersion)
{
    ControllerBus bus;
    bus.controllers.emplace_back(); // position 0 is the master
    for (char letter : slaves) {
        if (letter == 'B') {
            bus.chain.add(makePlainSlave(bus.chain.size() + 1));
            bus.controllers.emplace_back();
            continue;
        }
        ControllerModel model;
        switch (letter) {
        case 'p':
            model = ControllerModel::Tmcm174;
            break;
        case 'q':
            model = ControllerModel::Tmcm1632;
            break;
        case 'a':
            model = ControllerModel::TmcmZq841;
            break;
        case 'w':
            model = ControllerModel::Tmcm1610;
            break;
        default:
            throw std::invalid_argument(std::string("no slave is written '") + letter + "'");
        }
        bus.controllers.push_back(MotorController::addTo(bus.chain, model, firmwareVersion));
    }
    return bus;
}

ControllerBus armBus(const std::string& firmwareVersion)
{
    return controllerBus("Baaaww", firmwareVersion);
}

ControllerBus robotBus(const std::string& firmwareVersion)
{
    return controllerBus("BppqqBaaaww", firmwareVersion);
}

std::optional<ControllerBus> controllerLayout(
    const std::string& name, const std::string& firmwareVersion)
{
    if (name == "arm")
        return armBus(firmwareVersion);
    if (name == "robot")
        return robotBus(firmwareVersion);
    return std::nullopt;
}

void registerControllerLayouts(LayoutRegistry& registry)
{
    registry.add("arm",
        "the arm alone: a board, then arm axes 1..3 TMCM-ZQ-841 and 4..5 TMCM-1610 "
        "(6 slaves)",
        [] { return armBus().chain; });
    registry.add("robot",
        "wheel base and arm: a board, wheel-base axes 1..2 TMCM-174 and 3..4 TMCM-1632, "
        "a board, then the arm as in \"arm\" (11 slaves)",
        [] { return robotBus().chain; });
}

} // namespace sim
