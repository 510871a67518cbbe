// The four motor controller models of the robot and the SII image each carries: identity, exact
// name, standard and bootstrap mailbox, FMMU and SyncManager use, and process data in both
// directions (RXPDO 0x1600 into SyncManager 2, TXPDO 0x1A00 out of SyncManager 3).
#pragma once

#include <cstdint>
#include <string>

#include "core/frame.h"

namespace sim {

enum class ControllerModel { Tmcm174, Tmcm1632, TmcmZq841, Tmcm1610 };

struct ModelInfo
{
    std::string name; // as in the SII strings, e.g. "TMCM-ZQ-841"
    std::uint32_t productCode;
    std::string firmwareFile; // the FoE file name accepted in BOOT
    bool wheelBase; // false: an arm controller
};

ModelInfo modelInfo(ControllerModel model);

// Memory layout shared by every model.
namespace controller_layout {
constexpr std::uint32_t VendorId = 0x005A5601;
constexpr std::uint32_t Revision = 0x00010000;
constexpr std::uint16_t MailboxOut = 0x1000; // master to slave
constexpr std::uint16_t MailboxIn = 0x1080;
constexpr std::uint16_t MailboxSize = 0x80;
constexpr std::uint16_t BootMailboxOut = 0x1000;
constexpr std::uint16_t BootMailboxIn = 0x1200;
constexpr std::uint16_t BootMailboxSize = 0x200;
constexpr std::uint16_t Outputs = 0x1400; // SyncManager 2
constexpr std::uint16_t OutputBytes = 6; // target velocity (32 bit), control word (16 bit)
constexpr std::uint16_t Inputs = 0x1600; // SyncManager 3
constexpr std::uint16_t InputBytes = 10; // actual position, actual velocity (32 bit), status word
} // namespace controller_layout

// The SII image of one controller of `model` with serial number `serial`.
Bytes controllerSii(ControllerModel model, std::uint32_t serial = 0);

} // namespace sim
