// Test slaves for the FoE tests: mailbox slaves with an FoE server behind them, built in code with
// the SII builder.
#pragma once

#include "core/chain.h"
#include "core/siibuilder.h"
#include "foe/foeserver.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace foetest {

// Standard mailbox of the test slaves: 512 bytes each way, so `maxdata` is 500.
constexpr std::uint16_t kMailboxOut = 0x1000;
constexpr std::uint16_t kMailboxIn = 0x1200;
constexpr std::uint16_t kMailboxSize = 0x200;
constexpr int kMaxData = kMailboxSize - 12;
// Bootstrap mailbox, placed elsewhere and sized differently so that a writer that forgets to
// switch to it is caught.
constexpr std::uint16_t kBootOut = 0x1800;
constexpr std::uint16_t kBootIn = 0x1C00;
constexpr std::uint16_t kBootSize = 0x100;
constexpr int kBootMaxData = kBootSize - 12;

// A mailbox slave named `name` whose FoE server answers in the given states; its standard
// mailbox holds `writeSize` bytes from the master and `readSize` bytes to it.
sim::Slave foeSlave(const std::string& name, std::shared_ptr<sim::FoeServer> server,
    std::initializer_list<sim::AlState> states, std::uint16_t writeSize = kMailboxSize,
    std::uint16_t readSize = kMailboxSize);

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed = 7);

} // namespace foetest
