// The robot's buses as layouts of the virtual bus:
//
//   "arm"   (6 slaves):  1 board, 2..6 arm axes 1..5
//   "robot" (11 slaves): 1 board, 2..5 wheel-base axes 1..4, 6 board, 7..11 arm axes 1..5
//
// The boards are plain slaves without mailbox or process data of their own. The arm carries
// TMCM-ZQ-841 on its three large joints (axes 1..3) and TMCM-1610 on the two wrist joints (axes 4,
// 5); the wheel base TMCM-174 on axes 1, 2 and TMCM-1632 on axes 3, 4, so the robot holds every
// model and a firmware update over it uses all four images.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/motorcontroller.h"
#include "core/layouts.h"

namespace sim {

// A chain together with the controller models on it, for tests that look behind the bus.
struct ControllerBus
{
    Chain chain;
    // Indexed by bus position (1-based); empty at a board and at index 0.
    std::vector<std::shared_ptr<MotorController>> controllers;

    // The controller at bus position `position`; throws std::out_of_range at a board.
    MotorController& controller(std::size_t position) const;
};

// A bus from one letter per slave: B a board, p TMCM-174, q TMCM-1632, a TMCM-ZQ-841,
// w TMCM-1610 ("BppqqBaaaww" is the robot). Throws std::invalid_argument for any other letter.
ControllerBus controllerBus(const std::string& slaves, const std::string& firmwareVersion = "1.48");

// Every controller runs `firmwareVersion` when the bus is built (cut or padded to four
// characters, as the controllers report it).
ControllerBus armBus(const std::string& firmwareVersion = "1.48");
ControllerBus robotBus(const std::string& firmwareVersion = "1.48");

// The bus of layout `name` ("arm" or "robot") with its controllers running `firmwareVersion`;
// nothing for any other name.
std::optional<ControllerBus> controllerLayout(
    const std::string& name, const std::string& firmwareVersion);

// Registers "arm" and "robot".
void registerControllerLayouts(LayoutRegistry& registry);

} // namespace sim
