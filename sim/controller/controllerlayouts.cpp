// The "arm" and "robot" layouts.
#include "controller/controllerlayouts.h"

#include <stdexcept>

namespace sim {
namespace {

constexpr ControllerModel kArmAxes[] = {ControllerModel::TmcmZq841, ControllerModel::TmcmZq841,
                                        ControllerModel::TmcmZq841, ControllerModel::Tmcm1610,
                                        ControllerModel::Tmcm1610};
constexpr ControllerModel kWheelBaseAxes[] = {ControllerModel::Tmcm174, ControllerModel::Tmcm174,
                                              ControllerModel::Tmcm1632,
                                              ControllerModel::Tmcm1632};

void addBoard(ControllerBus &bus)
{
    bus.chain.add(makePlainSlave(bus.chain.size() + 1));
    bus.controllers.emplace_back();
}

template <std::size_t N>
void addAxes(ControllerBus &bus, const ControllerModel (&models)[N], const std::string &version)
{
    for (ControllerModel model : models)
        bus.controllers.push_back(MotorController::addTo(bus.chain, model, version));
}

ControllerBus emptyBus()
{
    ControllerBus bus;
    bus.controllers.emplace_back(); // position 0 is the master
    return bus;
}

} // namespace

MotorController &ControllerBus::controller(std::size_t position) const
{
    if (position >= controllers.size() || !controllers[position])
        throw std::out_of_range("no motor controller at this bus position");
    return *controllers[position];
}

ControllerBus armBus(const std::string &firmwareVersion)
{
    ControllerBus bus = emptyBus();
    addBoard(bus);
    addAxes(bus, kArmAxes, firmwareVersion);
    return bus;
}

ControllerBus robotBus(const std::string &firmwareVersion)
{
    ControllerBus bus = emptyBus();
    addBoard(bus);
    addAxes(bus, kWheelBaseAxes, firmwareVersion);
    addBoard(bus);
    addAxes(bus, kArmAxes, firmwareVersion);
    return bus;
}

std::optional<ControllerBus> controllerLayout(const std::string &name,
                                              const std::string &firmwareVersion)
{
    if (name == "arm")
        return armBus(firmwareVersion);
    if (name == "robot")
        return robotBus(firmwareVersion);
    return std::nullopt;
}

void registerControllerLayouts(LayoutRegistry &registry)
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
